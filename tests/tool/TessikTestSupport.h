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
#include "tests/mixkit/UnTriagTestSupport.h"
#include "tests/support/GridMesh.h"
#include "tool/TessikContext.h"

namespace tessiktest {

using untritest::makeObject;
using untritest::view;

// Point index of grid position (i, j) in a grid of `columns` squares across.
using testsupport::gridPoint;

// columns x rows unit squares in the x-y plane at z = 0, each split along its (i, j)-(i+1, j+1)
// diagonal into (p00, p10, p11) (index 2 * square) and (p00, p11, p01) (index 2 * square + 1).
inline host::PolygonObject* makeTriangleGrid(host::Document& doc, int columns, int rows) {
    auto obj = testsupport::gridObject(
        "triangles", columns, rows,
        [](int i, int j) { return host::Vec3f{static_cast<float>(i), static_cast<float>(j), 0.0f}; },
        testsupport::GridCells::Triangles);
    return static_cast<host::PolygonObject*>(doc.insert(std::move(obj)));
}

// columns x rows quads (p00, p10, p11, p01) in the x-y plane, scaled by `scale`, with heights
// 0.15 * sin(1.3 i) * cos(0.9 j) (times `scale`) unless flat. Quad index j * columns + i.
inline host::PolygonObject* makeQuadGrid(host::Document& doc, int columns, int rows, bool flat = false,
                                         double scale = 1.0, const std::string& name = "quads") {
    auto obj = testsupport::gridObject(name, columns, rows, [flat, scale](int i, int j) {
        const double z = flat ? 0.0 : 0.15 * std::sin(1.3 * i) * std::cos(0.9 * j);
        return host::Vec3f{static_cast<float>(i * scale), static_cast<float>(j * scale), static_cast<float>(z * scale)};
    });
    return static_cast<host::PolygonObject*>(doc.insert(std::move(obj)));
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
