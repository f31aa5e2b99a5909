#include "host/formats/MeshBuild.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace host::formats {
namespace {

uint32_t floatKey(float v) {
    if (v == 0.0f) v = 0.0f;  // -0 and 0 weld
    return std::bit_cast<uint32_t>(v);
}

uint64_t positionHash(const Vec3f& p) {
    uint64_t h = floatKey(p.x) * 0x9E3779B97F4A7C15ull;
    h ^= (h >> 29) + floatKey(p.y) * 0xC2B2AE3D27D4EB4Full;
    h ^= (h >> 31) + floatKey(p.z) * 0x165667B19E3779F9ull;
    return h ^ (h >> 32);
}

// Exactly equal positions (float ==) get one point, numbered in order of first appearance.
std::vector<int> weldPositions(const std::vector<Vec3f>& positions, std::vector<int>& firstVertex) {
    const size_t n = positions.size();
    std::vector<int> point(n, -1);
    size_t capacity = 16;
    while (capacity < n * 2) capacity <<= 1;
    std::vector<int> slots(capacity, -1);  // vertex index that made the point
    const size_t mask = capacity - 1;
    for (size_t v = 0; v < n; ++v) {
        const Vec3f& p = positions[v];
        size_t s = positionHash(p) & mask;
        for (;;) {
            const int other = slots[s];
            if (other < 0) {
                slots[s] = static_cast<int>(v);
                point[v] = static_cast<int>(firstVertex.size());
                firstVertex.push_back(static_cast<int>(v));
                break;
            }
            const Vec3f& q = positions[other];
            if (q.x == p.x && q.y == p.y && q.z == p.z) {
                point[v] = point[other];
                break;
            }
            s = (s + 1) & mask;
        }
    }
    return point;
}

}  // namespace

void quantizeNormal(const Vec3f& n, int16_t out[3]) {
    const double c[3] = {n.x, n.y, n.z};
    const double len = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    out[0] = out[1] = out[2] = 0;
    if (!(len > 0) || !std::isfinite(len)) return;
    // Normals that are unit length to within the storage's own rounding (writers put a row divided by
    // 32000) are taken as they are, so that a written row reads back unchanged.
    const double scale = std::fabs(len - 1.0) < 1e-4 ? 32000.0 : 32000.0 / len;
    for (int k = 0; k < 3; ++k)
        out[k] = static_cast<int16_t>(std::clamp(std::lround(c[k] * scale), -32000L, 32000L));
}

