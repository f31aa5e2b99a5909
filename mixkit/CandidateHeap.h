// A binary max-heap of records that know their own place in it, so that a record can be re-keyed
// or taken out in logarithmic time. The heap holds addresses only; the records belong to its user,
// and each keeps a copy of its key (heapKey) for its user to read.
//
// Invariant: at((i - 1) / 2)->heapKey >= at(i)->heapKey for every i > 0 and
// at(i)->heapPosition == i.
#pragma once

#include <cstdint>

#include "mixkit/IndexedHeap.h"

// What the heap orders. Records kept in a heap derive from it, so that these come first.
struct HeapItem {
    double heapKey = 0.0;                 // larger is nearer the top
    int32_t heapPosition = HEAP_ABSENT;  // index in the heap's array
};

class CandidateHeap {
public:
    // Makes room for n items; false when the host refuses the memory.
    bool reserve(int32_t n) { return heap_.reserve(n); }
    // Empties the heap and frees its array (the items are not touched).
    void clear() { heap_.clear(); }

    // Sets the key and adds the item. When the array cannot grow the item stays out (position
    // HEAP_ABSENT) and the failure is reported on the console.
    void insert(HeapItem* item, double key) {
        item->heapKey = key;
        heap_.insert(item, key);
    }
    // Stores key - 1e-10, so that a re-keyed item sorts just below a fresh one of the same key,
    // and moves the item to its new place.
    void updateKey(HeapItem* item, double key) {
        item->heapKey = key - Heap::kRekeyBias;
        heap_.updateKey(item, key);
    }
    // The item with the largest key, taken out; null when the heap is empty.
    HeapItem* popTop() {
        HeapItem* top = nullptr;
        double key = 0.0;
        return heap_.popTop(top, key) ? top : nullptr;
    }
    // Takes the item out; null (and nothing changes) when it is not in the heap.
    HeapItem* remove(HeapItem* item) { return heap_.remove(item) ? item : nullptr; }

    int32_t size() const { return heap_.size(); }
    HeapItem* at(int32_t i) const { return heap_.at(i); }

private:
    struct ItemPositions {
        int32_t& operator()(HeapItem* item) const { return item->heapPosition; }
    };
    using Heap = IndexedHeap<HeapItem*, ItemPositions>;
    Heap heap_;
};
