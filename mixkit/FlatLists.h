// Many short lists, one per index (a point's polygons, a point's edge candidates), kept in one
// block: each list is a run of slots in a shared array with room to grow. A list that outgrows its
// run moves to the free end of the array; when the end is full the array is copied into one twice
// as large. Two blocks from the host allocator in all, however many lists there are, and the lists
// of neighbouring indices lie side by side.
//
// Invariant: no two runs overlap, count <= capacity for every list, and every run lies in
// [0, slots_.count) or in the spare room past roomEnd() that the arenas' pools have given out.
#pragma once

#include <atomic>
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
        if (size > INT32_MAX || !reserveArray(slots_, size) ||
            !resizeOnWorkers(slots_, static_cast<int32_t>(total), workers)) {
            clear();
            return false;
        }
        setRoom(size);
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
        spare_ = 0;
        spareUsed_ = 0;
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
        if (slots_.count > roomEnd() - room && !grow(room)) return false;
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
    //
    // [next, end) is the arena's budget: a list may move into it while the room it asks for is left
    // there, so what the arenas allow does not depend on where their runs are placed. Without a
    // pool the runs are cut from that stretch itself. With one (makeArenas), they are cut from
    // small chunks that all the arenas take in turn from the front of their joint stretch: the
    // runs that the arenas actually fill lie together, and the pages of the rest are never
    // touched (with huge pages, every arena of its own would touch at least 2 MiB).
    struct Pool;
    struct Arena {
        int32_t next = 0;
        int32_t end = 0;
        Pool* pool = nullptr;
        int32_t chunkNext = 0;  // the pool's chunk that small runs are cut from now
        int32_t chunkEnd = 0;
    };
    // What a phase's arenas share. A chunk or a large run is taken from the joint stretch while it
    // lasts and then from the spare room past the array's own (makeArenas sizes both chunks and
    // spare so that the pool always has the room its arenas' budgets allow).
    struct Pool {
        std::atomic<int64_t> next{0};
        int64_t end = 0;
        std::atomic<int64_t> spareNext{0};
        int32_t chunk = 0;
        int64_t take(int32_t n) {
            const int64_t at = next.fetch_add(n, std::memory_order_relaxed);
            if (at + n <= end) return at;
            return spareNext.fetch_add(n, std::memory_order_relaxed);
        }
    };
    // Gives `share` (0 to 1) of the array's free room out as `count` arenas, arena i in proportion
    // to weights[i]; the rest stays free for reserve. With `pool`, the arenas place their runs
    // through it where the spare room covers the most that cutting chunks can lose; closeArenas
    // must then follow once no arena is used any more.
    void makeArenas(double share, const int32_t* weights, int32_t count, Arena* arenas, Pool* pool = nullptr) {
        int64_t total = 0;
        for (int32_t i = 0; i < count; ++i) total += weights[i] > 0 ? weights[i] : 0;
        const int64_t room = static_cast<int64_t>(share * (static_cast<double>(roomEnd()) - slots_.count));
        int64_t at = slots_.count;
        int64_t largest = 0;
        for (int32_t i = 0; i < count; ++i) {
            const int64_t w = weights[i] > 0 ? weights[i] : 0;
            const int64_t size = total > 0 ? room * w / total : 0;
            arenas[i] = Arena{static_cast<int32_t>(at), static_cast<int32_t>(at + size)};
            at += size;
            largest = size > largest ? size : largest;
        }
        if (pool != nullptr) {
            // The pool never needs more than the joint stretch and, from the spare room: what
            // chunks leave at their ends (a run that does not fit a chunk's rest is at most
            // 1/kChunkRunShare of a chunk, so under 1/(kChunkRunShare - 1) of what they hold), a
            // chunk per arena left unfinished, and the one take that crosses the stretch's end
            // (a chunk, or a run that no arena's budget exceeds).
            const int64_t spareLeft = static_cast<int64_t>(spare_) - spareUsed_;
            int32_t chunk = kLargestChunk;
            while (chunk >= kSmallestChunk && (at - slots_.count) / (kChunkRunShare - 1) + 1 +
                                                      static_cast<int64_t>(count) * chunk +
                                                      (largest > chunk ? largest : chunk) >
                                                  spareLeft)
                chunk /= 2;
            pool->chunk = chunk >= kSmallestChunk ? chunk : 0;
            pool->next.store(slots_.count, std::memory_order_relaxed);
            pool->end = at;
            pool->spareNext.store(static_cast<int64_t>(roomEnd()) + spareUsed_, std::memory_order_relaxed);
            if (pool->chunk > 0)
                for (int32_t i = 0; i < count; ++i) arenas[i].pool = pool;
        }
        slots_.count = static_cast<int32_t>(at);
    }
    // After the arenas of `pool` are done with: the spare room they took stays taken.
    void closeArenas(const Pool& pool) {
        if (pool.chunk == 0) return;
        const int64_t used = pool.spareNext.load(std::memory_order_relaxed) - roomEnd();
        if (used > spareUsed_) spareUsed_ = static_cast<int32_t>(used);
    }
    // reserve, with the run of a list that must move taken from the arena; false when the arena
    // lacks the room (the list is unchanged).
    bool reserveIn(int32_t p, int32_t n, Arena& arena) {
        Span& s = spans_.items[p];
        if (n <= s.capacity) return true;
        const int32_t grown = s.capacity < 4 ? 4 : s.capacity + s.capacity / 2;
        const int32_t room = n > grown ? n : grown;
        if (arena.end - arena.next < room) return false;
        const int32_t start = arena.pool != nullptr ? placeInPool(arena, room) : arena.next;
        arena.next += room;
        if (s.count > 0)
            memcpy(static_cast<void*>(slots_.items + start), static_cast<const void*>(slots_.items + s.start),
                   sizeof(T) * static_cast<size_t>(s.count));
        s.start = start;
        s.capacity = room;
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
        if (size > INT32_MAX || !reserveArray(fresh, size)) return false;
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
        setRoom(size);
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
    // An arena's pool hands out chunks of at most kLargestChunk slots (and, where the spare room is
    // short, of no fewer than kSmallestChunk, or the arenas keep to their own stretches); a run of
    // more than 1/kChunkRunShare of a chunk is taken from the pool on its own.
    static constexpr int32_t kLargestChunk = 1024;
    static constexpr int32_t kSmallestChunk = 64;
    static constexpr int32_t kChunkRunShare = 32;

    // Where a list that moves into `arena` goes: a small run is cut from the arena's chunk (a new
    // one when the rest is too short), a large one is taken from the pool alone.
    static int32_t placeInPool(Arena& arena, int32_t room) {
        Pool& pool = *arena.pool;
        if (room <= arena.chunkEnd - arena.chunkNext) {
            arena.chunkNext += room;
            return arena.chunkNext - room;
        }
        if (room > pool.chunk / kChunkRunShare) return static_cast<int32_t>(pool.take(room));
        arena.chunkNext = static_cast<int32_t>(pool.take(pool.chunk));
        arena.chunkEnd = arena.chunkNext + pool.chunk;
        arena.chunkNext += room;
        return arena.chunkNext - room;
    }

    // An array's size for lists of `total` room: a quarter more for lists that move, at least a
    // little.
    static int64_t withSlack(int64_t total) { return total + total / 4 + 64; }
    // An array of `size` slots for the lists, with the spare room of the arenas' pools past it: a
    // sixteenth more, which no page is touched for unless a pool reaches into it.
    static int64_t withSpare(int64_t size) { return size + size / 16; }
    static bool reserveArray(Stack<T>& array, int64_t size) {
        const int64_t all = withSpare(size);
        return all <= INT32_MAX && array.reserve(static_cast<int32_t>(all));
    }
    // The array was just made for `size` slots (reserveArray): none of its spare room is given out.
    void setRoom(int64_t size) {
        spare_ = static_cast<int32_t>(slots_.capacity - size);
        spareUsed_ = 0;
    }
    // The end of the lists' own room; the spare room lies past it.
    int32_t roomEnd() const { return slots_.capacity - spare_; }
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

    // A larger array with room for `room` more at its end. Runs that pools placed in the spare
    // room (there only when no repack followed their phase) are copied with the rest and count as
    // given out.
    bool grow(int32_t room) {
        const int32_t used = spareUsed_ > 0 ? roomEnd() + spareUsed_ : slots_.count;
        const int64_t need = static_cast<int64_t>(used) + room;
        int64_t size = 2 * static_cast<int64_t>(roomEnd());
        if (size < need) size = need;
        if (withSpare(size) > INT32_MAX) size = INT32_MAX / 17 * 16;
        if (size < need) return false;
        const int32_t count = slots_.count;
        slots_.count = used;
        if (!reserveArray(slots_, size)) {
            slots_.count = count;
            return false;
        }
        setRoom(size);
        return true;
    }

    Stack<Span> spans_;
    // The shared array: [0, count) is given out to runs, [count, roomEnd()) is free, and the spare
    // room past it is the pools' (spareUsed_ of it given out).
    Stack<T> slots_;
    int32_t spare_ = 0;
    int32_t spareUsed_ = 0;
};
