// Corner normals around a moved point: every polygon that touches a point of the moved point's
// ring (the corners of its polygons, itself included) gets new normals at its corners on that
// ring, each the normalised sum of the unit normals of the polygons around the corner's point.
#include "mixkit/AttributeTransfer.h"
#include "mixkit/HistoryRecorder.h"
#include "mixkit/StackHelpers.h"
#include "sources/Geometry.h"

void AttributeTransfer::refreshNormals(const TopologyView& mesh, uint8_t* polygonMark, int32_t v1,
                                       HistoryRecorder& recorder) {
    if (normalRows_ == nullptr) return;
    const FlatLists<int32_t>::List own = mesh.polygonsOf(v1);
    if (deferred_) {
        for (int32_t i = 0; i < own.count; ++i) {
            const HostPolygon& q = mesh.polygons[own.items[i]];
            const int n = cornerCount(q);
            for (int c = 0; c < n; ++c) ringMarks_.items[corner(q, c)] = 1;
        }
        return;
    }
    // Every index below comes from the adjacency lists or from live polygons, so it is in range.
    const HostPolygon* polygons = mesh.polygons;
    uint8_t* ringMark = ringMarks_.items;
    NormalRecord* rows = normalRows_;
    const bool recording = recorder.recording();

    // The ring, each point once, in the order first met; each ring point is marked with its place
    // in the ring (255: look it up). The marks are all zero here and are cleared again on the way out.
    emptyKeepingStorage(ringNormals_);
    bool complete = true;
    for (int32_t i = 0; complete && i < own.count; ++i) {
        const HostPolygon& q = polygons[own.items[i]];
        const int n = cornerCount(q);
        for (int c = 0; c < n; ++c) {
            const int32_t x = corner(q, c);
            if (ringMark[x] != 0) continue;
            const int32_t place = ringNormals_.count;
            if (!pushChecked(ringNormals_, RingNormal{x, {0, 0, 0}})) {
                complete = false;
                break;
            }
            ringMark[x] = static_cast<uint8_t>(place < 254 ? place + 1 : 255);
        }
    }
    if (complete) {
        // The region: every polygon of every ring point is marked; on the same walk each ring
        // point's normal is summed, polygon by polygon in list order as pointNormal does.
        for (RingNormal& r : ringNormals_) {
            const FlatLists<int32_t>::List around = mesh.polygonsOf(r.point);
            Vector sum;
            for (int32_t j = 0; j < around.count; ++j) {
                const int32_t g = around.items[j];
                polygonMark[g] = 1;
                sum = add(sum, mesh.unitNormal(g));
            }
            const Vector normal = normalize(sum);
            r.v[0] = static_cast<int16_t>(static_cast<int32_t>(normal.x * NORMAL_SCALE));
            r.v[1] = static_cast<int16_t>(static_cast<int32_t>(normal.y * NORMAL_SCALE));
            r.v[2] = static_cast<int16_t>(static_cast<int32_t>(normal.z * NORMAL_SCALE));
        }
        const RingNormal* ring = ringNormals_.items;
        const RingNormal* ringEnd = ring + ringNormals_.count;
        auto ringNormal = [ring, ringEnd](int32_t x, uint8_t mark) -> const int16_t* {
            if (mark != 255) return ring[mark - 1].v;
            for (const RingNormal* r = ring; r != ringEnd; ++r)
                if (r->point == x) return r->v;
            return ring[0].v;  // not reached: every marked point is on the ring
        };

        for (const RingNormal* r = ring; r != ringEnd; ++r) {
            const FlatLists<int32_t>::List around = mesh.polygonsOf(r->point);
            for (int32_t j = 0; j < around.count; ++j) {
                const int32_t g = around.items[j];
                uint8_t& mark = polygonMark[g];
                if (mark == 0) continue;
                mark = 0;
                const HostPolygon& q = polygons[g];
                NormalRecord& row = rows[g];
                NormalRecord old{};
                if (recording) old = row;
                const int m = cornerCount(q);
                for (int k = 0; k < m; ++k) {
                    const int32_t x = corner(q, k);
                    const uint8_t ring = ringMark[x];
                    if (ring == 0) continue;
                    const int16_t* normal = ringNormal(x, ring);
                    row.v[3 * k] = normal[0];
                    row.v[3 * k + 1] = normal[1];
                    row.v[3 * k + 2] = normal[2];
                }
                if (recording) recorder.normalsChanged(g, old, row);
            }
        }
    }
    for (const RingNormal& r : ringNormals_) ringMark[r.point] = 0;
}

