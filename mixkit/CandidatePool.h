// Storage of the decimator's edge candidates: blocks of a fixed size from the host allocator,
// handed out one candidate at a time and all returned together. Candidates are numbered in the
// order they are made, so that lists can hold a 4-byte number instead of an address.
#pragma once

#include <cstdint>

#include "mixkit/EdgeCandidate.h"
#include "sources/Stack.h"

class CandidatePool {
public:
    CandidatePool() = default;
    ~CandidatePool() { release(); }
    CandidatePool(const CandidatePool&) = delete;
    CandidatePool& operator=(const CandidatePool&) = delete;

    // A zeroed candidate outside any heap, numbered made() - 1 (its number is not stored in it: the
    // lists and the heap hold numbers), or null (reported on the console) when the host refuses the
    // memory.
    EdgeCandidate* make();
    // Room for n more candidates in one block from the host, so that a set-up that knows its count
    // fills one array front to back (large enough for the host to back it with huge pages) instead
    // of many small blocks; with several workers, they touch its pages first. False (reported on
    // the console) when refused; nothing changes then.
    bool reserve(int32_t n, int32_t workers = 1);
    // The candidate numbered id (below made()).
    EdgeCandidate* at(int32_t id) const { return blocks_.items[id >> kBlockBits] + (id & (kBlockSize - 1)); }
    // Returns every block.
    void release();

    int32_t made() const { return made_; }

    static constexpr const char* sourceTag = "QSlim";
    static constexpr int32_t allocLine = 64;

private:
    static constexpr int32_t kBlockBits = 12;
    static constexpr int32_t kBlockSize = 1 << kBlockBits;

    // `count` blocks more from the host, in one allocation.
    bool addBlocks(int32_t count);

    Stack<EdgeCandidate*> blocks_;     // every block of kBlockSize candidates, in order
    Stack<EdgeCandidate*> allocations_;  // what the host gave: each the start of one or more blocks
    EdgeCandidate* next_ = nullptr;
    int32_t left_ = 0;
    int32_t made_ = 0;
};

// The decimator's heaps hold candidate numbers; a candidate's place in its heap is kept in the
// candidate.
struct CandidatePositions {
    const CandidatePool* pool = nullptr;
    int32_t& operator()(int32_t id) const { return pool->at(id)->heapPosition; }
};
using EdgeHeap = IndexedHeap<int32_t, CandidatePositions>;
