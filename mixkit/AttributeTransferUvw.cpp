// Texture coordinates at a contraction. The polygons around the merged edge are taken in groups
// that agree on the UVWs of both ends (a UV seam splits them); each group gets one new UVW, the
// mean of its members' estimates at the merged point, and every corner of the two ends that
// carried the group's UVWs takes it. Corners across a seam keep theirs.
#include <cmath>
#include <cstring>

#include "mixkit/AttributeTransfer.h"
#include "mixkit/HistoryRecorder.h"
#include "mixkit/Plane.h"
#include "mixkit/StackHelpers.h"
#include "sources/Geometry.h"

namespace {

using PolygonState = TransferScratch::PolygonState;

enum : int32_t { STATE_OPEN = 0, STATE_DONE = 1, STATE_GROUP = 2 };

constexpr double kUvwTolerance = 0.0001;

bool sameUvw(const FloatVector& u, const Vector& v) {
    return std::fabs(u.x - v.x) < kUvwTolerance && std::fabs(u.y - v.y) < kUvwTolerance &&
           std::fabs(u.z - v.z) < kUvwTolerance;
}

// |cross| / |n|, negative when the cross product points against n.
double signedShare(const Vector& c, const Vector& n, double nLength) {
    const double share = length(c) / nLength;
    return dot(c, n) < 0.0 ? -share : share;
}

// UVW at `target` by the barycentric coordinates of its projection onto triangle (a, b, c). False
// when the triangle has no area.
bool interpolate(const Vector& a, const Vector& b, const Vector& c, const Vector& ua, const Vector& ub,
                 const Vector& uc, const Vector& target, Vector& out) {
    const Vector n = cross(subtract(b, a), subtract(c, a));
    const double nLength = length(n);
    if (nLength == 0.0) return false;
    const Plane plane = trianglePlaneUnit(a, b, c);
    const Vector unit = planeNormal(plane);
    const Vector t = subtract(target, scale(unit, dot(unit, target) + plane.d));
    const double la = signedShare(cross(subtract(b, t), subtract(c, t)), n, nLength);
    const double lb = signedShare(cross(subtract(t, a), subtract(c, a)), n, nLength);
    const double lc = signedShare(cross(subtract(b, a), subtract(t, a)), n, nLength);
    out = add(add(scale(ua, la), scale(ub, lb)), scale(uc, lc));
    return true;
}

// The UVW that one shared polygon suggests for the merged point; false when it came from the
// interpolation between the ends' UVWs (the polygon has no area to measure with).
bool estimateUvw(const TopologyView& mesh, int32_t polygon, const UvwRecord& row, int32_t v1, int32_t v2,
                 const Vector& target, double f, const Vector& u1, const Vector& u2, Vector& estimate) {
    const HostPolygon& p = mesh.polygon(polygon);
    bool found = false;
    if (p.c == p.d) {
        found = interpolate(mesh.position(p.a), mesh.position(p.b), mesh.position(p.c), toVector(row.corner[0]),
                            toVector(row.corner[1]), toVector(row.corner[2]), target, estimate);
    } else {
        const int k1 = cornerOf(p, v1);
        const int k2 = cornerOf(p, v2);
        const int apart = (k2 - k1 + 4) % 4;
        if (k1 >= 0 && k2 >= 0 && (apart == 1 || apart == 3)) {
            // The triangle of the two ends and the midpoint of the other two corners.
            int others[2];
            int n = 0;
            for (int c = 0; c < 4; ++c)
                if (c != k1 && c != k2) others[n++] = c;
            const Vector mid = scale(add(mesh.position(corner(p, others[0])), mesh.position(corner(p, others[1]))), 0.5);
            const Vector midUvw = scale(add(toVector(row.corner[others[0]]), toVector(row.corner[others[1]])), 0.5);
            found = interpolate(mesh.position(corner(p, k1)), mesh.position(corner(p, k2)), mid, toVector(row.corner[k1]),
                                toVector(row.corner[k2]), midUvw, target, estimate);
        }
        // A quad whose ends are opposite corners vanishes; it only offers the interpolation below.
    }
    if (!found) estimate = add(u1, scale(subtract(u2, u1), f));
    return found;
}

}  // namespace

