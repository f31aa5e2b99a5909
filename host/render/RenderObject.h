// What the renderer keeps of one polygon object: its points in world space, its polygons, the
// triangles handed to the ray queries, smooth normals at every polygon corner, its UVW sets and its
// material. The per-sample records (render data and channel data) point into it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/Object.h"
#include "host/render/RenderMath.h"
#include "sources/HostInterface.h"

namespace host::render {

class ShaderNode;

// A surface's look: a colour, an optional shader whose colour multiplies it (and which may write
// the shading normal), the UVW set its textures read, and a Blinn highlight.
struct Material {
    V3 colour{0.8, 0.8, 0.8};
    ShaderNode* shader = nullptr;  // not owned
    int32_t uvSet = 1;             // 1 = the object's first UVW tag; 0 = none
    double specular = 0.25;
    double shininess = 40.0;
};

struct RenderObject {
    const PolygonObject* source = nullptr;
    const Material* material = nullptr;
    std::vector<float> points;               // world space, 3 per point
    std::vector<HostPolygon> polygons;       // as the object has them (dead ones included)
    std::vector<float> cornerNormals;        // 12 per polygon: unit smooth normals at a, b, c, d
    std::vector<const std::vector<UVWRow>*> uvSets;  // set L is uvSets[L - 1]
    std::vector<uint32_t> triangles;         // 3 point indices per triangle
    std::vector<int32_t> trianglePolygon;    // the polygon of each triangle
    std::vector<uint8_t> triangleSecond;     // 1 for a quad's second triangle (a, c, d)
    Bounds bounds;

    // Builds everything from the object, placed by its global matrix. Smooth normals follow the
    // smoothing tag's angle limit (every face at a point counts when there is no limit); the
    // corner-normal tag is not read, as the baker does not read it either, so that a map baked
    // over the object's smooth normals is read back over the same normals.
    void build(const PolygonObject& object, const Material* m);
    int32_t uvSetCount() const { return static_cast<int32_t>(uvSets.size()) + 1; }
    // The smooth normal of `polygon` at the corner whose point lies at `position` (the nearest
    // corner when none lies exactly there).
    V3 smoothNormal(int32_t polygon, const V3& position) const;
    V3 point(int32_t i) const { return {points[3 * i], points[3 * i + 1], points[3 * i + 2]}; }
};

// The render data of one sample: the object hit and the shading normal a shader may write.
struct RenderData {
    const RenderObject* object = nullptr;
    V3 normal;
    bool normalWritten = false;
};

// The channel data of one sample, as shaders read it.
struct ChannelData {
    RenderData* renderData = nullptr;
    int32_t hitId = -1;       // the triangle hit, in its object
    int32_t uvSet = 0;        // the current texture's UVW set
    bool second = false;      // in a quad's second triangle
    double w1 = 0.0, w2 = 0.0;  // weights of the hit triangle's second and third corner (a, d, c order for second)
    double u = 0.0, v = 0.0;  // texture coordinates of the hit in uvSet
};

inline HstRenderObject* toHandle(const RenderObject* r) {
    return reinterpret_cast<HstRenderObject*>(const_cast<RenderObject*>(r));
}
inline const RenderObject* fromHandle(HstRenderObject* r) { return reinterpret_cast<const RenderObject*>(r); }

}  // namespace host::render
