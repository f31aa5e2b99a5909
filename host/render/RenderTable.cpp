// The table's shader and render operations: shader nodes, render starts and the per-sample records
// that shaders read and write.
#include <cstring>

#include "host/HostHandles.h"
#include "host/HostTable.h"
#include "host/render/RenderObject.h"
#include "host/render/ShaderFile.h"
#include "host/render/ShaderNode.h"

namespace host {
namespace {

using render::ChannelData;
using render::RenderData;
using render::RenderInit;
using render::RenderObject;
using render::ShaderNode;

HstSettings* shaderSettings(void* node) {
    ShaderNode* n = ShaderNode::fromHandle(node);
    return n ? wrapSettings(n->settings) : nullptr;
}
HstDocument* shaderDocument(void* node) {
    ShaderNode* n = ShaderNode::fromHandle(node);
    return n ? toHandle(n->document()) : nullptr;
}
void* linkResolve(const HstSettings* s, int32_t key, HstDocument* doc, int32_t type) {
    if (!s || type != HOST_TYPE_SHADER) return nullptr;
    ShaderNode* n = ShaderNode::fromHandle(asSettings(s).getLink(key));
    if (!n || n->document() != fromHandle(doc)) return nullptr;
    return n;
}
int32_t shaderInsertChild(void* node, void* child, int32_t key) {
    ShaderNode* parent = ShaderNode::fromHandle(node);
    ShaderNode* c = ShaderNode::fromHandle(child);
    if (!parent || !c || c->isAncestorOf(parent)) return 0;
    if (c->parent() != parent) {
        std::unique_ptr<ShaderNode> owned = ShaderNode::unpark(c);
        if (!owned || !parent->insert(std::move(owned))) return 0;
    }
    parent->settings.setLink(key, c);
    return 1;
}
int32_t shaderMessage(void* node, int32_t type, void* data) {
    ShaderNode* n = ShaderNode::fromHandle(node);
    return n ? n->message(type, data) : 0;
}
int32_t fileVersion(void* file) { return file ? static_cast<render::ShaderFile*>(file)->version : 0; }
int32_t shaderConvertOldLink(void* node, void* file, int32_t key) {
    ShaderNode* n = ShaderNode::fromHandle(node);
    return n && file ? render::convertOldLink(*n, *static_cast<render::ShaderFile*>(file), key) : 0;
}
HstDocument* renderInitDocument(void* ri) { return ri ? toHandle(static_cast<RenderInit*>(ri)->document) : nullptr; }
void* renderInitNode(void* ri) { return ri ? static_cast<RenderInit*>(ri)->node : nullptr; }
int32_t shaderInitRender(void* node, void* ri) {
    ShaderNode* n = ShaderNode::fromHandle(node);
    if (!n || !ri) return 0;
    return n->initRender(static_cast<RenderInit*>(ri)->document);
}
void shaderFreeRender(void* node) {
    if (ShaderNode* n = ShaderNode::fromHandle(node)) n->freeRender();
}
// Called for every sample from the render threads: the node is one the host resolved at render start.
void shaderSample(void* node, void* cd, float colour[3]) {
    if (!node || !cd) {
        colour[0] = colour[1] = colour[2] = 0.0f;
        return;
    }
    static_cast<const ShaderNode*>(node)->sample(*static_cast<ChannelData*>(cd), colour);
}
void* channelRenderData(void* cd) { return cd ? static_cast<ChannelData*>(cd)->renderData : nullptr; }
int32_t channelHitId(void* cd) { return cd ? static_cast<ChannelData*>(cd)->hitId : -1; }
int32_t channelUvwSet(void* cd) { return cd ? static_cast<ChannelData*>(cd)->uvSet : 0; }
int32_t channelHitPlace(void* cd, double* w1, double* w2) {
    const auto* c = static_cast<ChannelData*>(cd);
    if (w1) *w1 = c ? c->w1 : 0.0;
    if (w2) *w2 = c ? c->w2 : 0.0;
    return c && c->second ? 1 : 0;
}
HstRenderObject* renderDataObject(void* rd) {
    return rd ? render::toHandle(static_cast<RenderData*>(rd)->object) : nullptr;
}
void renderDataSetNormal(void* rd, const double n[3]) {
    if (!rd || !n) return;
    auto* r = static_cast<RenderData*>(rd);
    r->normal = {n[0], n[1], n[2]};
    r->normalWritten = true;
}
int32_t robjUvwSetCount(HstRenderObject* ro) { return ro ? render::fromHandle(ro)->uvSetCount() : 0; }
int32_t robjPointCount(HstRenderObject* ro) {
    return ro ? static_cast<int32_t>(render::fromHandle(ro)->points.size() / 3) : 0;
}
int32_t robjPolygonCount(HstRenderObject* ro) {
    return ro ? static_cast<int32_t>(render::fromHandle(ro)->polygons.size()) : 0;
}
const float* robjPoints(HstRenderObject* ro) { return ro ? render::fromHandle(ro)->points.data() : nullptr; }
const HostPolygon* robjPolygons(HstRenderObject* ro) { return ro ? render::fromHandle(ro)->polygons.data() : nullptr; }
int32_t robjPolygonOfHit(HstRenderObject* ro, int32_t hit) {
    if (!ro) return -1;
    const RenderObject* r = render::fromHandle(ro);
    if (hit < 0 || hit >= static_cast<int32_t>(r->trianglePolygon.size())) return -1;
    return r->trianglePolygon[hit];
}
int32_t robjPolygonUvw(HstRenderObject* ro, int32_t set, int32_t polygon, float out[12]) {
    if (!ro || !out) return 0;
    const RenderObject* r = render::fromHandle(ro);
    if (set < 1 || set >= r->uvSetCount() || polygon < 0 || polygon >= static_cast<int32_t>(r->polygons.size()))
        return 0;
    const UVWRow& row = (*r->uvSets[set - 1])[polygon];
    for (int k = 0; k < 4; ++k) {
        out[3 * k] = row.corner(k).x;
        out[3 * k + 1] = row.corner(k).y;
        out[3 * k + 2] = row.corner(k).z;
    }
    return 1;
}
int32_t robjSmoothNormal(HstRenderObject* ro, int32_t polygon, const double position[3], double out[3]) {
    if (!ro || !position || !out) return 0;
    const RenderObject* r = render::fromHandle(ro);
    if (polygon < 0 || polygon >= static_cast<int32_t>(r->polygons.size())) return 0;
    const render::V3 n = r->smoothNormal(polygon, {position[0], position[1], position[2]});
    out[0] = n.x;
    out[1] = n.y;
    out[2] = n.z;
    return 1;
}

}  // namespace

void fillRenderApi(HostApi& t) {
    t.shaderSettings = shaderSettings;
    t.shaderDocument = shaderDocument;
    t.linkResolve = linkResolve;
    t.shaderInsertChild = shaderInsertChild;
    t.shaderMessage = shaderMessage;
    t.fileVersion = fileVersion;
    t.shaderConvertOldLink = shaderConvertOldLink;
    t.renderInitDocument = renderInitDocument;
    t.renderInitNode = renderInitNode;
    t.shaderInitRender = shaderInitRender;
    t.shaderFreeRender = shaderFreeRender;
    t.shaderSample = shaderSample;
    t.channelRenderData = channelRenderData;
    t.channelHitId = channelHitId;
    t.channelUvwSet = channelUvwSet;
    t.channelHitPlace = channelHitPlace;
    t.renderDataObject = renderDataObject;
    t.renderDataSetNormal = renderDataSetNormal;
    t.robjUvwSetCount = robjUvwSetCount;
    t.robjPointCount = robjPointCount;
    t.robjPolygonCount = robjPolygonCount;
    t.robjPoints = robjPoints;
    t.robjPolygons = robjPolygons;
    t.robjPolygonOfHit = robjPolygonOfHit;
    t.robjPolygonUvw = robjPolygonUvw;
    t.robjSmoothNormal = robjSmoothNormal;
}

}  // namespace host
