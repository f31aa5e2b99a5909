// A binary max-heap of references (an address or a number) whose items know their own place in it,
// so that an item can be re-keyed or taken out in logarithmic time. The keys and the references are
// kept in two arrays side by side: sifting compares keys only, and a reference that takes 4 bytes
// (a candidate's number) costs 12 bytes a slot instead of the 16 of a padded pair. The places are
// kept wherever `Positions` says: positions(ref) is the item's int32_t place, HEAP_ABSENT when it
// is in no heap.
//
// Invariant: key(i) <= key((i - 1) / 2) for every i > 0, and positions(at(i)) == i.
#pragma once

#include <cstdint>

#include "sources/Stack.h"

// Position of an item that is not in a heap.
constexpr int32_t HEAP_ABSENT = -47;

template <typename Ref, typename Positions>
class IndexedHeap {
public:
    // Subtracted from every re-keyed item's key (updateKey).
    static constexpr double kRekeyBias = 1e-10;

    IndexedHeap() = default;
    explicit IndexedHeap(Positions positions) : positions_(positions) {}
    void setPositions(Positions positions) { positions_ = positions; }

    // Makes room for n items; false when the host refuses the memory.
    bool reserve(int32_t n) { return keys_.reserve(n) && refs_.reserve(n); }
    // Empties the heap and frees its arrays (the items' places are not touched).
    void clear() {
        keys_.clear();
        refs_.clear();
        built_ = 0;
        pending_ = false;
    }

    // Moves the items into arrays of just their number and frees the old ones; false when refused
    // (the heap holds the same items in the same places either way).
    bool shrinkToFit() { return shrink(keys_) && shrink(refs_); }

    int32_t size() const { return keys_.count; }
    // Frees the references and keeps the keys, for a caller that hands the items on to other heaps
    // and reads only their keys (keyAt, at their places) meanwhile; nothing else may be asked of
    // the heap until clear.
    void keepKeysOnly() { refs_.clear(); }
    Ref at(int32_t i) const { return refs_.items[i]; }
    double keyAt(int32_t i) const { return keys_.items[i]; }
    // Asks the processor for slot i's key, which re-keying its item reads first.
    void prefetchSlot(int32_t i) const { __builtin_prefetch(keys_.items + i); }

    // Adds the item at the key. False when the arrays cannot grow: the item stays out (place
    // HEAP_ABSENT) and the failure is reported on the console.
    bool insert(Ref r, double key) {
        positions_(r) = HEAP_ABSENT;
        if (keys_.count == keys_.capacity || refs_.count == refs_.capacity) {
            const int32_t grown = keys_.grownCapacity();
            if (!keys_.reserve(grown) || !refs_.reserve(grown)) return false;
        }
        const int32_t i = keys_.count++;
        ++refs_.count;
        keys_.items[i] = key;
        refs_.items[i] = r;
        positions_(r) = i;
        siftUp(i);
        return true;
    }
    // Stores key - kRekeyBias, so that a re-keyed item sorts just below a fresh one of the same key,
    // and moves the item to its new place; nothing happens to an item outside the heap.
    void updateKey(Ref r, double key) {
        const int32_t p = positions_(r);
        if (p < 0 || p >= keys_.count) return;
        const double stored = key - kRekeyBias;
        keys_.items[p] = stored;
        if (p > 0 && keys_.items[(p - 1) / 2] < stored)
            siftUp(p);
        else
            siftDown(p);
    }
    // insert for an item outside the heap (place HEAP_ABSENT), else updateKey.
    void insertOrUpdate(Ref r, double key) {
        if (positions_(r) == HEAP_ABSENT)
            insert(r, key);
        else
            updateKey(r, key);
    }
    // Takes out the item with the largest key and tells it and its key; false when empty.
    bool popTop(Ref& r, double& key) {
        if (keys_.count == 0) return false;
        r = refs_.items[0];
        key = keys_.items[0];
        const int32_t last = keys_.count - 1;
        if (last > 0) place(keys_.items[last], refs_.items[last], 0);
        dropLast();
        if (last > 1) siftDown(0);
        positions_(r) = HEAP_ABSENT;
        return true;
    }
    // Takes the item out; false (and nothing changes) when it is not in the heap.
    bool remove(Ref r) {
        const int32_t p = positions_(r);
        if (p < 0 || p >= keys_.count) return false;
        const double key = keys_.items[p];
        const int32_t last = keys_.count - 1;
        if (p != last) place(keys_.items[last], refs_.items[last], p);
        dropLast();
        positions_(r) = HEAP_ABSENT;
        if (p == last) return true;
        if (key > keys_.items[p])
            siftDown(p);
        else
            siftUp(p);
        return true;
    }

