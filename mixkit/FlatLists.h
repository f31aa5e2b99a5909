// Many short lists, one per index (a point's polygons, a point's edge candidates), kept in one
// block: each list is a run of slots in a shared array with room to grow. A list that outgrows its
// run moves to the free end of the array; when the end is full the array is copied into one twice
// as large. Two blocks from the host allocator in all, however many lists there are, and the lists
// of neighbouring indices lie side by side.
//
// Invariant: for every list, start + capacity <= slots_.count <= slots_.capacity, count <= capacity, and no
// two runs overlap.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "mixkit/StackHelpers.h"
#include "sources/Stack.h"

template <typename T>
class FlatLists {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>, "plain elements only");

public:
    // One list's live elements. Valid until the next call that can move a list (reserve, push).
    struct List {
        T* items = nullptr;
        int32_t count = 0;
        T* begin() const { return items; }
        T* end() const { return items + count; }
        bool empty() const { return count == 0; }
        T& operator[](int32_t i) const { return items[i]; }
    };

    // `lists` empty lists, list i with room for capacities[i] elements (none when capacities is
    // null); a big array's room is cleared on up to `workers` host workers. False, with nothing
    // kept, when the host refuses the memory.
    bool build(int32_t lists, const int32_t* capacities, int32_t workers = 1) {
        return buildWith(lists, workers, [capacities](int32_t i) { return capacities != nullptr ? capacities[i] : 0; });
    }
    // As build, with list i's room asked of roomOf(i) (none when not above 0), once per list, by
    // blocks of lists on the workers: where each block's runs begin follows from a sum over the
    // blocks' rooms, so that the lists' bookkeeping (a million spans) is filled, and its pages are
    // first touched, side by side.
    template <typename RoomOf>
    bool buildWith(int32_t lists, int32_t workers, const RoomOf& roomOf) {
        clear();
        Stack<int64_t> blockStart;
        if (lists < 0 || !spans_.reserve(lists)) return false;
        Span* spans = spans_.items;
        const bool placed = blockStarts(lists, workers, blockStart, [&](int32_t i) {
            const int32_t r = roomOf(i);
            spans[i] = Span{0, 0, r > 0 ? r : 0};
            return spans[i].capacity;
        });
        if (!placed) {
            clear();
            return false;
        }
        const int64_t total = blockStart.items[blockStart.count - 1];
        const int64_t size = withSlack(total);
        if (size > INT32_MAX || !slots_.reserve(static_cast<int32_t>(size)) ||
            !resizeOnWorkers(slots_, static_cast<int32_t>(total), workers)) {
            clear();
            return false;
        }
        forBlocks(lists, kListBlock, workers, nullptr, [&](int32_t from, int32_t to) {
            int64_t at = blockStart.items[from / kListBlock];
            for (int32_t i = from; i < to; ++i) {
                spans[i].start = static_cast<int32_t>(at);
                at += spans[i].capacity;
            }
            return true;
        });
        spans_.count = lists;
        return true;
    }

    void clear() {
        spans_.clear();
        slots_.clear();
    }

    // The number of lists.
    int32_t size() const { return spans_.count; }
    List operator[](int32_t p) const {
        const Span& s = spans_.items[p];
        return List{slots_.items + s.start, s.count};
    }
    int32_t count(int32_t p) const { return spans_.items[p].count; }
    // Asks the processor to fetch list p's bookkeeping ahead of its use.
    void prefetchSpan(int32_t p) const { __builtin_prefetch(spans_.items + p); }
    int32_t capacity(int32_t p) const { return spans_.items[p].capacity; }

    // Room for n elements in list p; when it must move it takes at least half as much again as it
    // had, so that a list that keeps growing is not moved at every step. False when refused (the
    // list is unchanged).
    bool reserve(int32_t p, int32_t n) {
        Span& s = spans_.items[p];
        if (n <= s.capacity) return true;
        const int32_t grown = s.capacity < 4 ? 4 : s.capacity + s.capacity / 2;
        const int32_t room = n > grown ? n : grown;
        if (slots_.count > slots_.capacity - room && !grow(room)) return false;
        Span& moved = spans_.items[p];
        const int32_t start = slots_.count;
        if (moved.count > 0)
            memcpy(static_cast<void*>(slots_.items + start), static_cast<const void*>(slots_.items + moved.start),
                   sizeof(T) * static_cast<size_t>(moved.count));
        moved.start = start;
        moved.capacity = room;
        slots_.count = start + room;
        return true;
    }

    // A run of the array's free end, given to one thread: lists that it alone touches move into
    // its arena (reserveIn) while other threads use theirs, since the array itself never moves.
    struct Arena {
        int32_t next = 0;
        int32_t end = 0;
    };
    // Gives `share` (0 to 1) of the array's free room out as `count` arenas, arena i in proportion
    // to weights[i]; the rest stays free for reserve.
    void makeArenas(double share, const int32_t* weights, int32_t count, Arena* arenas) {
        int64_t total = 0;
        for (int32_t i = 0; i < count; ++i) total += weights[i] > 0 ? weights[i] : 0;
        const int64_t room = static_cast<int64_t>(share * (static_cast<double>(slots_.capacity) - slots_.count));
        int64_t at = slots_.count;
        for (int32_t i = 0; i < count; ++i) {
            const int64_t w = weights[i] > 0 ? weights[i] : 0;
            const int64_t size = total > 0 ? room * w / total : 0;
            arenas[i] = Arena{static_cast<int32_t>(at), static_cast<int32_t>(at + size)};
            at += size;
        }
        slots_.count = static_cast<int32_t>(at);
    }
    // reserve, with the run of a list that must move taken from the arena; false when the arena
    // lacks the room (the list is unchanged).
    bool reserveIn(int32_t p, int32_t n, Arena& arena) {
        Span& s = spans_.items[p];
        if (n <= s.capacity) return true;
        const int32_t grown = s.capacity < 4 ? 4 : s.capacity + s.capacity / 2;
        const int32_t room = n > grown ? n : grown;
        if (arena.end - arena.next < room) return false;
        if (s.count > 0)
            memcpy(static_cast<void*>(slots_.items + arena.next), static_cast<const void*>(slots_.items + s.start),
                   sizeof(T) * static_cast<size_t>(s.count));
        s.start = arena.next;
        s.capacity = room;
        arena.next += room;
        return true;
    }

    // Copies the lists into a new array of just the room they need now (twice each list's count,
    // at least 4; none for an empty list) and frees the old one: after a long run of contractions
    // most lists are empty and the rest have moved, so the old array is mostly dead runs, and a list
    // that must move next would double all of it. The lists keep their elements and order; blocks of
    // lists are copied on up to `workers` host workers, each writing (and so first touching) its own
    // stretch of the new array, the room past each list's elements cleared. False, with nothing
    // changed, when the host refuses the memory.
    bool repack(int32_t workers = 1) {
        const int32_t lists = spans_.count;
        Stack<int64_t> blockStart;
        if (!blockStarts(lists, workers, blockStart, [this](int32_t i) { return roomToKeep(spans_.items[i].count); }))
            return false;
        const int64_t total = blockStart.items[blockStart.count - 1];
        const int64_t size = withSlack(total);
        Stack<T> fresh;
        if (size > INT32_MAX || !fresh.reserve(static_cast<int32_t>(size))) return false;
        T* out = fresh.items;
        forBlocks(lists, kListBlock, workers, nullptr, [&](int32_t from, int32_t to) {
            int64_t at = blockStart.items[from / kListBlock];
            for (int32_t i = from; i < to; ++i) {
                Span& s = spans_.items[i];
                const int32_t room = roomToKeep(s.count);
                if (s.count > 0)
                    memcpy(static_cast<void*>(out + at), static_cast<const void*>(slots_.items + s.start),
                           sizeof(T) * static_cast<size_t>(s.count));
                for (int32_t k = s.count; k < room; ++k) out[at + k] = T();
                s.start = static_cast<int32_t>(at);
                s.capacity = room;
                at += room;
            }
            return true;
        });
        fresh.count = static_cast<int32_t>(total);
        slots_ = static_cast<Stack<T>&&>(fresh);
        return true;
    }

    // Appends v to list p; false (nothing changes) when the list must move and the host refuses
    // the memory.
    bool push(int32_t p, const T& v) {
        if (spans_.items[p].count == spans_.items[p].capacity) {
            const T copy = v;  // v may live in the array that moves
            if (!reserve(p, spans_.items[p].count + 1)) return false;
            Span& s = spans_.items[p];
            slots_.items[s.start + s.count++] = copy;
            return true;
        }
        Span& s = spans_.items[p];
        slots_.items[s.start + s.count++] = v;
        return true;
    }

    // Removes the first occurrence of v; the last element takes its place. False when absent.
    bool removeFirst(int32_t p, const T& v) {
        Span& s = spans_.items[p];
        T* items = slots_.items + s.start;
        for (int32_t i = 0; i < s.count; ++i) {
            if (items[i] == v) {
                items[i] = items[s.count - 1];
                --s.count;
                return true;
            }
        }
        return false;
    }

    bool contains(int32_t p, const T& v) const {
        const Span& s = spans_.items[p];
        const T* items = slots_.items + s.start;
        for (int32_t i = 0; i < s.count; ++i)
            if (items[i] == v) return true;
        return false;
    }

    // Forgets list p's elements; its run stays for reuse.
    void empty(int32_t p) { spans_.items[p].count = 0; }

