#include "mixkit/SharedKeying.h"

#include <thread>

namespace {

// One step of a wait: tells the processor that this is a wait loop (it then spins more lightly), and
// now and then gives the processor up, so that a waiting thread never holds it from a thread it
// waits for (or from the rest of the machine) for long when there are fewer free processors than
// threads. Two reductions of two threads each, run at once on two processors, took 17.2 s when
// waits never yielded, 16.2 s with a yield every 1024 steps and 9.7 s with one every 64 (one
// reduction alone: 6-9 s either way on the same machine).
inline void waitStep(uint32_t& steps) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
    if ((++steps & 63u) == 0) std::this_thread::yield();
}

}  // namespace

bool SharedKeying::take(uint32_t batch, int32_t count, int32_t* item) {
    uint64_t next = next_.load(std::memory_order_relaxed);
    for (;;) {
        if (static_cast<uint32_t>(next >> kItemBits) != batch) return false;
        const auto i = static_cast<int32_t>(next & 0xffffffffu);
        if (i >= count) return false;
        if (next_.compare_exchange_weak(next, next + 1, std::memory_order_relaxed)) {
            *item = i;
            return true;
        }
    }
}

void SharedKeying::keyAll(const int32_t* ids, int32_t count) {
    if (count < 2 || waiting_.load(std::memory_order_relaxed) == 0) {
        for (int32_t i = 0; i < count; ++i) key_(context_, ids, i);
        return;
    }
    const uint32_t batch = posted_.load(std::memory_order_relaxed) + 1;
    keyed_.store(0, std::memory_order_relaxed);
    // The first third is the loop's own, without taking (the loop's thread still has the
    // contraction to finish after the keys, and a helper that asks for its share's memory at once
    // keys an item in about a third of the loop's time); the helpers take from the rest, and the
    // loop takes what they have not reached when it is done.
    const int32_t own = count / 3;
    // The new batch's number goes into the counter before its ids and count are stored: a helper
    // still on the last batch that reads the new ids or count then finds its own batch closed in
    // take, instead of taking an item past the last batch's end with the new count.
    next_.store(static_cast<uint64_t>(batch) << kItemBits | static_cast<uint64_t>(own), std::memory_order_relaxed);
    ids_.store(ids, std::memory_order_release);
    count_.store(count, std::memory_order_release);
    // Everything the loop wrote before (the contraction) is seen by a helper that sees the batch.
    posted_.store(batch, std::memory_order_release);
    for (int32_t i = 0; i < own; ++i) key_(context_, ids, i);
    int32_t item = 0, mine = own;
    while (take(batch, count, &item)) {
        key_(context_, ids, item);
        ++mine;
    }
    // The items the helpers took: their keys are seen here once they are counted.
    uint32_t steps = 0;
    while (keyed_.load(std::memory_order_acquire) < count - mine) waitStep(steps);
}

void SharedKeying::help() {
    uint32_t seen = posted_.load(std::memory_order_acquire);
    waiting_.fetch_add(1);
    for (;;) {
        uint32_t batch = 0, steps = 0;
        while ((batch = posted_.load(std::memory_order_acquire)) == seen) {
            if (closed_.load(std::memory_order_acquire)) {
                waiting_.fetch_sub(1);
                return;
            }
            waitStep(steps);
        }
        seen = batch;
        // Read after the batch number: these are the batch's, or a later one's, whose items take()
        // then refuses (a batch is posted only when every item of the one before is keyed, and the
        // later batch's number is in the counter before its ids and count are stored).
        const int32_t* ids = ids_.load(std::memory_order_acquire);
        const int32_t count = count_.load(std::memory_order_acquire);
        int32_t item = 0;
        bool first = true;
        while (take(batch, count, &item)) {
            // Holding an item keeps the batch open (the loop waits for it), so the mesh and the ids
            // stay as they are while the rest of the share is asked for.
            if (first) prefetch_(context_, ids + item, count - item);
            first = false;
            key_(context_, ids, item);
            keyed_.fetch_add(1, std::memory_order_release);
        }
    }
}

void SharedKeying::close() { closed_.store(true, std::memory_order_release); }
