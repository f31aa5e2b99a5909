#include "mixkit/ContractionHistory.h"

#include <utility>


namespace {

// Storage blocks start small and grow to this size; a record never straddles two blocks.
constexpr int32_t kFirstBlockBytes = 1 << 16;
constexpr int32_t kBlockBytes = 1 << 22;
// A single record larger than this is refused.
constexpr int64_t kLargestRecordBytes = int64_t{1} << 30;

}  // namespace

bool ChangeReader::next(ChangeEntry& e) {
    if (left_ <= 0) return false;
    at_ += unpackEntry(at_, previous_, e);
    --left_;
    return true;
}

bool ContractionHistory::startRecording(int32_t reducibleCount, int32_t uvwTags, int32_t floatMaps, int32_t sets) {
    clearSlots();
    if (!uvwTags_.resize(uvwTags) || !uvwNow_.resize(uvwTags) || !mapTags_.resize(floatMaps) ||
        !mapsNow_.resize(floatMaps) || !sets_.resize(sets)) {
        clearSlots();
        return false;
    }
    cursor = -1;
    records_.reserve(records_.count + reducibleCount);
    initialCount = currentCount = reducibleCount;
    currentError = 0.0;
    return true;
}

void ContractionHistory::clearSlots() {
    uvwTags_.clear();
    mapTags_.clear();
    sets_.clear();
    uvwNow_.clear();
    mapsNow_.clear();
    normalTag_ = HostTag();
}

bool ContractionHistory::roomFor(int32_t entries) {
    if (records_.count == records_.capacity && !records_.reserve(records_.grownCapacity())) return false;
    const int64_t bytes = static_cast<int64_t>(entries) * MAX_PACKED_ENTRY;
    if (bytes > kLargestRecordBytes) return false;
    if (blocks_.count > 0) {
        const Stack<uint8_t>& last = blocks_.items[blocks_.count - 1];
        if (last.capacity - last.count >= bytes) return true;
    }
    int64_t size = blocks_.count == 0 ? kFirstBlockBytes
                                      : static_cast<int64_t>(blocks_.items[blocks_.count - 1].capacity) * 2;
    if (size > kBlockBytes) size = kBlockBytes;
    if (size < bytes) size = bytes;
    Stack<uint8_t> fresh;
    if (!fresh.reserve(static_cast<int32_t>(size))) return false;
    const int32_t before = blocks_.count;
    blocks_.push(std::move(fresh));
    return blocks_.count != before;
}

bool ContractionHistory::reserveRoom(int32_t bound) {
    return currentEntries_.reserve(bound) && roomFor(bound);
}

void ContractionHistory::beginRecord() {
    current_ = ChangeRecord();
    currentEntries_.count = 0;
}

bool ContractionHistory::add(const ChangeEntry& e) {
    const int32_t before = currentEntries_.count;
    currentEntries_.push(e);
    return currentEntries_.count != before;
}

bool ContractionHistory::append(const ChangeRecord& record, const ChangeEntry* entries, int32_t count) {
    if (!roomFor(count)) return false;
    const int32_t b = blocks_.count - 1;
    Stack<uint8_t>& block = blocks_.items[b];
    ChangeRecord r = record;
    r.block = b;
    r.start = block.count;
    r.entryCount = count;
    int32_t previous = record.point;
    for (int32_t i = 0; i < count; ++i) block.count += packEntry(entries[i], previous, block.items + block.count);
    records_.push(r);  // room was made above
    return true;
}

bool ContractionHistory::closeRecord(HostPolygonObject object, int32_t pointCount, double cost, double error) {
    current_.cost = cost;
    current_.error = error;
    current_.pointCount = pointCount;
    if (!append(current_, currentEntries_.items, currentEntries_.count)) {
        // Not stored: take the contraction back so that the object stays at the last record. The
        // entries of one record commute (see applyRecord), so their order does not matter here.
        const ChangeTargets t = lookUpTargets(object);
        if (FloatVector* p = current_.point >= 0 && current_.point < t.points.count ? t.points.data + current_.point : nullptr) {
            uint32_t* bits = reinterpret_cast<uint32_t*>(p);
            for (int k = 0; k < 3; ++k) bits[k] ^= current_.pointBits[k];
        }
        for (int32_t i = currentEntries_.count - 1; i >= 0; --i) applyChange(currentEntries_.items[i], t, false);
        return false;
    }
    ++cursor;
    currentCount = records_.items[cursor].pointCount;
    currentError = records_.items[cursor].error;
    return true;
}