private:
    struct Span {
        int32_t start = 0;
        int32_t count = 0;
        int32_t capacity = 0;
    };

    static constexpr int32_t kListBlock = 16384;  // lists a worker takes at once

    // An array's size for lists of `total` room: a quarter more for lists that move, at least a
    // little.
    static int64_t withSlack(int64_t total) { return total + total / 4 + 64; }
    // starts[b] = where block b of kListBlock lists begins in an array that gives list i roomOf(i),
    // the blocks' rooms summed on up to `workers` host workers (roomOf is asked once per list, by
    // the worker of its block); the total last. False when refused.
    template <typename RoomOf>
    static bool blockStarts(int32_t lists, int32_t workers, Stack<int64_t>& starts, const RoomOf& roomOf) {
        const int32_t blocks = lists > 0 ? (lists - 1) / kListBlock + 1 : 0;
        if (!starts.resize(blocks + 1)) return false;
        forBlocks(lists, kListBlock, workers, nullptr, [&](int32_t from, int32_t to) {
            int64_t room = 0;
            for (int32_t i = from; i < to; ++i) room += roomOf(i);
            starts.items[from / kListBlock + 1] = room;
            return true;
        });
        for (int32_t b = 0; b < blocks; ++b) starts.items[b + 1] += starts.items[b];
        return true;
    }

    static int32_t roomToKeep(int32_t count) { return count == 0 ? 0 : 2 * count < 4 ? 4 : 2 * count; }

    // A larger array with room for `room` more at its end.
    bool grow(int32_t room) {
        const int64_t need = static_cast<int64_t>(slots_.count) + room;
        int64_t size = 2 * static_cast<int64_t>(slots_.capacity);
        if (size < need) size = need;
        if (size > INT32_MAX) size = INT32_MAX;
        if (size < need) return false;
        return slots_.reserve(static_cast<int32_t>(size));
    }

    Stack<Span> spans_;
    // The shared array: [0, count) is given out to runs, the rest of its capacity is free.
    Stack<T> slots_;
};