namespace {

// The normal a corner at point x stores: the normalised sum of the unit normals of x's polygons, in
// list order, scaled and truncated (the same steps as the refresh above).
void storedNormal(const TopologyView& mesh, int32_t x, int16_t (&v)[3]) {
    const FlatLists<int32_t>::List around = mesh.polygonsOf(x);
    Vector sum;
    for (int32_t j = 0; j < around.count; ++j) sum = add(sum, mesh.unitNormal(around.items[j]));
    const Vector normal = normalize(sum);
    v[0] = static_cast<int16_t>(static_cast<int32_t>(normal.x * NORMAL_SCALE));
    v[1] = static_cast<int16_t>(static_cast<int32_t>(normal.y * NORMAL_SCALE));
    v[2] = static_cast<int16_t>(static_cast<int32_t>(normal.z * NORMAL_SCALE));
}

bool isDying(const Contraction& k, int32_t f) {
    for (int32_t d = 0; d < k.dyingPolygons.count; ++d)
        if (k.dyingPolygons.items[d] == f) return true;
    return false;
}

// Whether point x, another corner of a vanishing polygon, is off the kept point's ring after the
// contraction: no polygon of either end that lives on has it (a lone triangle, a fan's last). On
// a closed surface the polygon beside the vanishing one keeps it on the ring.
bool leavesRing(const TopologyView& mesh, const Contraction& k, int32_t x) {
    if (x == k.v1 || x == k.v2) return false;
    for (const int32_t end : {k.v1, k.v2}) {
        const FlatLists<int32_t>::List around = mesh.polygonsOf(end);
        for (int32_t j = 0; j < around.count; ++j) {
            const int32_t g = around.items[j];
            if (hasCorner(mesh.polygons[g], x) && !isDying(k, g)) return false;
        }
    }
    return true;
}

}  // namespace

void AttributeTransfer::writePointNormal(const TopologyView& mesh, int32_t x) {
    int16_t v[3];
    storedNormal(mesh, x, v);
    const FlatLists<int32_t>::List around = mesh.polygonsOf(x);
    for (int32_t j = 0; j < around.count; ++j) {
        const int32_t g = around.items[j];
        const HostPolygon& q = mesh.polygons[g];
        NormalRecord& row = normalRows_[g];
        const int m = cornerCount(q);
        for (int k = 0; k < m; ++k) {
            if (corner(q, k) != x) continue;
            row.v[3 * k] = v[0];
            row.v[3 * k + 1] = v[1];
            row.v[3 * k + 2] = v[2];
        }
    }
}

void AttributeTransfer::settleLeavingPoints(const TopologyView& mesh, const Contraction& k) {
    // Rows that no refresh will reach again get the owed normals a refresh at every contraction
    // would have left in them, from the mesh as it is before this contraction (which is as the
    // owing point's last ring left it). Each point's normal is computed once here.
    struct Owed {
        int32_t point;
        int16_t v[3];
    };
    Owed owed[16];
    int used = 0;
    auto owedNormal = [&](int32_t x) -> const int16_t* {
        if (ringMarks_.items[x] == 0) return nullptr;
        for (int i = 0; i < used; ++i)
            if (owed[i].point == x) return owed[i].v;
        Owed& o = owed[used < 16 ? used++ : 15];
        o.point = x;
        storedNormal(mesh, x, o.v);
        return o.v;
    };
    auto setSlot = [this](int32_t f, int slot, const int16_t* v) {
        for (int a = 0; a < 3; ++a) normalRows_[f].v[3 * slot + a] = v[a];
    };
    // A polygon with both ends vanishes, its row as it was; a corner that it takes off the ring
    // keeps the normal it has now at every corner of its own.
    for (int32_t i = 0; i < k.dyingPolygons.count; ++i) {
        const int32_t f = k.dyingPolygons.items[i];
        const HostPolygon& dying = mesh.polygons[f];
        const int n = cornerCount(dying);
        for (int c = 0; c < n; ++c) {
            const int32_t x = corner(dying, c);
            const int16_t* v = owedNormal(x);
            if (v == nullptr) continue;
            setSlot(f, c, v);
            if (!leavesRing(mesh, k, x)) continue;
            writePointNormal(mesh, x);
            ringMarks_.items[x] = 0;
        }
    }
    // A quad with both ends turns into a triangle, whose fourth slot (which no corner uses any
    // more) keeps what its row held there.
    for (int32_t i = k.pivot; i < k.changedPolygons.count; ++i) {
        const int32_t f = k.changedPolygons.items[i];
        const HostPolygon& before = mesh.polygons[f];
        if (before.c == before.d || !hasCorner(before, k.v1)) continue;
        HostPolygon after = before;
        for (int c = 0; c < 4; ++c)
            if (corner(after, c) == k.v2) corner(after, c) = k.v1;
        const int slot = (3 + triangleFormShift(after)) % 4;
        if (const int16_t* v = owedNormal(corner(before, slot))) setSlot(f, slot, v);
    }
}

void AttributeTransfer::writeOwedNormals(const TopologyView& mesh) {
    if (!deferred_) return;
    deferred_ = false;
    for (int32_t x = 0; x < ringMarks_.count; ++x) {
        if (ringMarks_.items[x] == 0) continue;
        ringMarks_.items[x] = 0;
        writePointNormal(mesh, x);
    }
}
