#include "host/studio/StudioEncoding.h"

#include <stb_image_write.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "host/Tags.h"

namespace host::studio {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the page reads the mesh as little-endian words: a big-endian host would swap them here");

// Writes 32-bit words into a buffer sized beforehand: a million-polygon mesh is millions of words,
// each written whole instead of pushed a byte at a time.
class WordWriter {
public:
    explicit WordWriter(char* at) : at_(at) {}
    void word(uint32_t v) { put(&v); }
    void real(float f) { put(&f); }

private:
    void put(const void* v) {
        std::memcpy(at_, v, 4);
        at_ += 4;
    }
    char* at_;
};

}  // namespace

std::string encodeMesh(const PolygonObject& o) {
    const UVWTag* uv = static_cast<const UVWTag*>(o.tag(TAG_UVW));
    const NormalTag* normals = static_cast<const NormalTag*>(o.tag(TAG_NORMALS));
    const bool hasUv = uv && uv->elementCount() == o.polygonCount();
    const bool hasNormals = normals && normals->elementCount() == o.polygonCount();
    const bool hasSelection = o.polygonSelection.count() > 0;
    const size_t polygons = o.polygons.size();
    const size_t selectionBytes = hasSelection ? (polygons + 3) / 4 * 4 : 0;
    std::string out(16 + o.points.size() * 12 + polygons * (16 + (hasUv ? 32 : 0) + (hasNormals ? 48 : 0)) +
                        selectionBytes,
                    '\0');
    std::memcpy(out.data(), "VXM1", 4);
    WordWriter w(out.data() + 4);
    w.word(static_cast<uint32_t>(o.pointCount()));
    w.word(static_cast<uint32_t>(o.polygonCount()));
    w.word((hasUv ? 1u : 0u) | (hasNormals ? 2u : 0u) | (hasSelection ? 4u : 0u));
    for (const Vec3f& p : o.points) {
        w.real(p.x);
        w.real(p.y);
        w.real(p.z);
    }
    for (const Polygon& p : o.polygons)
        for (int c : {p.a, p.b, p.c, p.d}) w.word(static_cast<uint32_t>(c));
    if (hasUv)
        for (const UVWRow& row : uv->data)
            for (int k = 0; k < 4; ++k) {
                w.real(row.corner(k).x);
                w.real(row.corner(k).y);
            }
    if (hasNormals)
        for (const NormalRow& row : normals->data)
            for (int16_t v : row.v) w.real(static_cast<float>(v) / 32000.0f);
    if (hasSelection) {
        char* flags = out.data() + out.size() - selectionBytes;
        for (const auto& [first, last] : o.polygonSelection.ranges())
            for (int i = std::max(first, 0); i <= last && static_cast<size_t>(i) < polygons; ++i) flags[i] = 1;
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
