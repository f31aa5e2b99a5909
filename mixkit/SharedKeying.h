// SharedKeying: the keys of a batch of candidates made on several threads at once.
//
// After each contraction the reduction keys afresh every candidate around the kept point (its
// placement, then the penalties of the polygons it would leave): about half of the loop's work, in
// pieces of a microsecond or two that read the mesh and write only the candidate's own key. While
// the loop runs, helper threads wait, spinning, for the loop's next batch; the loop posts the
// candidates' numbers and keys the first third itself, the helpers take the rest one item at a time,
// the loop takes what they have not reached, and it goes on once every item is keyed. Each key is
// made by exactly one thread from the same mesh, and the loop then puts the candidates into the heap
// in the batch's order, as on one thread: the reduction is the same for any number of threads.
//
// A batch takes items through one counter that holds the batch's number beside the next item, so
// that a helper still busy with an old batch can never take an item of a new one. The loop waits
// only for items another thread has taken and is keying; a helper that is late or not started
// leaves its share to the loop. The loop's thread has fetched what its keys read ahead of time; a
// helper asks for its share's memory all at once before keying, so that the waits overlap.
#pragma once

#include <atomic>
#include <cstdint>

class SharedKeying {
public:
    // Keys item `item` of the batch ids (called from any of the threads, never twice at once for
    // one item).
    using KeyFunction = void (*)(void* context, const int32_t* ids, int32_t item);
    // Asks the processor for what keying ids[0..count) reads (changes nothing).
    using PrefetchFunction = void (*)(void* context, const int32_t* ids, int32_t count);

    SharedKeying(KeyFunction key, PrefetchFunction prefetch, void* context)
        : key_(key), prefetch_(prefetch), context_(context) {}
    SharedKeying(const SharedKeying&) = delete;
    SharedKeying& operator=(const SharedKeying&) = delete;

    // Keys ids[0..count): with the helpers that are waiting, else on this thread alone. Called on
    // the loop's thread only; the ids must stay in place until it returns.
    void keyAll(const int32_t* ids, int32_t count);
    // A helper's part: waits for batches and keys items until close() (on a helper thread).
    void help();
    // Sends the helpers home; later batches are keyed on the loop's thread alone.
    void close();

private:
    static constexpr uint64_t kItemBits = 32;
    bool take(uint32_t batch, int32_t count, int32_t* item);

    KeyFunction key_;
    PrefetchFunction prefetch_;
    void* context_;
    // The loop's side: the batch posted last, what it holds, the next item (batch << 32 | item).
    alignas(64) std::atomic<uint32_t> posted_{0};
    std::atomic<const int32_t*> ids_{nullptr};
    std::atomic<int32_t> count_{0};
    alignas(64) std::atomic<uint64_t> next_{0};
    // Items of the current batch keyed so far, by every thread.
    alignas(64) std::atomic<int32_t> keyed_{0};
    alignas(64) std::atomic<int32_t> waiting_{0};  // helpers in help(), ready for a batch
    std::atomic<bool> closed_{false};
};
