#include "host/studio/StudioEncoding.h"

#include <stb_image_write.h>

#include <cstring>

#include "host/Tags.h"

namespace host::studio {
namespace {

void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void putFloat(std::string& out, float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    put32(out, v);
}

}  // namespace

std::string encodeMesh(const PolygonObject& o) {
    const UVWTag* uv = static_cast<const UVWTag*>(o.tag(TAG_UVW));
    const NormalTag* normals = static_cast<const NormalTag*>(o.tag(TAG_NORMALS));
    const bool hasUv = uv && uv->elementCount() == o.polygonCount();
    const bool hasNormals = normals && normals->elementCount() == o.polygonCount();
    std::string out = "VXM1";
    out.reserve(16 + o.points.size() * 12 + o.polygons.size() * (16 + (hasUv ? 32 : 0) + (hasNormals ? 48 : 0)));
    put32(out, static_cast<uint32_t>(o.pointCount()));
    put32(out, static_cast<uint32_t>(o.polygonCount()));
    const bool hasSelection = o.polygonSelection.count() > 0;
    put32(out, (hasUv ? 1u : 0u) | (hasNormals ? 2u : 0u) | (hasSelection ? 4u : 0u));
    for (const Vec3f& p : o.points) {
        putFloat(out, p.x);
        putFloat(out, p.y);
        putFloat(out, p.z);
    }
    for (const Polygon& p : o.polygons)
        for (int c : {p.a, p.b, p.c, p.d}) put32(out, static_cast<uint32_t>(c));
    if (hasUv)
        for (const UVWRow& row : uv->data)
            for (int k = 0; k < 4; ++k) {
                putFloat(out, row.corner(k).x);
                putFloat(out, row.corner(k).y);
            }
    if (hasNormals)
        for (const NormalRow& row : normals->data)
            for (int16_t v : row.v) putFloat(out, static_cast<float>(v) / 32000.0f);
    if (hasSelection) {
        for (int i = 0; i < o.polygonCount(); ++i) out.push_back(o.polygonSelection.isSelected(i) ? 1 : 0);
        while (out.size() % 4 != 0) out.push_back(0);
    }
    return out;
}

std::unique_ptr<PolygonObject> shownCopy(const PolygonObject& o) {
    std::unique_ptr<Object> copy = o.cloneAlone();
    auto* p = static_cast<PolygonObject*>(copy.get());
    std::vector<int> polygonRemap(p->polygons.size(), -1), pointRemap(p->points.size(), -1);
    int polygons = 0, points = 0;
    for (size_t i = 0; i < p->polygons.size(); ++i) {
        const Polygon& q = p->polygons[i];
        if (q.a == q.b) continue;
        polygonRemap[i] = polygons++;
        for (int c : {q.a, q.b, q.c, q.d})
            if (c >= 0 && c < p->pointCount()) pointRemap[c] = 0;
    }
    for (int& r : pointRemap)
        if (r == 0) r = points++;
    p->compact(pointRemap, points, polygonRemap, polygons);
    copy.release();
    return std::unique_ptr<PolygonObject>(p);
}

std::string encodePng(const Bitmap& b) {
    if (b.empty()) return {};
    const int w = b.width(), h = b.height(), ch = b.channels();
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * ch);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < ch; ++c) pixels[(static_cast<size_t>(y) * w + x) * ch + c] = b.get8(x, y, c);
    std::string out;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<size_t>(size));
        },
        &out, w, h, ch, pixels.data(), w * ch);
    return out;
}

}  // namespace host::studio
