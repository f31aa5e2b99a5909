#include "mixkit/HistoryRecorder.h"

#include <cstring>

namespace {

uint32_t bitsOf(float v) {
    uint32_t b;
    memcpy(&b, &v, sizeof b);
    return b;
}

}  // namespace

bool HistoryRecorder::start(int32_t reducibleCount, int32_t uvwTags, int32_t floatMaps, int32_t pointSets,
                            HostSelection hidden) {
    recording_ = 0;
    if (!history_.startRecording(reducibleCount, uvwTags, floatMaps, HISTORY_POINT_SETS + pointSets)) return false;
    history_.bindSet(HISTORY_HIDDEN_POINTS, hidden.handle());
    recording_ = 1;
    return true;
}

void HistoryRecorder::record(const ChangeEntry& entry) {
    // The room is reserved before each contraction; a miss here means an entry is lost and the
    // record cannot be trusted, so the reduction stops after this contraction.
    if (!history_.add(entry)) failed_ = true;
}

void HistoryRecorder::recordPoint(int32_t point, const Vector& offset, const FloatVector& old, const FloatVector& moved) {
    ChangeRecord& r = history_.current();
    r.point = point;
    r.offset[0] = static_cast<float>(offset.x);
    r.offset[1] = static_cast<float>(offset.y);
    r.offset[2] = static_cast<float>(offset.z);
    r.pointBits[0] = bitsOf(old.x) ^ bitsOf(moved.x);
    r.pointBits[1] = bitsOf(old.y) ^ bitsOf(moved.y);
    r.pointBits[2] = bitsOf(old.z) ^ bitsOf(moved.z);
}

void HistoryRecorder::recordPolygon(int32_t f, const HostPolygon& before, const HostPolygon& after) {
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

void HistoryRecorder::recordUvw(int32_t slot, int32_t f, const UvwRecord& before, const UvwRecord& after) {
    ChangeEntry e;
    e.kind = CHANGE_UVW;
    e.slot = slot;
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

void HistoryRecorder::recordNormals(int32_t f, const NormalRecord& before, const NormalRecord& after) {
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

void HistoryRecorder::recordMembership(int32_t set, int32_t index, bool after) {
    ChangeEntry e;
    e.kind = CHANGE_MEMBERSHIP;
    e.slot = set;
    e.index = index;
    e.values[0] = after ? 1 : 0;
    e.values[1] = after ? 0 : 1;  // only changes are recorded
    record(e);
}

void HistoryRecorder::recordFloat(int32_t slot, int32_t index, float before, float after) {
    if (bitsOf(before) == bitsOf(after)) return;
    ChangeEntry e;
    e.kind = CHANGE_FLOAT;
    e.slot = slot;
    e.index = index;
    e.values[0] = bitsOf(before) ^ bitsOf(after);
    record(e);
}

void HistoryRecorder::release() {
    recording_ = 0;
    failed_ = false;
    history_.release();
}
