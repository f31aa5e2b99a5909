// Turning the vertex streams of interchange formats into polygon objects, and back.
//
// Most interchange formats store a mesh as vertices that carry every attribute at once (position,
// texture coordinates, normal), so a point on a UV or normal seam is stored once per side. Our
// objects share points between polygons and keep texture coordinates and normals per corner. The
// builder welds vertices whose positions are exactly equal (float ==, so 0 and -0 meet and NaN meets
// nothing) into one point, and hands each corner its own vertex's attributes, so seams survive as
// differing corner values. The splitter does the opposite for writers: one vertex per distinct
// combination of point, texture coordinates and normal.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/Object.h"

namespace host::formats {

// One mesh as a format stores it: per-vertex streams and polygons over vertex indices.
struct VertexMesh {
    std::string name;
    std::vector<Vec3f> positions;
    // Texture coordinate sets, each with one entry per vertex, and their names (for the UVW tags).
    std::vector<std::vector<Vec3f>> uvSets;
    std::vector<std::string> uvNames;
    // One normal per vertex, or empty when the mesh has none.
    std::vector<Vec3f> normals;
    // Per-vertex float attributes, each with one value per vertex.
    std::vector<std::vector<float>> floatMaps;
    std::vector<std::string> floatMapNames;
    // Polygons: corner counts and the vertex indices of all corners one after the other.
    std::vector<uint32_t> cornerCounts;
    std::vector<uint32_t> corners;
    // Per polygon: index into groupNames, or -1 for none. Empty when the mesh has no groups.
    std::vector<int32_t> polygonGroups;
    std::vector<std::string> groupNames;
};

// What welding did to one object.
struct WeldResult {
    std::string object;
    int vertices = 0;           // vertices in the file
    int points = 0;             // points after welding
    int droppedPolygons = 0;    // polygons left with fewer than three distinct points, or out of range
};

// The stored corner-normal row value of a normal: unit vector times 32000, rounded (a zero or
// non-finite vector gives zeros).
void quantizeNormal(const Vec3f& n, int16_t out[3]);

// Builds a polygon object: welds vertices into points, keeps triangles and quads, cuts larger
// polygons into a fan of quads around the first corner (ending in a triangle), and gives it a UVW tag
// per texture set, a normal tag when the mesh has normals, a float map per attribute and a
// polygon-selection tag per group. Polygons with a corner out of range or with fewer than three
// distinct points after welding are dropped and counted.
std::unique_ptr<PolygonObject> buildPolygonObject(const VertexMesh& mesh, WeldResult* weld);

// The vertices a vertex-stream writer needs for one object: one per distinct (point, texture
// coordinates of every UVW tag, corner normal) of the live polygons' corners.
struct SplitMesh {
    std::vector<int> vertexPoint;                    // the point of each vertex
    std::vector<std::vector<Vec3f>> uvSets;          // per UVW tag, one value per vertex
    std::vector<std::string> uvNames;
    std::vector<Vec3f> normals;                      // unit normals per vertex, empty without a normal tag
    std::vector<std::vector<float>> floatMaps;       // per float-map tag, one value per vertex
    std::vector<std::string> floatMapNames;
    // Live polygons (a != b) in order: their corner vertices (3 or 4) and their original index.
    std::vector<std::array<int, 4>> polygons;         // d == -1 for a triangle
    std::vector<int> polygonIndex;
};
SplitMesh splitVertices(const PolygonObject& object);

// The global placement of an object is the identity.
bool isIdentity(const Matrix& m);

}  // namespace host::formats
