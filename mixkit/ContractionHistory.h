// The recorded course of a complete reduction, one record per contraction, along which the object
// can be moved to any level of detail by making or taking back whole records.
#pragma once

#include <cstdint>

#include "mixkit/ChangeRecord.h"
#include "sources/HostPolygonObject.h"
#include "sources/Stack.h"

class ReductionMesh;

class ContractionHistory {
public:
    int32_t cursor = -1;        // the last applied record; -1 when none is
    int32_t initialCount = 0;   // reducible points when recording started
    int32_t currentCount = 0;   // reducible points at the cursor
    double currentError = 0.0;  // quadric error of the record at the cursor (0 before the first)
    Stack<ChangeRecord> records;

    // Starts recording on the mesh: cursor -1, room for one record per reducible point (records
    // already held stay), counts from the mesh, error 0, the mesh's recording flag set.
    void startRecording(ReductionMesh& mesh);
    // Makes sure that the next contraction of v1 and v2 can be recorded whole: room for one more
    // record and for every entry it can produce. False (reported on the console) when the host
    // refuses the memory; the contraction must then not be made.
    bool reserveRoom(ReductionMesh& mesh, int32_t v1, int32_t v2);
    // Ends the mesh's current record with the contraction's cost and quadric error and appends it.
    // Returns false only when it could not be stored; the contraction is then taken back on the host
    // object.
    bool closeRecord(ReductionMesh& mesh, double cost, double error);

    // Makes the costs and the errors non-decreasing, so that an error limit selects a prefix of the
    // records: the same prefix a direct reduction to that limit makes, since it stops at the first
    // contraction whose quadric error passes the limit.
    void makeMonotone();

    // Makes or takes back one record on the host object.
    static void applyRecord(const ChangeRecord& record, HostPolygonObject object);
    static void revertRecord(const ChangeRecord& record, HostPolygonObject object);

    // Moves the object to the deepest level whose point count is not below the target.
    void seekToCount(int32_t target, HostPolygonObject object);
    // Moves the object to the deepest level whose quadric error does not exceed the limit.
    void seekToError(double limit, HostPolygonObject object);

    int32_t size() const { return records.count; }
    void release();

private:
    void takeCountsFromCursor();
};
