// Grid meshes built in code as host polygon objects, for the suites and the benchmarks: the points
// of a regular grid placed by a function, its cells as quads or triangle pairs, texture coordinates
// per cell corner (the seamed layout with two islands among them), and the tags the reduction and
// the brush carry along. Each suite keeps its own surfaces and tag choices; how a grid is put
// together lives here.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/Geometry.h"
#include "host/Object.h"
#include "host/Tags.h"

namespace testsupport {

// Index of grid point (i, j) in a grid `columns` cells across: points go row by row.
inline int gridPoint(int columns, int i, int j) { return j * (columns + 1) + i; }

enum class GridCells {
    Quads,          // cell (i, j) is the quad (p00, p10, p11, p01), polygon j * columns + i
    Triangles,      // cell c is (p00, p10, p11) and (p00, p11, p01), polygons 2c and 2c + 1
    AlternateCuts,  // as Triangles where i + j is even, else (p00, p10, p01) and (p10, p11, p01)
};

// Position of grid point (i, j).
using GridPointFn = std::function<host::Vec3f(int i, int j)>;

// A grid of columns × rows cells over (columns + 1) × (rows + 1) points, not yet in a document.
inline std::unique_ptr<host::PolygonObject> gridObject(const std::string& name, int columns, int rows,
                                                       const GridPointFn& point, GridCells cells = GridCells::Quads) {
    auto obj = std::make_unique<host::PolygonObject>(name);
    obj->points.reserve(static_cast<size_t>(columns + 1) * (rows + 1));
    for (int j = 0; j <= rows; ++j)
        for (int i = 0; i <= columns; ++i) obj->points.push_back(point(i, j));
    obj->polygons.reserve(static_cast<size_t>(columns) * rows * (cells == GridCells::Quads ? 1 : 2));
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) {
            const int p00 = gridPoint(columns, i, j), p10 = gridPoint(columns, i + 1, j);
            const int p11 = gridPoint(columns, i + 1, j + 1), p01 = gridPoint(columns, i, j + 1);
            if (cells == GridCells::Quads) {
                obj->polygons.push_back({p00, p10, p11, p01});
            } else if (cells == GridCells::Triangles || (i + j) % 2 == 0) {
                obj->polygons.push_back({p00, p10, p11, p11});
                obj->polygons.push_back({p00, p11, p01, p01});
            } else {
                obj->polygons.push_back({p00, p10, p01, p01});
                obj->polygons.push_back({p10, p11, p01, p01});
            }
        }
    obj->resize(obj->pointCount(), obj->polygonCount());
    return obj;
}

// Texture coordinates at grid point (i, j) as seen from cell (cellI, cellJ): a cell may give the
// points on its border coordinates of its own (a seam).
using GridUvFn = std::function<host::Vec3f(int cellI, int cellJ, int i, int j)>;

// The same coordinates for every cell: (i / columns, j / rows), worked in double.
inline GridUvFn unitSquareUv(int columns, int rows) {
    return [columns, rows](int, int, int i, int j) {
        return host::Vec3f{static_cast<float>(static_cast<double>(i) / columns),
                           static_cast<float>(static_cast<double>(j) / rows), 0.0f};
    };
}

// Two islands side by side, the left half of the unit square for cells left of `seamColumn` and the
// right half for the others: u = i / (2 columns) (+ 0.5 from the seam on), v = j / rows. Points of
// the seam column get two coordinates. A seam column below 0 gives one island.
inline GridUvFn seamedUv(int columns, int rows, int seamColumn) {
    return [columns, rows, seamColumn](int cellI, int, int i, int j) {
        const float shift = seamColumn >= 0 && cellI >= seamColumn ? 0.5f : 0.0f;
        return host::Vec3f{static_cast<float>(i) / (2.0f * columns) + shift, static_cast<float>(j) / rows, 0.0f};
    };
}

// A UVW tag over a grid made by gridObject with the same columns, rows and cells: each corner of a
// cell's polygons gets uv(cell, corner point).
inline host::UVWTag* addGridUvw(host::PolygonObject& obj, int columns, int rows, const GridUvFn& uv,
                                GridCells cells = GridCells::Quads, const std::string& name = "uv") {
    auto tag = std::make_unique<host::UVWTag>(name, obj.polygonCount());
    const int perCell = cells == GridCells::Quads ? 1 : 2;
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) {
            const host::Vec3f t00 = uv(i, j, i, j), t10 = uv(i, j, i + 1, j);
            const host::Vec3f t11 = uv(i, j, i + 1, j + 1), t01 = uv(i, j, i, j + 1);
            host::UVWRow* row = &tag->data[static_cast<size_t>(perCell) * (static_cast<size_t>(j) * columns + i)];
            if (cells == GridCells::Quads) {
                *row = {t00, t10, t11, t01};
            } else if (cells == GridCells::Triangles || (i + j) % 2 == 0) {
                row[0] = {t00, t10, t11, t11};
                row[1] = {t00, t11, t01, t01};
            } else {
                row[0] = {t00, t10, t01, t01};
                row[1] = {t10, t11, t01, t01};
            }
        }
    host::UVWTag* raw = tag.get();
    obj.addTag(std::move(tag));
    return raw;
}

// A corner-normal tag with every corner's normal straight up (0, 0, 32000).
inline host::NormalTag* addUpNormals(host::PolygonObject& obj, const std::string& name = "normals") {
    auto tag = std::make_unique<host::NormalTag>(name, obj.polygonCount());
    for (host::NormalRow& r : tag->data)
        for (int k = 0; k < 4; ++k) r.v[3 * k + 2] = 32000;
    host::NormalTag* raw = tag.get();
    obj.addTag(std::move(tag));
    return raw;
}

// A point- or polygon-selection tag holding the elements for which `selected(index)` is true.
inline host::SelectionTag* addSelection(host::PolygonObject& obj, int32_t type, const std::string& name,
                                        const std::function<bool(int)>& selected) {
    const int count = type == host::TAG_POINT_SELECTION ? obj.pointCount() : obj.polygonCount();
    auto tag = std::make_unique<host::SelectionTag>(type, name, count);
    for (int i = 0; i < count; ++i)
        if (selected(i)) tag->set.select(i);
    host::SelectionTag* raw = tag.get();
    obj.addTag(std::move(tag));
    return raw;
}

// A per-point float map holding value(point index).
inline host::FloatMapTag* addFloatMap(host::PolygonObject& obj, const std::string& name,
                                      const std::function<float(int)>& value) {
    auto tag = std::make_unique<host::FloatMapTag>(name, obj.pointCount());
    for (int i = 0; i < obj.pointCount(); ++i) tag->data[i] = value(i);
    host::FloatMapTag* raw = tag.get();
    obj.addTag(std::move(tag));
    return raw;
}

}  // namespace testsupport