    // Building in place, for callers that make the keys of many items at once (on several
    // threads): `resizeForBuild(n)` gives n unordered slots after the items in the heap, each slot
    // is filled with `setPending`, and `insertPending` then inserts them in slot order, exactly as
    // n calls of insert would. False when the arrays cannot grow (nothing changes).
    bool resizeForBuild(int32_t n) {
        built_ = keys_.count;
        if (!reserve(built_ + n)) return false;
        keys_.count += n;
        refs_.count += n;
        pending_ = n > 0;
        return true;
    }
    void setPending(int32_t i, Ref r, double key) {
        setPendingKey(i, key);
        setPendingRef(i, r);
    }
    // The two halves of setPending, for a caller that has the keys before it may write the rest.
    void setPendingKey(int32_t i, double key) { keys_.items[built_ + i] = key; }
    void setPendingRef(int32_t i, Ref r) { refs_.items[built_ + i] = r; }
    // setPending that also gives the item its slot as its place, so that keyAt(place) answers for
    // it before the slots are put in order: a caller that only reads the keys and hands the items
    // on to other heaps never needs that order.
    void setPendingPlaced(int32_t i, Ref r, double key) {
        setPending(i, r, key);
        positions_(r) = built_ + i;
    }
    // Whether slots wait for insertPending; until it runs, only keyAt and size may be asked.
    bool hasPending() const { return pending_; }
    void insertPending() {
        for (int32_t i = built_; i < keys_.count; ++i) {
            positions_(refs_.items[i]) = i;
            siftUp(i);
        }
        built_ = keys_.count;
        pending_ = false;
    }

private:
    template <typename T>
    static bool shrink(Stack<T>& s) {
        if (s.capacity == s.count) return true;
        Stack<T> fitted;
        if (s.count > 0 && !fitted.reserve(s.count)) return false;
        for (int32_t i = 0; i < s.count; ++i) fitted.items[i] = s.items[i];
        fitted.count = s.count;
        s = static_cast<Stack<T>&&>(fitted);
        return true;
    }
    void place(double key, Ref r, int32_t i) {
        keys_.items[i] = key;
        refs_.items[i] = r;
        positions_(r) = i;
    }
    void dropLast() {
        --keys_.count;
        --refs_.count;
    }
    void siftUp(int32_t i) {
        const double key = keys_.items[i];
        const Ref r = refs_.items[i];
        const int32_t start = i;
        while (i > 0) {
            const int32_t parent = (i - 1) / 2;
            if (keys_.items[parent] >= key) break;
            place(keys_.items[parent], refs_.items[parent], i);
            i = parent;
        }
        if (i != start) place(key, r, i);
    }
    void siftDown(int32_t i) {
        const double key = keys_.items[i];
        const Ref r = refs_.items[i];
        const int32_t start = i;
        const int32_t n = keys_.count;
        const double* k = keys_.items;
        while (2 * i + 1 < n) {
            int32_t c = 2 * i + 1;
            // The grandchildren, read at the next step whichever child is taken: their keys are
            // asked for now, so that the wait overlaps this step's work.
            if (4 * i + 3 < n) {
                __builtin_prefetch(k + 4 * i + 3);
                __builtin_prefetch(k + (4 * i + 6 < n ? 4 * i + 6 : n - 1));
                __builtin_prefetch(refs_.items + 4 * i + 3);
            }
            if (c + 1 < n && k[c + 1] > k[c]) c = c + 1;
            if (!(k[c] > key)) break;
            place(k[c], refs_.items[c], i);
            i = c;
        }
        if (i != start) place(key, r, i);
    }

    Stack<double> keys_;
    Stack<Ref> refs_;
    Positions positions_{};
    int32_t built_ = 0;     // slots below this are ordered (while building in place)
    bool pending_ = false;  // slots from built_ on wait for insertPending
};