void ContractionHistory::makeMonotone() {
    if (records_.count == 0) return;
    double cost = records_.items[0].cost, error = records_.items[0].error;
    for (int32_t i = 1; i < records_.count; ++i) {
        ChangeRecord& r = records_.items[i];
        if (r.cost < cost) r.cost = cost;
        if (r.error < error) r.error = error;
        cost = r.cost;
        error = r.error;
    }
}

ChangeReader ContractionHistory::entries(int32_t i) const {
    ChangeReader reader;
    if (i < 0 || i >= records_.count) return reader;
    const ChangeRecord& r = records_.items[i];
    reader.at_ = blocks_.items[r.block].items + r.start;
    reader.left_ = r.entryCount;
    reader.previous_ = r.point;
    return reader;
}

int64_t ContractionHistory::storageBytes() const {
    int64_t bytes = static_cast<int64_t>(records_.capacity) * static_cast<int64_t>(sizeof(ChangeRecord));
    for (int32_t b = 0; b < blocks_.count; ++b) bytes += blocks_.items[b].capacity;
    return bytes;
}

ChangeTargets ContractionHistory::lookUpTargets(HostPolygonObject object) {
    ChangeTargets t;
    t.points = {reinterpret_cast<FloatVector*>(object.points()), object.pointCount()};
    t.polygons = {object.polygons(), object.polygonCount()};
    // The two lists of a kind are sized together (or both left empty) when the slots are bound.
    for (int32_t i = 0; i < uvwNow_.count; ++i)
        uvwNow_.items[i] = {static_cast<UvwRecord*>(uvwTags_.items[i].data()), uvwTags_.items[i].dataCount()};
    for (int32_t i = 0; i < mapsNow_.count; ++i)
        mapsNow_.items[i] = {static_cast<float*>(mapTags_.items[i].data()), mapTags_.items[i].dataCount()};
    t.uvw = uvwNow_.items;
    t.uvwCount = uvwNow_.count;
    if (normalTag_.valid()) t.normals = {static_cast<NormalRecord*>(normalTag_.data()), normalTag_.dataCount()};
    t.maps = mapsNow_.items;
    t.mapCount = mapsNow_.count;
    t.sets = sets_.items;
    t.setCount = sets_.count;
    return t;
}

// Every entry of a record is an exclusive-or, an integer difference, or a membership of a set
// element that the record names once, so a record's entries commute: taking a record back runs
// them in the order they were packed.
void ContractionHistory::applyRecord(const ChangeRecord& r, const ChangeReader& entries, const ChangeTargets& t,
                                     bool forward) const {
    if (r.point >= 0 && r.point < t.points.count) {
        uint32_t* bits = reinterpret_cast<uint32_t*>(&t.points.data[r.point]);
        for (int k = 0; k < 3; ++k) bits[k] ^= r.pointBits[k];
    }
    ChangeReader reader = entries;
    ChangeEntry e;
    while (reader.next(e)) applyChange(e, t, forward);
}

void ContractionHistory::step(bool forward, const ChangeTargets& t) {
    if (forward) {
        ++cursor;
        applyRecord(records_.items[cursor], entries(cursor), t, true);
    } else {
        applyRecord(records_.items[cursor], entries(cursor), t, false);
        --cursor;
    }
    takeCountsFromCursor();
}

void ContractionHistory::takeCountsFromCursor() {
    if (cursor < 0) {
        currentCount = initialCount;
        currentError = 0.0;
    } else {
        currentCount = records_.items[cursor].pointCount;
        currentError = records_.items[cursor].error;
    }
}

void ContractionHistory::seekToCount(int32_t target, HostPolygonObject object) {
    const ChangeTargets t = lookUpTargets(object);
    if (target < currentCount) {
        do {
            if (cursor >= records_.count - 1) break;
            step(true, t);
        } while (currentCount > target);
    }
    while (currentCount < target && cursor >= 0) step(false, t);
}

void ContractionHistory::seekToError(double limit, HostPolygonObject object) {
    const ChangeTargets t = lookUpTargets(object);
    if (limit >= currentError) {
        do {
            if (cursor >= records_.count - 1) break;
            step(true, t);
        } while (currentError <= limit);
    }
    while (currentError > limit && cursor >= 0) step(false, t);
}

void ContractionHistory::release() {
    records_.clear();
    blocks_.clear();
    current_ = ChangeRecord();
    currentEntries_.clear();
    uvwTags_.clear();
    mapTags_.clear();
    normalTag_ = HostTag();
    sets_.clear();
    uvwNow_.clear();
    mapsNow_.clear();
    cursor = -1;
    initialCount = currentCount = 0;
    currentError = 0.0;
}
