#include "shader/OMBShader85.h"

#include <cmath>

#include "shader/NMVertex.h"
#include "shader/TangentFrame.h"
#include "sources/HostMemory.h"
#include "sources/Module.h"

namespace {

// A colour component c stands for (c · 255 − 127.5) / 127.5.
constexpr double kDecodeScale = 0.00784313725490196;

double decode(float c) { return (static_cast<double>(c) * 255.0 - 127.5) * kDecodeScale; }

// The tangent-frame path: builds the frame of the hit triangle and writes the shading normal.
// False when the sample does not have what the path needs.
bool writeFrameNormal(const HostApi* api, void* channelData, const NMVec3& n) {
    void* renderData = api->channelRenderData(channelData);
    if (renderData == nullptr) return false;
    HstRenderObject* ro = api->renderDataObject(renderData);
    if (ro == nullptr) return false;
    const int32_t set = api->channelUvwSet(channelData);
    if (set < 1 || set >= api->robjUvwSetCount(ro)) return false;

    // The hit polygon and its texture coordinates in the set. A hit the host cannot place, or a
    // polygon naming points that do not exist, leaves the sample on the colour path.
    const int32_t polygon = api->robjPolygonOfHit(ro, api->channelHitId(channelData));
    if (polygon < 0 || polygon >= api->robjPolygonCount(ro)) return false;
    const HostPolygon* polygons = api->robjPolygons(ro);
    const float* points = api->robjPoints(ro);
    const int32_t pointCount = api->robjPointCount(ro);
    if (polygons == nullptr || points == nullptr) return false;
    const HostPolygon& p = polygons[polygon];
    if (!cornersWithin(p, pointCount)) return false;
    float uvw[12];
    if (api->robjPolygonUvw(ro, set, polygon, uvw) == 0) return false;

    // The triangle the hit lies in: a, b, c, or a quad's second triangle a, d, c.
    double w1 = 0.0, w2 = 0.0;
    const bool second = api->channelHitPlace(channelData, &w1, &w2) != 0;
    const int32_t corner[3] = {p.a, second ? p.d : p.b, p.c};
    const int32_t uvCorner[3] = {0, second ? 3 : 1, 2};

    NMTriangle tri;
    NMVec3 pos[3];
    for (int k = 0; k < 3; ++k) pos[k] = pointAt(points, corner[k]);
    makeTriangle(tri, pos[0], pos[1], pos[2]);
    for (int k = 0; k < 3; ++k) {
        const double at[3] = {pos[k].x, pos[k].y, pos[k].z};
        double normal[3] = {0.0, 0.0, 0.0};
        if (api->robjSmoothNormal(ro, polygon, at, normal) == 0) return false;
        tri.v[k].normal = {normal[0], normal[1], normal[2]};
        const float* t = uvw + 3 * uvCorner[k];
        tri.v[k].uvw = {t[0], t[1], t[2]};
    }
    computeFrames(tri);

    // The three frames blended component by component (not normalised afterwards).
    const double w0 = 1.0 - w1 - w2;
    TangentFrame f;
    f.n = tri.v[0].normal * w0 + tri.v[1].normal * w1 + tri.v[2].normal * w2;
    f.t = tri.v[0].tangent * w0 + tri.v[1].tangent * w1 + tri.v[2].tangent * w2;
    f.b = tri.v[0].bitangent * w0 + tri.v[1].bitangent * w1 + tri.v[2].bitangent * w2;

    const NMVec3 v = normalize(fromTangentSpace(f, n));
    const double out[3] = {v.x, v.y, v.z};
    api->renderDataSetNormal(renderData, out);
    return true;
}

}  // namespace

int32_t OMBShader85::init(void* node) {
    child = nullptr;
    const HostApi* api = moduleApi();
    if (node != nullptr) api->setsSetLink(api->shaderSettings(node), OMBSHADER_TEXTURE, nullptr);
    return 1;
}

int32_t OMBShader85::read(void* node, void* file, int32_t /*level*/) {
    const HostApi* api = moduleApi();
    if (api->fileVersion(file) < HOST_FILE_VERSION_LINKS)
        return api->shaderConvertOldLink(node, file, OMBSHADER_TEXTURE) != 0 ? 1 : 0;
    return 1;
}

int32_t OMBShader85::message(void* node, int32_t type, void* data) {
    const HostApi* api = moduleApi();
    if (node == nullptr) return 1;
    if (type == HOST_MSG_LINK_SHADER && data != nullptr) api->shaderInsertChild(node, data, OMBSHADER_TEXTURE);
    void* linked = api->linkResolve(api->shaderSettings(node), OMBSHADER_TEXTURE, api->shaderDocument(node),
                                    HOST_TYPE_SHADER);
    if (linked != nullptr) api->shaderMessage(linked, type, data);
    return 1;
}

int32_t OMBShader85::initRender(void* renderInit) {
    const HostApi* api = moduleApi();
    void* node = api->renderInitNode(renderInit);
    child = node == nullptr ? nullptr
                            : api->linkResolve(api->shaderSettings(node), OMBSHADER_TEXTURE,
                                               api->renderInitDocument(renderInit), HOST_TYPE_SHADER);
    if (child == nullptr) return 0;
    return api->shaderInitRender(child, renderInit);
}

void OMBShader85::freeRender() {
    if (child != nullptr) moduleApi()->shaderFreeRender(child);
    child = nullptr;
}

void OMBShader85::output(void* channelData, float colour[3]) {
    colour[0] = colour[1] = colour[2] = 1.0f;
    if (child == nullptr) return;
    const HostApi* api = moduleApi();

    float c[3] = {0.5f, 0.5f, 0.5f};
    api->shaderSample(child, channelData, c);
    const NMVec3 n = {decode(c[0]), decode(c[1]), decode(c[2])};

    if (writeFrameNormal(api, channelData, n)) return;

    const NMVec3 u = normalize(n);
    colour[0] = static_cast<float>(u.x * 0.5 + 0.5);
    colour[1] = static_cast<float>(u.y * 0.5 + 0.5);
    colour[2] = static_cast<float>(u.z * 0.5 + 0.5);
}

HostShaderBase* allocateOMBShader85() { return hostNew<OMBShader85>("OMBShader85", __LINE__); }
