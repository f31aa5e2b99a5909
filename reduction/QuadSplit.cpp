#include "reduction/QuadSplit.h"

#include <cmath>
#include <cstring>

#include "sources/Geometry.h"
#include "sources/HostTag.h"
#include "sources/Module.h"
#include "sources/Stack.h"

namespace {

// A corner whose edges make a cosine below this is taken as a straight angle.
constexpr double kStraightCosine = -0.99;
// Values per polygon of the per-polygon tags: four corners of three components.
constexpr int32_t kRowValues = 12;

// cos(p, q) = p.q / sqrt(|p|^2 |q|^2); an edge of no length makes no straight angle.
double cosine(const Vector& p, const Vector& q) {
    const double d = std::sqrt(dot(p, p) * dot(q, q));
    return d > 0.0 ? dot(p, q) / d : 1.0;
}

// The quad's slots that each triangle takes, by the first unsound corner among a, b, c (3: none).
// The diagonal of the cut always ends at that corner.
constexpr int32_t kKeptSlots[4][3] = {{0, 1, 2}, {1, 2, 3}, {2, 3, 0}, {3, 0, 1}};
constexpr int32_t kAddedSlots[4][3] = {{0, 2, 3}, {1, 3, 0}, {2, 0, 1}, {3, 1, 2}};

HostPolygon triangle(const HostPolygon& quad, const int32_t (&slots)[3]) {
    const int32_t x = corner(quad, slots[0]), y = corner(quad, slots[1]), z = corner(quad, slots[2]);
    return HostPolygon{x, y, z, z};
}

int32_t firstUnsound(int32_t sound) {
    for (int32_t k = 0; k < 3; ++k)
        if ((sound & (1 << k)) == 0) return k;
    return 3;
}

// Writes the row of a triangle cut from `quad` (three corners, the last repeated) at `out`.
template <typename T>
void triangleRow(const T* quad, const int32_t (&slots)[3], T* out) {
    T row[kRowValues];
    for (int32_t k = 0; k < 4; ++k) {
        const int32_t slot = slots[k < 3 ? k : 2];
        for (int32_t c = 0; c < 3; ++c) row[3 * k + c] = quad[3 * slot + c];
    }
    memcpy(out, row, sizeof row);
}

struct RowTag {
    HostTag tag;
    bool normals = false;  // int16 rows, else float rows
};

}  // namespace

int32_t soundQuadCorners(const float* points, const HostPolygon& q) {
    const Vector pa = pointAt(points, q.a), pb = pointAt(points, q.b);
    const Vector pc = pointAt(points, q.c), pd = pointAt(points, q.d);
    const Vector u = subtract(pb, pa), v = subtract(pd, pa), w = subtract(pb, pc), x = subtract(pd, pc);
    const Vector n = cross(subtract(pb, pd), subtract(pc, pa));
    int32_t sound = 0;
    if (cosine(u, v) >= kStraightCosine && dot(n, cross(u, v)) >= 0.0) sound |= 1;
    if (cosine(u, w) >= kStraightCosine && dot(n, cross(w, u)) >= 0.0) sound |= 2;
    if (cosine(w, x) >= kStraightCosine && dot(n, cross(x, w)) >= 0.0) sound |= 4;
    if (cosine(v, x) >= kStraightCosine && dot(n, cross(v, x)) >= 0.0) sound |= 8;
    return sound;
}

bool isBadQuad(const float* points, const HostPolygon& q) {
    if (q.a == q.b || q.c == q.d) return false;
    return soundQuadCorners(points, q) != 15;
}

void splitQuadCorners(const float* points, const HostPolygon& quad, HostPolygon* kept, HostPolygon* added) {
    const int32_t at = firstUnsound(soundQuadCorners(points, quad));
    *kept = triangle(quad, kKeptSlots[at]);
    *added = triangle(quad, kAddedSlots[at]);
}

int32_t splitBadQuads(HostPolygonObject object, HostSelection polygonSet) {
    if (!object.valid()) return -1;
    const int32_t pointCount = object.pointCount();
    const int32_t polygonCount = object.polygonCount();
    const float* points = object.points();
    const HostPolygon* polygons = object.polygons();
    if (polygonCount <= 0 || points == nullptr || polygons == nullptr) return 0;

    Stack<int32_t> bad;
    for (int32_t i = 0; i < polygonCount; ++i) {
        if (polygonSet.valid() && !polygonSet.isSelected(i)) continue;
        const HostPolygon& q = polygons[i];
        if (!cornersWithin(q, pointCount)) continue;
        if (!isBadQuad(points, q)) continue;
        const int32_t before = bad.count;
        bad.push(i);
        if (bad.count == before) return -1;
    }
    if (bad.count == 0) return 0;
    // Every list is had before the array grows, so that a refusal leaves the object alone.
    Stack<RowTag> rowTags;
    Stack<HostSelection> memberships;
    for (HostTag tag = object.firstTag(); tag.valid(); tag = tag.next()) {
        const int32_t type = tag.type();
        const int32_t before = rowTags.count + memberships.count;
        if (type == TAG_UVW || type == TAG_NORMALS)
            rowTags.push(RowTag{tag, type == TAG_NORMALS});
        else if (type == TAG_POLYGON_SELECTION)
            memberships.push(tag.selection());
        else
            continue;
        if (rowTags.count + memberships.count == before) return -1;
    }
    for (HostSelection own : {object.polygonSelection(), object.hiddenPolygons()}) {
        if (!own.valid()) continue;
        const int32_t before = memberships.count;
        memberships.push(own);
        if (memberships.count == before) return -1;
    }

    if (!object.resize(pointCount, polygonCount + bad.count)) return -1;
    HostPolygon* grown = object.polygons();
    points = object.points();
    if (grown == nullptr || points == nullptr) return -1;
    for (int32_t k = 0; k < bad.count; ++k) {
        const int32_t from = bad.items[k];
        const int32_t to = polygonCount + k;
        const HostPolygon quad = grown[from];
        const int32_t at = firstUnsound(soundQuadCorners(points, quad));
        grown[from] = triangle(quad, kKeptSlots[at]);
        grown[to] = triangle(quad, kAddedSlots[at]);
        for (const RowTag& r : rowTags) {
            if (r.tag.dataCount() < polygonCount + bad.count || r.tag.data() == nullptr) continue;
            if (r.normals) {
                auto* rows = static_cast<int16_t*>(r.tag.data());
                int16_t quadRow[kRowValues];
                memcpy(quadRow, rows + kRowValues * static_cast<int64_t>(from), sizeof quadRow);
                triangleRow(quadRow, kKeptSlots[at], rows + kRowValues * static_cast<int64_t>(from));
                triangleRow(quadRow, kAddedSlots[at], rows + kRowValues * static_cast<int64_t>(to));
            } else {
                auto* rows = static_cast<float*>(r.tag.data());
                float quadRow[kRowValues];
                memcpy(quadRow, rows + kRowValues * static_cast<int64_t>(from), sizeof quadRow);
                triangleRow(quadRow, kKeptSlots[at], rows + kRowValues * static_cast<int64_t>(from));
                triangleRow(quadRow, kAddedSlots[at], rows + kRowValues * static_cast<int64_t>(to));
            }
        }
        for (HostSelection& s : memberships) {
            if (s.isSelected(from))
                s.select(to);
            else
                s.deselect(to);
        }
    }
    return bad.count;
}
