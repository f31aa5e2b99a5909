// A binary max-heap of items that know their own place in it, so that an item can be re-keyed or
// taken out in logarithmic time. The heap holds pointers only; the items belong to its user. Each
// slot keeps a copy of its item's key beside the pointer, so that sifting reads one array.
//
// Invariant: key[(i - 1) / 2] >= key[i] for every i > 0, slot[i].item->heapPosition == i and
// slot[i].key == slot[i].item->heapKey.
#pragma once

#include <cstdint>

#include "sources/Stack.h"

// Position of an item that is not in a heap.
constexpr int32_t HEAP_ABSENT = -47;

// What the heap orders. Records kept in a heap derive from it, so that these come first.
struct HeapItem {
    double heapKey = 0.0;                 // larger is nearer the top
    int32_t heapPosition = HEAP_ABSENT;  // index in the heap's array
};

class CandidateHeap {
public:
    struct Slot {
        double key;
        HeapItem* item;
    };

    // Makes room for n items; false when the host refuses the memory.
    bool reserve(int32_t n) { return slots.reserve(n); }
    // Empties the heap and frees its array (the items are not touched).
    void clear() { slots.clear(); }

    // Sets the key and adds the item. When the array cannot grow the item stays out (position
    // HEAP_ABSENT) and the failure is reported on the console.
    void insert(HeapItem* item, double key);
    // Stores key - 1e-10, so that a re-keyed item sorts just below a fresh one of the same key,
    // and moves the item to its new place.
    void updateKey(HeapItem* item, double key);
    // The item with the largest key, taken out; null when the heap is empty.
    HeapItem* popTop();
    // Takes the item out; null (and nothing changes) when it is not in the heap.
    HeapItem* remove(HeapItem* item);

    int32_t size() const { return slots.count; }
    HeapItem* at(int32_t i) const { return slots.items[i].item; }

    Stack<Slot> slots;

private:
    void place(const Slot& s, int32_t i) {
        slots.items[i] = s;
        s.item->heapPosition = i;
    }
    void swap(int32_t i, int32_t j);
    void dropLast() { --slots.count; }
    void siftUp(int32_t i);
    void siftDown(int32_t i);
};
