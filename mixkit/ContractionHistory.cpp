#include "mixkit/ContractionHistory.h"

#include <utility>

#include "mixkit/ReductionMesh.h"

void ContractionHistory::startRecording(ReductionMesh& mesh) {
    cursor = -1;
    records.reserve(records.count + mesh.reducibleCount);
    initialCount = currentCount = mesh.reducibleCount;
    currentError = 0.0;
    mesh.recording = 1;
}

bool ContractionHistory::reserveRoom(ReductionMesh& mesh, int32_t v1, int32_t v2) {
    if (records.count == records.capacity && !records.reserve(records.grownCapacity())) return false;
    return mesh.currentRecord.entries.reserve(mesh.recordEntryBound(v1, v2));
}

bool ContractionHistory::closeRecord(ReductionMesh& mesh, double cost, double error) {
    ChangeRecord& current = mesh.currentRecord;
    current.cost = cost;
    current.error = error;
    current.pointCount = mesh.reducibleCount;

    ChangeRecord stored;
    stored.cost = current.cost;
    stored.error = current.error;
    stored.pointCount = current.pointCount;
    stored.point = current.point;
    for (int k = 0; k < 3; ++k) {
        stored.offset[k] = current.offset[k];
        stored.pointBits[k] = current.pointBits[k];
    }
    // The working list has room to spare; the record gets a list of its exact size. When that
    // cannot be had, the record takes the working list itself and the next contraction asks for
    // new room before it starts.
    if (stored.entries.reserve(current.entries.count)) {
        for (int32_t i = 0; i < current.entries.count; ++i) stored.entries.items[i] = current.entries.items[i];
        stored.entries.count = current.entries.count;
        current.entries.count = 0;
    } else {
        stored.entries = std::move(current.entries);
    }

    const int32_t before = records.count;
    records.push(std::move(stored));
    if (records.count == before) {
        // Not stored: take the contraction back so that the object stays at the last record.
        revertRecord(stored, mesh.object);
        mesh.recordingFailed = true;
        return false;
    }
    ++cursor;
    currentCount = records.items[cursor].pointCount;
    currentError = records.items[cursor].error;
    return true;
}

void ContractionHistory::makeMonotone() {
    if (records.count == 0) return;
    double cost = records.items[0].cost, error = records.items[0].error;
    for (int32_t i = 1; i < records.count; ++i) {
        ChangeRecord& r = records.items[i];
        if (r.cost < cost) r.cost = cost;
        if (r.error < error) r.error = error;
        cost = r.cost;
        error = r.error;
    }
}

namespace {

void flipPoint(FloatVector* points, const ChangeRecord& record) {
    if (points == nullptr) return;
    uint32_t* bits = reinterpret_cast<uint32_t*>(&points[record.point]);
    for (int k = 0; k < 3; ++k) bits[k] ^= record.pointBits[k];
}

}  // namespace

void ContractionHistory::applyRecord(const ChangeRecord& record, HostPolygonObject object) {
    flipPoint(reinterpret_cast<FloatVector*>(object.points()), record);
    HostPolygon* polygons = object.polygons();
    for (int32_t i = 0; i < record.entries.count; ++i) record.entries.items[i].apply(polygons, true);
}

void ContractionHistory::revertRecord(const ChangeRecord& record, HostPolygonObject object) {
    flipPoint(reinterpret_cast<FloatVector*>(object.points()), record);
    HostPolygon* polygons = object.polygons();
    for (int32_t i = record.entries.count - 1; i >= 0; --i) record.entries.items[i].apply(polygons, false);
}

void ContractionHistory::takeCountsFromCursor() {
    if (cursor < 0) {
        currentCount = initialCount;
        currentError = 0.0;
    } else {
        currentCount = records.items[cursor].pointCount;
        currentError = records.items[cursor].error;
    }
}

void ContractionHistory::seekToCount(int32_t target, HostPolygonObject object) {
    if (target < currentCount) {
        do {
            if (cursor >= records.count - 1) break;
            ++cursor;
            applyRecord(records.items[cursor], object);
            takeCountsFromCursor();
        } while (currentCount > target);
    }
    while (currentCount < target && cursor >= 0) {
        revertRecord(records.items[cursor], object);
        --cursor;
        takeCountsFromCursor();
    }
}

void ContractionHistory::seekToError(double limit, HostPolygonObject object) {
    if (limit >= currentError) {
        do {
            if (cursor >= records.count - 1) break;
            ++cursor;
            applyRecord(records.items[cursor], object);
            takeCountsFromCursor();
        } while (currentError <= limit);
    }
    while (currentError > limit && cursor >= 0) {
        revertRecord(records.items[cursor], object);
        --cursor;
        takeCountsFromCursor();
    }
}

void ContractionHistory::release() {
    records.clear();
    cursor = -1;
    initialCount = currentCount = 0;
    currentError = 0.0;
}