std::unique_ptr<PolygonObject> buildPolygonObject(const VertexMesh& mesh, WeldResult* weld) {
    auto obj = std::make_unique<PolygonObject>(mesh.name);
    const size_t vertexCount = mesh.positions.size();
    std::vector<int> firstVertex;
    firstVertex.reserve(vertexCount);
    const std::vector<int> pointOf = weldPositions(mesh.positions, firstVertex);
    obj->points.resize(firstVertex.size());
    for (size_t i = 0; i < firstVertex.size(); ++i) obj->points[i] = mesh.positions[firstVertex[i]];

    // Pieces: the polygon and, per corner, the vertex whose attributes it takes.
    std::vector<Polygon> polygons;
    std::vector<std::array<uint32_t, 4>> pieceVertices;
    std::vector<int32_t> pieceGroup;
    polygons.reserve(mesh.cornerCounts.size());
    pieceVertices.reserve(mesh.cornerCounts.size());
    int dropped = 0;
    std::vector<uint32_t> ring;
    size_t at = 0;
    for (size_t f = 0; f < mesh.cornerCounts.size(); ++f) {
        const uint32_t count = mesh.cornerCounts[f];
        const size_t begin = at;
        at += count;
        if (at > mesh.corners.size()) {  // the caller's counts overran its corners
            dropped += static_cast<int>(mesh.cornerCounts.size() - f);
            break;
        }
        ring.clear();
        bool inRange = true;
        for (size_t k = begin; k < at; ++k) {
            const uint32_t v = mesh.corners[k];
            if (v >= vertexCount) {
                inRange = false;
                break;
            }
            // Consecutive corners on one point say nothing: a quad with two equal corners is a triangle.
            if (!ring.empty() && pointOf[ring.back()] == pointOf[v]) continue;
            ring.push_back(v);
        }
        while (ring.size() > 1 && pointOf[ring.front()] == pointOf[ring.back()]) ring.pop_back();
        if (!inRange || ring.size() < 3) {
            ++dropped;
            continue;
        }
        const int32_t group = f < mesh.polygonGroups.size() ? mesh.polygonGroups[f] : -1;
        auto addPiece = [&](size_t i0, size_t i1, size_t i2, size_t i3) {
            const std::array<uint32_t, 4> v{ring[i0], ring[i1], ring[i2], ring[i3]};
            const int a = pointOf[v[0]], b = pointOf[v[1]], c = pointOf[v[2]], d = pointOf[v[3]];
            const bool triangle = i2 == i3;
            if (a == b || a == c || b == c || (!triangle && (d == a || d == b || d == c))) {
                ++dropped;
                return;
            }
            polygons.push_back({a, b, c, d});
            pieceVertices.push_back(v);
            pieceGroup.push_back(group);
        };
        cutIntoQuadFan(ring.size(), addPiece);
    }
    obj->polygons = std::move(polygons);
    const size_t count = obj->polygons.size();
    // Selections and hidden sets follow the arrays.
    obj->resize(obj->pointCount(), obj->polygonCount());

    for (size_t s = 0; s < mesh.uvSets.size(); ++s) {
        const std::vector<Vec3f>& uv = mesh.uvSets[s];
        if (uv.size() != vertexCount) continue;
        auto tag = std::make_unique<UVWTag>(s < mesh.uvNames.size() ? mesh.uvNames[s] : std::string());
        tag->data.resize(count);
        for (size_t i = 0; i < count; ++i)
            for (int k = 0; k < 4; ++k) tag->data[i].corner(k) = uv[pieceVertices[i][k]];
        obj->addTag(std::move(tag));
    }
    if (mesh.normals.size() == vertexCount && vertexCount > 0) {
        auto tag = std::make_unique<NormalTag>();
        tag->data.resize(count);
        for (size_t i = 0; i < count; ++i)
            for (int k = 0; k < 4; ++k) quantizeNormal(mesh.normals[pieceVertices[i][k]], &tag->data[i].v[3 * k]);
        obj->addTag(std::move(tag));
    }
    for (size_t m = 0; m < mesh.floatMaps.size(); ++m) {
        const std::vector<float>& values = mesh.floatMaps[m];
        if (values.size() != vertexCount) continue;
        auto tag = std::make_unique<FloatMapTag>(m < mesh.floatMapNames.size() ? mesh.floatMapNames[m] : "",
                                                 static_cast<int>(firstVertex.size()));
        for (size_t p = 0; p < firstVertex.size(); ++p) tag->data[p] = values[firstVertex[p]];
        obj->addTag(std::move(tag));
    }
    if (!mesh.groupNames.empty()) {
        std::vector<SelectionTag*> tags;
        for (const std::string& name : mesh.groupNames)
            tags.push_back(static_cast<SelectionTag*>(obj->addTag(
                std::make_unique<SelectionTag>(TAG_POLYGON_SELECTION, name, static_cast<int>(count)))));
        for (size_t i = 0; i < count; ++i)
            if (pieceGroup[i] >= 0 && pieceGroup[i] < static_cast<int32_t>(tags.size()))
                tags[pieceGroup[i]]->set.select(static_cast<int>(i));
    }
    if (weld) {
        weld->object = obj->name();
        weld->vertices = static_cast<int>(vertexCount);
        weld->points = static_cast<int>(firstVertex.size());
        weld->droppedPolygons = dropped;
    }
    return obj;
}

