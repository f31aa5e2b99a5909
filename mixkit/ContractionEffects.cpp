// The edits one contraction makes to the host object: the merged point moves, the polygons that
// used both ends vanish or turn into triangles, the removed point's polygons are re-pointed, and
// point selections and float maps blend into the kept point. While a history is recorded, every
// change is also written into the current record.
#include <cstring>

#include "mixkit/ReductionMesh.h"
#include "mixkit/StackHelpers.h"
#include "sources/Geometry.h"

namespace {

uint32_t bitsOf(float v) {
    uint32_t b;
    memcpy(&b, &v, sizeof b);
    return b;
}

}  // namespace

void ReductionMesh::record(const ChangeEntry& entry) {
    // The room is reserved before each contraction; a miss here means an entry is lost and the
    // record cannot be trusted, so the reduction stops after this contraction.
    if (!history.add(entry)) recordingFailed = true;
}

void ReductionMesh::recordPolygonChange(int32_t f, const HostPolygon& before, const HostPolygon& after) {
    ChangeEntry e;
    e.kind = CHANGE_POLYGON;
    e.index = f;
    bool changed = false;
    for (int k = 0; k < 4; ++k) {
        e.values[k] = static_cast<uint32_t>(corner(after, k)) - static_cast<uint32_t>(corner(before, k));
        changed = changed || e.values[k] != 0;
    }
    if (changed) record(e);
}

void ReductionMesh::recordUvwChange(int32_t tag, int32_t f, const UvwRecord& before, const UvwRecord& after) {
    ChangeEntry e;
    e.kind = CHANGE_UVW;
    e.slot = tag;
    e.index = f;
    bool changed = false;
    for (int k = 0; k < 4; ++k) {
        const float* b = &before.corner[k].x;
        const float* a = &after.corner[k].x;
        for (int c = 0; c < 3; ++c) {
            e.values[3 * k + c] = bitsOf(b[c]) ^ bitsOf(a[c]);
            changed = changed || e.values[3 * k + c] != 0;
        }
    }
    if (changed) record(e);
}

void ReductionMesh::recordNormalChange(int32_t f, const NormalRecord& before, const NormalRecord& after) {
    ChangeEntry e;
    e.kind = CHANGE_NORMALS;
    e.index = f;
    bool changed = false;
    for (int k = 0; k < 12; ++k) {
        e.values[k] = static_cast<uint16_t>(before.v[k]) ^ static_cast<uint16_t>(after.v[k]);
        changed = changed || e.values[k] != 0;
    }
    if (changed) record(e);
}

void ReductionMesh::recordMembership(int32_t set, int32_t index, bool before, bool after) {
    if (before == after) return;
    ChangeEntry e;
    e.kind = CHANGE_MEMBERSHIP;
    e.slot = set;
    e.index = index;
    e.values[0] = after ? 1 : 0;
    e.values[1] = before ? 1 : 0;
    record(e);
}

void ReductionMesh::moveCorners(const Contraction& k) {
    const int32_t v1 = k.v1;
    if (recording) {
        const Vector offset = frame.offsetToObject(k.dv1);
        ChangeRecord& r = history.current();
        r.point = v1;
        r.offset[0] = static_cast<float>(offset.x);
        r.offset[1] = static_cast<float>(offset.y);
        r.offset[2] = static_cast<float>(offset.z);
    }
    // A point that lands on one of the ends takes that end's host coordinates as they are; any
    // other target is mapped back to object units.
    const bool atV1 = k.dv1.x == 0.0 && k.dv1.y == 0.0 && k.dv1.z == 0.0;
    const bool atV2 = k.dv2.x == 0.0 && k.dv2.y == 0.0 && k.dv2.z == 0.0;
    Vector& p = positions[v1];
    p = atV2 ? positions[k.v2] : add(p, k.dv1);
    const FloatVector moved = atV1 ? hostPoints[v1] : atV2 ? hostPoints[k.v2] : toFloatVector(frame.toObject(p));
    if (recording) {
        const FloatVector& old = hostPoints[v1];
        ChangeRecord& r = history.current();
        r.pointBits[0] = bitsOf(old.x) ^ bitsOf(moved.x);
        r.pointBits[1] = bitsOf(old.y) ^ bitsOf(moved.y);
        r.pointBits[2] = bitsOf(old.z) ^ bitsOf(moved.z);
    }
    hostPoints[v1] = moved;

    for (int32_t i = 0; i < k.dyingPolygons.count; ++i) retirePolygon(k.dyingPolygons.items[i]);
    for (int32_t i = k.pivot; i < k.changedPolygons.count; ++i) relinkPolygon(k.changedPolygons.items[i], k.v2, v1);

    reducibleFlags[k.v2] = 0;
    --reducibleCount;
    pointPolygons.empty(k.v2);
    // Only the polygons of the moved point changed shape.
    const FlatLists<int32_t>::List around = pointPolygons[v1];
    for (int32_t i = 0; i < around.count; ++i) unitNormals[around.items[i]] = polygonNormal(around.items[i], true);
}

