// Meshes for the reduction core's tests, built in code as host polygon objects inside a host
// document: a UV-mapped quad grid (open, with borders, optionally with a UV seam), a closed
// triangle mesh, and the bundled sample. Tags can be added to any of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/Document.h"
#include "host/HostHandles.h"
#include "host/Object.h"
#include "host/Tags.h"
#include "sources/HostPolygonObject.h"

namespace mixtest {

struct GridOptions {
    int columns = 8;         // quads across
    int rows = 8;            // quads down
    bool bumpy = true;       // heights vary, so that errors differ
    bool uvw = true;         // a UVW tag
    int seamColumn = -1;     // points of this column get other UVWs on the right-hand quads
    bool normals = false;    // a corner-normal tag
    bool pointSelection = false;  // a point-selection tag over the left half
    bool floatMap = false;        // a float map with the x coordinate
    bool polygonSelection = false;  // a polygon-selection tag over the lower half

    // A seamed grid that carries every kind of attribute the reduction transfers.
    static GridOptions withAllTags(int columns, int rows, int seamColumn) {
        GridOptions o;
        o.columns = columns;
        o.rows = rows;
        o.seamColumn = seamColumn;
        o.normals = true;
        o.pointSelection = true;
        o.floatMap = true;
        o.polygonSelection = true;
        return o;
    }
};

// A grid of (columns + 1) x (rows + 1) points in the x-y plane with heights in z.
host::PolygonObject* makeGrid(host::Document& doc, const GridOptions& options, const std::string& name = "grid");

// Two quads and a triangle in the x-y plane, every point used:
//   3---4---5
//   |   |   |  6      triangle (2, 6, 5)
//   0---1---2
host::PolygonObject* makeStrip(host::Document& doc);

// A closed triangle mesh: a UV sphere of `rings` x `segments`, poles as single points.
host::PolygonObject* makeSphere(host::Document& doc, int rings, int segments, bool uvw = true);

// The bundled sample mesh.
host::PolygonObject* loadSample(host::Document& doc);

// Adds a corner-normal tag with every corner's normal as the object's point normal x 32000.
void addNormals(host::PolygonObject& obj);
// Adds a UVW tag from the points' x and y (a planar projection).
host::UVWTag* addPlanarUvw(host::PolygonObject& obj, const std::string& name = "uvw");

inline HostPolygonObject view(host::PolygonObject* obj) { return HostPolygonObject(host::toHandle(obj)); }

// Every point, and every polygon, selected: the selections a whole-object reduction hands in.
struct WholeSets {
    host::SelectionSet points;
    host::SelectionSet polygons;
    explicit WholeSets(const host::PolygonObject& obj);
};

// A free-standing host selection made through the host table, filled from a host set.
class ModuleSet {
public:
    explicit ModuleSet(const host::SelectionSet& from);
    ~ModuleSet();
    ModuleSet(const ModuleSet&) = delete;
    ModuleSet& operator=(const ModuleSet&) = delete;
    HostSelection view() const { return HostSelection(handle_); }

private:
    HstSelection* handle_ = nullptr;
};

}  // namespace mixtest