SplitMesh splitVertices(const PolygonObject& object) {
    SplitMesh out;
    std::vector<const UVWTag*> uvTags;
    const NormalTag* normalTag = nullptr;
    std::vector<const FloatMapTag*> floatTags;
    const size_t polyCount = object.polygons.size();
    for (const auto& t : object.tags()) {
        if (auto* uv = dynamic_cast<const UVWTag*>(t.get()); uv && uv->data.size() == polyCount) uvTags.push_back(uv);
        if (auto* n = dynamic_cast<const NormalTag*>(t.get()); n && !normalTag && n->data.size() == polyCount)
            normalTag = n;
        if (auto* f = dynamic_cast<const FloatMapTag*>(t.get());
            f && f->data.size() == object.points.size())
            floatTags.push_back(f);
    }
    out.uvSets.resize(uvTags.size());
    for (const UVWTag* t : uvTags) out.uvNames.push_back(t->name());
    for (const FloatMapTag* t : floatTags) out.floatMapNames.push_back(t->name());
    out.floatMaps.resize(floatTags.size());

    const int pointCount = object.pointCount();
    std::vector<int> firstOfPoint(pointCount, -1);
    std::vector<int> nextOfVertex;
    std::vector<std::array<int16_t, 3>> normalRows;
    auto sameVertex = [&](int v, size_t poly, int corner) {
        for (size_t s = 0; s < uvTags.size(); ++s)
            if (!(out.uvSets[s][v] == uvTags[s]->data[poly].corner(corner))) return false;
        if (normalTag) {
            const int16_t* r = &normalTag->data[poly].v[3 * corner];
            if (normalRows[v][0] != r[0] || normalRows[v][1] != r[1] || normalRows[v][2] != r[2]) return false;
        }
        return true;
    };
    for (size_t i = 0; i < polyCount; ++i) {
        const Polygon& p = object.polygons[i];
        if (p.a == p.b) continue;
        const int idx[4] = {p.a, p.b, p.c, p.d};
        const int corners = p.isTriangle() ? 3 : 4;
        bool valid = true;
        for (int k = 0; k < corners; ++k) valid = valid && idx[k] >= 0 && idx[k] < pointCount;
        if (!valid) continue;
        std::array<int, 4> vertices{-1, -1, -1, -1};
        for (int k = 0; k < corners; ++k) {
            int v = firstOfPoint[idx[k]];
            while (v >= 0 && !sameVertex(v, i, k)) v = nextOfVertex[v];
            if (v < 0) {
                v = static_cast<int>(out.vertexPoint.size());
                out.vertexPoint.push_back(idx[k]);
                nextOfVertex.push_back(firstOfPoint[idx[k]]);
                firstOfPoint[idx[k]] = v;
                for (size_t s = 0; s < uvTags.size(); ++s) out.uvSets[s].push_back(uvTags[s]->data[i].corner(k));
                if (normalTag) {
                    const int16_t* r = &normalTag->data[i].v[3 * k];
                    normalRows.push_back({r[0], r[1], r[2]});
                }
            }
            vertices[k] = v;
        }
        out.polygons.push_back(vertices);
        out.polygonIndex.push_back(static_cast<int>(i));
    }
    if (normalTag) {
        out.normals.reserve(normalRows.size());
        // The row divided by 32000: unit length to within 1e-4, and read back to the very same row.
        for (const auto& r : normalRows)
            out.normals.push_back({static_cast<float>(r[0] / 32000.0), static_cast<float>(r[1] / 32000.0),
                                   static_cast<float>(r[2] / 32000.0)});
    }
    for (size_t m = 0; m < floatTags.size(); ++m) {
        out.floatMaps[m].reserve(out.vertexPoint.size());
        for (int p : out.vertexPoint) out.floatMaps[m].push_back(floatTags[m]->data[p]);
    }
    return out;
}

bool isIdentity(const Matrix& m) { return m == Matrix{}; }

}  // namespace host::formats
