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
    // Every index below comes from the adjacency lists or from live polygons, so it is in range.
    const HostPolygon* polygons = mesh.polygons;
    uint8_t* ringMark = ringMarks_.items;
    const Vector* normals = mesh.unitNormals;
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
                sum = add(sum, normals[g]);
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
