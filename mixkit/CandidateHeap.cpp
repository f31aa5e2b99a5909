#include "mixkit/CandidateHeap.h"

namespace {
// Subtracted from every re-keyed item's key.
constexpr double kRekeyBias = 1e-10;
}  // namespace

void CandidateHeap::insert(HeapItem* item, double key) {
    item->heapKey = key;
    item->heapPosition = HEAP_ABSENT;
    const int32_t before = slots.count;
    slots.push(Slot{key, item});
    if (slots.count == before) return;  // no room: the item stays out
    item->heapPosition = slots.count - 1;
    siftUp(slots.count - 1);
}

void CandidateHeap::updateKey(HeapItem* item, double key) {
    item->heapKey = key - kRekeyBias;
    const int32_t p = item->heapPosition;
    if (p < 0 || p >= slots.count) return;
    slots.items[p].key = item->heapKey;
    if (p > 0 && slots.items[(p - 1) / 2].key < item->heapKey)
        siftUp(p);
    else
        siftDown(p);
}

HeapItem* CandidateHeap::popTop() {
    if (slots.count == 0) return nullptr;
    HeapItem* top = slots.items[0].item;
    if (slots.count == 1) {
        dropLast();
    } else {
        swap(0, slots.count - 1);
        dropLast();
        siftDown(0);
    }
    top->heapPosition = HEAP_ABSENT;
    return top;
}

HeapItem* CandidateHeap::remove(HeapItem* item) {
    const int32_t p = item->heapPosition;
    if (p == HEAP_ABSENT || p < 0 || p >= slots.count) return nullptr;
    const int32_t last = slots.count - 1;
    if (p == last) {
        dropLast();
        item->heapPosition = HEAP_ABSENT;
        return item;
    }
    swap(p, last);
    dropLast();
    item->heapPosition = HEAP_ABSENT;
    if (item->heapKey > slots.items[p].key)
        siftDown(p);
    else
        siftUp(p);
    return item;
}

void CandidateHeap::swap(int32_t i, int32_t j) {
    const Slot a = slots.items[i];
    const Slot b = slots.items[j];
    place(b, i);
    place(a, j);
}

void CandidateHeap::siftUp(int32_t i) {
    const Slot held = slots.items[i];
    const int32_t start = i;
    while (i > 0) {
        const int32_t parent = (i - 1) / 2;
        if (slots.items[parent].key >= held.key) break;
        place(slots.items[parent], i);
        i = parent;
    }
    if (i != start) place(held, i);
}

void CandidateHeap::siftDown(int32_t i) {
    const Slot held = slots.items[i];
    const int32_t start = i;
    const int32_t n = slots.count;
    const Slot* s = slots.items;
    while (2 * i + 1 < n) {
        int32_t c = 2 * i + 1;
        // The grandchildren, read at the next step whichever child is taken: their slot lines
        // are asked for now, so that the wait overlaps this step's work.
        if (4 * i + 3 < n) {
            __builtin_prefetch(s + 4 * i + 3);
            __builtin_prefetch(s + (4 * i + 6 < n ? 4 * i + 6 : n - 1));
        }
        if (c + 1 < n && s[c + 1].key > s[c].key) c = c + 1;
        if (!(s[c].key > held.key)) break;
        place(s[c], i);
        i = c;
    }
    if (i != start) place(held, i);
}
