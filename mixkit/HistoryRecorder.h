// Writes what each contraction does to the host object into a ContractionHistory while a preview's
// course is recorded: the record of a contraction is begun before its first edit, every edit adds
// its change entry, and the record is closed when the contraction is complete. Outside a recording
// every call but start is a test of one flag.
//
// The slots the entries name (the UVW tags, the float maps and the normal tag in the order the
// attribute transfer keeps them; the hidden points, then the point-selection tags) are made when
// recording starts; the hidden points are bound here, the tags by whoever holds them.
#pragma once

#include <cstdint>

#include "mixkit/ChangeEntry.h"
#include "mixkit/ContractionHistory.h"
#include "sources/Geometry.h"
#include "sources/HostPolygonObject.h"
#include "sources/HostSelection.h"

// The history's selection slots: the hidden points, then the point-selection tags in order.
constexpr int32_t HISTORY_HIDDEN_POINTS = 0;
constexpr int32_t HISTORY_POINT_SETS = 1;

class HistoryRecorder {
public:
    // Whether contractions are being recorded now.
    bool recording() const { return recording_ != 0; }
    // Set when a record could not be stored; the reduction must stop.
    bool failed() const { return failed_; }
    ContractionHistory& history() { return history_; }
    const ContractionHistory& history() const { return history_; }

    // Starts recording (see ContractionHistory::startRecording) with slots for the given numbers of
    // UVW tags, float maps and point-selection tags, and the hidden set bound to its slot. False,
    // with recording off, when the host refuses the memory.
    bool start(int32_t reducibleCount, int32_t uvwTags, int32_t floatMaps, int32_t pointSets, HostSelection hidden);
    // Room for one more record of at most `entryBound` entries; false when refused.
    bool reserve(int32_t entryBound) { return history_.reserveRoom(entryBound); }

    // The calls below do nothing unless recording; the test is inline, so that a reduction that
    // records nothing pays no call for them.
    void begin() {
        if (recording_) history_.beginRecord();
    }
    // The kept point moved by `offset` (object units); its float coordinates went from old to moved.
    void pointMoved(int32_t point, const Vector& offset, const FloatVector& old, const FloatVector& moved) {
        if (recording_) recordPoint(point, offset, old, moved);
    }
    void polygonChanged(int32_t f, const HostPolygon& before, const HostPolygon& after) {
        if (recording_) recordPolygon(f, before, after);
    }
    void uvwChanged(int32_t slot, int32_t f, const UvwRecord& before, const UvwRecord& after) {
        if (recording_) recordUvw(slot, f, before, after);
    }
    void normalsChanged(int32_t f, const NormalRecord& before, const NormalRecord& after) {
        if (recording_) recordNormals(f, before, after);
    }
    // `set`: HISTORY_HIDDEN_POINTS, or HISTORY_POINT_SETS plus the point-selection tag's index.
    void membershipChanged(int32_t set, int32_t index, bool before, bool after) {
        if (recording_ && before != after) recordMembership(set, index, after);
    }
    void floatChanged(int32_t slot, int32_t index, float before, float after) {
        if (recording_) recordFloat(slot, index, before, after);
    }
    // Closes the record with the contraction's cost and quadric error and the reducible points left
    // after it. When it cannot be stored the contraction is taken back on the object and failed()
    // turns true.
    void close(HostPolygonObject object, int32_t pointCount, double cost, double error) {
        if (recording_ && !history_.closeRecord(object, pointCount, cost, error)) failed_ = true;
    }

    // Ends recording and frees the history.
    void release();

private:
    void record(const ChangeEntry& entry);
    void recordPoint(int32_t point, const Vector& offset, const FloatVector& old, const FloatVector& moved);
    void recordPolygon(int32_t f, const HostPolygon& before, const HostPolygon& after);
    void recordUvw(int32_t slot, int32_t f, const UvwRecord& before, const UvwRecord& after);
    void recordNormals(int32_t f, const NormalRecord& before, const NormalRecord& after);
    void recordMembership(int32_t set, int32_t index, bool after);
    void recordFloat(int32_t slot, int32_t index, float before, float after);

    uint32_t recording_ = 0;
    bool failed_ = false;
    ContractionHistory history_;
};
