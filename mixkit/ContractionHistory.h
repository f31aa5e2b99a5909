// The recorded course of a complete reduction, one record per contraction, along which the object
// can be moved to any level of detail by making or taking back whole records.
//
// Records sit in one array; their change entries are packed one after the other into a few large
// storage blocks (see ChangeEntry.h for the packing). Entries name what they change by slot, and
// the slots are looked up on the object each time the history is applied, so nothing in the
// history depends on where the object keeps its data.
#pragma once

#include <cstdint>

#include "mixkit/ChangeEntry.h"
#include "mixkit/ChangeRecord.h"
#include "sources/HostPolygonObject.h"
#include "sources/HostTag.h"
#include "sources/Stack.h"

// Reads one record's entries in the order they were made.
class ChangeReader {
public:
    bool next(ChangeEntry& e);

private:
    friend class ContractionHistory;
    const uint8_t* at_ = nullptr;
    int32_t left_ = 0;
    int32_t previous_ = 0;
};

class ContractionHistory {
public:
    int32_t cursor = -1;        // the last applied record; -1 when none is
    int32_t initialCount = 0;   // reducible points when recording started
    int32_t currentCount = 0;   // reducible points at the cursor
    double currentError = 0.0;  // quadric error of the record at the cursor (0 before the first)

    // Starts a recording: cursor -1, room for one record per reducible point (records already
    // held stay), both counts `reducibleCount`, error 0, and empty slots for that many UVW tags,
    // float maps and selection sets, which the bind calls then fill. False (nothing recorded then)
    // when the host refuses the memory.
    bool startRecording(int32_t reducibleCount, int32_t uvwTags, int32_t floatMaps, int32_t sets);
    // The tag or set an entry's slot names, for each slot made by startRecording.
    void bindUvwTag(int32_t slot, HostTag tag) { uvwTags_.items[slot] = tag; }
    void bindFloatMap(int32_t slot, HostTag tag) { mapTags_.items[slot] = tag; }
    void bindNormalTag(HostTag tag) { normalTag_ = tag; }
    void bindSet(int32_t slot, HstSelection* set) { sets_.items[slot] = set; }
    // Makes sure that the next contraction can be recorded whole: room for one more record and for
    // `entryBound` entries. False when the host refuses the memory; the contraction must then not
    // be made.
    bool reserveRoom(int32_t entryBound);

    // The record being made: begun empty, filled in by the contraction's effects, then closed.
    void beginRecord();
    ChangeRecord& current() { return current_; }
    // Adds an entry to the record being made; false when it could not be kept (no room reserved).
    bool add(const ChangeEntry& e);
    int32_t currentEntryCount() const { return currentEntries_.count; }
    // Ends the record being made with the contraction's cost and quadric error and the reducible
    // points left after it, and appends it. Returns false only when it could not be stored; the
    // contraction is then taken back on the host object.
    bool closeRecord(HostPolygonObject object, int32_t pointCount, double cost, double error);
    // Appends a whole record with its entries (its storage fields are set here). False when the
    // host refuses the memory; the history is unchanged then.
    bool append(const ChangeRecord& record, const ChangeEntry* entries, int32_t count);

    // Makes the costs and the errors non-decreasing, so that an error limit selects a prefix of the
    // records: the same prefix a direct reduction to that limit makes, since it stops at the first
    // contraction whose quadric error passes the limit.
    void makeMonotone();

    // Moves the object to the deepest level whose point count is not below the target.
    void seekToCount(int32_t target, HostPolygonObject object);
    // Moves the object to the deepest level whose quadric error does not exceed the limit.
    void seekToError(double limit, HostPolygonObject object);

    int32_t size() const { return records_.count; }
    const ChangeRecord& record(int32_t i) const { return records_.items[i]; }
    ChangeReader entries(int32_t i) const;
    // Bytes of storage the records and their entries hold.
    int64_t storageBytes() const;
    void release();

private:
    void clearSlots();
    bool roomFor(int32_t entries);
    // The slots' arrays as the object holds them now.
    ChangeTargets lookUpTargets(HostPolygonObject object);
    void applyRecord(const ChangeRecord& r, const ChangeReader& entries, const ChangeTargets& t, bool forward) const;
    void step(bool forward, const ChangeTargets& t);
    void takeCountsFromCursor();

    Stack<ChangeRecord> records_;
    Stack<Stack<uint8_t>> blocks_;
    ChangeRecord current_;
    Stack<ChangeEntry> currentEntries_;

    // The slots, in the order entries number them.
    Stack<HostTag> uvwTags_;
    Stack<HostTag> mapTags_;
    HostTag normalTag_;
    Stack<HstSelection*> sets_;
    Stack<ChangeArray<UvwRecord>> uvwNow_;
    Stack<ChangeArray<float>> mapsNow_;
};