void AttributeTransfer::transferUvwTag(const TopologyView& mesh, int32_t slot, int32_t v1, int32_t v2,
                                       const Vector& target, double f, TransferScratch& scratch,
                                       HistoryRecorder& recorder) {
    UvwRecord* rows = uvwTags_.items[slot].rows;
    for (PolygonState& s : scratch.sharedPolygons) s.state = STATE_OPEN;
    for (PolygonState& s : scratch.firstOnlyPolygons) s.state = STATE_OPEN;
    for (PolygonState& s : scratch.secondOnlyPolygons) s.state = STATE_OPEN;

    for (int32_t open = 0; open < scratch.sharedPolygons.count; ++open) {
        if (scratch.sharedPolygons.items[open].state != STATE_OPEN) continue;
        // This polygon opens a group.
        const int32_t first = scratch.sharedPolygons.items[open].polygon;
        const UvwRecord& firstRow = rows[first];
        const Vector u1 = toVector(firstRow.corner[cornerOf(mesh.polygon(first), v1)]);
        const Vector u2 = toVector(firstRow.corner[cornerOf(mesh.polygon(first), v2)]);
        scratch.sharedPolygons.items[open].state = STATE_GROUP;
        Vector sum;
        const bool measured = estimateUvw(mesh, first, firstRow, v1, v2, target, f, u1, u2, sum);
        int32_t added = 1;
        for (int32_t i = open + 1; i < scratch.sharedPolygons.count; ++i) {
            PolygonState& s = scratch.sharedPolygons.items[i];
            if (s.state != STATE_OPEN) continue;
            const HostPolygon& p = mesh.polygon(s.polygon);
            const UvwRecord& row = rows[s.polygon];
            if (!sameUvw(row.corner[cornerOf(p, v1)], u1) || !sameUvw(row.corner[cornerOf(p, v2)], u2)) continue;
            s.state = STATE_GROUP;
            if (!measured) continue;
            Vector estimate;
            if (estimateUvw(mesh, s.polygon, row, v1, v2, target, f, u1, u2, estimate)) {
                sum = add(sum, estimate);
                ++added;
            }
        }
        const FloatVector merged =
            toFloatVector(added > 1 ? Vector{sum.x / added, sum.y / added, sum.z / added} : sum);

        // The corners of the two ends outside the group's polygons that carry the group's UVWs.
        auto carryOver = [&](Stack<PolygonState>& list, int32_t point, const Vector& uvw) {
            for (PolygonState& s : list) {
                if (s.state == STATE_DONE) continue;
                const HostPolygon& p = mesh.polygon(s.polygon);
                UvwRecord& row = rows[s.polygon];
                for (int c = 0; c < 4; ++c) {
                    if (corner(p, c) != point || !sameUvw(row.corner[c], uvw)) continue;
                    const UvwRecord old = row;
                    row.corner[c] = merged;
                    s.state = STATE_DONE;
                    recorder.uvwChanged(slot, s.polygon, old, row);
                    break;
                }
            }
        };
        carryOver(scratch.firstOnlyPolygons, v1, u1);
        carryOver(scratch.secondOnlyPolygons, v2, u2);

        for (PolygonState& s : scratch.sharedPolygons) {
            if (s.state != STATE_GROUP) continue;
            s.state = STATE_DONE;
            const HostPolygon& p = mesh.polygon(s.polygon);
            UvwRecord& row = rows[s.polygon];
            const UvwRecord old = row;
            if (p.c == p.d) {
                // The triangle dies with the edge.
                row = UvwRecord{};
            } else {
                for (int c = 0; c < 4; ++c) {
                    if (corner(p, c) == v1 && sameUvw(row.corner[c], u1)) {
                        row.corner[c] = merged;
                        break;
                    }
                }
                for (int c = 0; c < 4; ++c) {
                    if (corner(p, c) == v2 && sameUvw(old.corner[c], u2)) {
                        row.corner[c] = merged;
                        break;
                    }
                }
            }
            recorder.uvwChanged(slot, s.polygon, old, row);
        }
    }
}

void AttributeTransfer::transferUvw(const TopologyView& mesh, uint8_t* marks, const Contraction& k,
                                    TransferScratch& scratch, HistoryRecorder& recorder) {
    if (uvwTags_.count == 0) return;
    const int32_t v1 = k.v1;
    const int32_t v2 = k.v2;

    mesh.markEnds(v1, v2, marks);
    emptyKeepingStorage(scratch.sharedPolygons);
    emptyKeepingStorage(scratch.firstOnlyPolygons);
    emptyKeepingStorage(scratch.secondOnlyPolygons);
    for (const int32_t* list : {&v1, &v2}) {
        const FlatLists<int32_t>::List polys = mesh.polygonsOf(*list);
        for (int32_t i = 0; i < polys.count; ++i) {
            const int32_t f = polys.items[i];
            uint8_t& m = marks[f];
            if (m == 0) continue;
            Stack<PolygonState>& target = m >= 2 ? scratch.sharedPolygons : (*list == v1 ? scratch.firstOnlyPolygons : scratch.secondOnlyPolygons);
            target.push(PolygonState{f, STATE_OPEN});
            m = 0;
        }
    }

    const Vector target = add(mesh.position(v1), k.dv1);
    const double f = k.interpolation();
    for (int32_t t = 0; t < uvwTags_.count; ++t) transferUvwTag(mesh, t, v1, v2, target, f, scratch, recorder);

    emptyKeepingStorage(scratch.sharedPolygons);
    emptyKeepingStorage(scratch.firstOnlyPolygons);
    emptyKeepingStorage(scratch.secondOnlyPolygons);
}
