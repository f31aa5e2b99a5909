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

    // A zeroed candidate outside any heap, numbered made() - 1, or null (reported on the console)
    // when the host refuses the memory.
    EdgeCandidate* make();
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

    bool addBlock();

    Stack<EdgeCandidate*> blocks_;
    EdgeCandidate* next_ = nullptr;
    int32_t left_ = 0;
    int32_t made_ = 0;
};
