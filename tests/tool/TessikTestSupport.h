// Meshes and helpers of the brush's tests: a flat triangle grid whose inner points all have six
// triangles, a bumpy quad grid, and a drag context set up over an object of a host document.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "host/Document.h"
#include "host/HostHandles.h"
#include "host/Object.h"
#include "host/Tags.h"
#include "tests/reduction/UnTriagTestSupport.h"
#include "tool/TessikContext.h"

namespace tessiktest {

using untritest::makeObject;
using untritest::view;

// Point index of grid position (i, j) in a grid of `columns` squares across.
inline int gridPoint(int columns, int i, int j) { return j * (columns + 1) + i; }

// columns x rows unit squares in the x-y plane at z = 0, each split along its (i, j)-(i+1, j+1)
// diagonal into (p00, p10, p11) (index 2 * square) and (p00, p11, p01) (index 2 * square + 1).
inline host::PolygonObject* makeTriangleGrid(host::Document& doc, int columns, int rows) {
    std::vector<host::Vec3f> points;
    for (int j = 0; j <= rows; ++j)
        for (int i = 0; i <= columns; ++i) points.push_back({static_cast<float>(i), static_cast<float>(j), 0.0f});
    std::vector<host::Polygon> polygons;
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) {
            const int p00 = gridPoint(columns, i, j), p10 = gridPoint(columns, i + 1, j);
            const int p11 = gridPoint(columns, i + 1, j + 1), p01 = gridPoint(columns, i, j + 1);
            polygons.push_back({p00, p10, p11, p11});
            polygons.push_back({p00, p11, p01, p01});
        }
    return makeObject(doc, points, polygons, "triangles");
}

// columns x rows quads (p00, p10, p11, p01) in the x-y plane, scaled by `scale`, with heights
// 0.15 * sin(1.3 i) * cos(0.9 j) (times `scale`) unless flat. Quad index j * columns + i.
inline host::PolygonObject* makeQuadGrid(host::Document& doc, int columns, int rows, bool flat = false,
                                         double scale = 1.0, const std::string& name = "quads") {
    std::vector<host::Vec3f> points;
    for (int j = 0; j <= rows; ++j)
        for (int i = 0; i <= columns; ++i) {
            const double z = flat ? 0.0 : 0.15 * std::sin(1.3 * i) * std::cos(0.9 * j);
            points.push_back({static_cast<float>(i * scale), static_cast<float>(j * scale), static_cast<float>(z * scale)});
        }
    std::vector<host::Polygon> polygons;
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i)
            polygons.push_back({gridPoint(columns, i, j), gridPoint(columns, i + 1, j),
                                gridPoint(columns, i + 1, j + 1), gridPoint(columns, i, j + 1)});
    return makeObject(doc, points, polygons, name);
}

// A context over `obj` with the brush's default settings except those given.
struct Context {
    TessikContext context;
    explicit Context(host::PolygonObject* obj, float maxError = 1e30f, int32_t maxNeighbours = 10,
                     bool checkFolds = true) {
        ok = context.setup(view(obj));
        context.maxError = maxError;
        context.maxNeighbours = maxNeighbours;
        context.checkFolds = checkFolds ? 1 : 0;
    }
    bool ok = false;
};

inline bool isRemoved(const host::Polygon& p) { return p.a == 0 && p.b == 0 && p.c == 0 && p.d == 0; }

inline bool uses(const host::Polygon& p, int point) {
    return p.a == point || p.b == point || p.c == point || p.d == point;
}

}  // namespace tessiktest