void ReductionMesh::retirePolygon(int32_t f) {
    HostPolygon& p = hostPolygons[f];
    const HostPolygon before = p;
    const int n = cornerCount(before);
    for (int c = 0; c < n; ++c) pointPolygons.removeFirst(corner(before, c), f);
    p = HostPolygon{0, 0, 0, 0};
    if (recording) recordPolygonChange(f, before, p);
    uint8_t& flag = polygonFlags[f];
    // The count follows the live members of the polygon set.
    if (flag != 0) --livePolygonCount;
    flag = 0;
}

void ReductionMesh::relinkPolygon(int32_t f, int32_t v2, int32_t v1) {
    // The room was reserved with the contraction.
    if (!pointPolygons.contains(v1, f)) pointPolygons.push(v1, f);

    HostPolygon& p = hostPolygons[f];
    const HostPolygon before = p;
    if (p.c == p.d) {
        if (p.a == v2) {
            p.a = v1;
        } else if (p.b == v2) {
            p.b = v1;
        } else if (p.c == v2) {
            p.c = v1;
            p.d = v1;
        }
    } else {
        const int at = cornerOf(p, v2);
        if (at >= 0) corner(p, at) = v1;
        const int shift = triangleFormShift(p);
        if (shift != 0) {
            int32_t corners[4] = {p.a, p.b, p.c, p.d};
            rotateCorners(corners, shift);
            p = HostPolygon{corners[0], corners[1], corners[2], corners[3]};
            for (int32_t t = 0; t < uvwTags.count; ++t) {
                UvwRecord& row = uvwTags.items[t].rows[f];
                const UvwRecord old = row;
                FloatVector uvw[4] = {row.corner[0], row.corner[1], row.corner[2], row.corner[3]};
                rotateCorners(uvw, shift);
                for (int c = 0; c < 4; ++c) row.corner[c] = uvw[c];
                if (recording) recordUvwChange(t, f, old, row);
            }
            if (normalRows != nullptr) {
                NormalRecord& row = normalRows[f];
                const NormalRecord old = row;
                for (int c = 0; c < 4; ++c)
                    for (int x = 0; x < 3; ++x) row.v[3 * c + x] = old.v[3 * ((c + shift) % 4) + x];
                if (recording) recordNormalChange(f, old, row);
            }
        }
    }
    if (recording) recordPolygonChange(f, before, p);
}

void ReductionMesh::blendPointData(const Contraction& k) {
    const double f = k.interpolation();
    const int32_t v1 = k.v1;
    const int32_t v2 = k.v2;
    for (int32_t s = 0; s < pointSets.count; ++s) {
        SelectionBytes& set = pointSets.items[s];
        uint8_t& b1 = set.bytes[v1];
        const uint8_t before = b1;
        const double blended = before + (set.bytes[v2] - before) * f;
        b1 = static_cast<uint8_t>(static_cast<int32_t>(blended));
        if (recording)
            recordMembership(HISTORY_POINT_SETS + s, v1, before >= POINT_SET_THRESHOLD, b1 >= POINT_SET_THRESHOLD);
    }
    for (int32_t m = 0; m < vertexMaps.count; ++m) {
        float* w = vertexMaps.items[m].data;
        const float before = w[v1];
        const float blended = static_cast<float>(before + (static_cast<double>(w[v2]) - before) * f);
        if (recording && bitsOf(before) != bitsOf(blended)) {
            ChangeEntry e;
            e.kind = CHANGE_FLOAT;
            e.slot = m;
            e.index = v1;
            e.values[0] = bitsOf(before) ^ bitsOf(blended);
            record(e);
        }
        w[v1] = blended;
    }
    // The normals are part of this contraction's record, so they are refreshed before it closes.
    refreshNormals(v1);
    if (recording) {
        uint8_t& hidden = hiddenPointFlags[v2];
        const bool before = hidden != 0;
        hidden = 255;
        if (!before) {
            // The removed point is hidden while the level of detail is being chosen.
            hiddenPointSet.select(v2);
            recordMembership(HISTORY_HIDDEN_POINTS, v2, false, true);
        }
        history.closeRecord(*this, k.cost, k.rawError);
    }
}
