// Storage of the decimator's edge candidates: blocks from the host allocator, handed out one
// candidate at a time and all returned together.
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

    // Makes room for n more candidates in as few blocks as possible; false when refused.
    bool reserve(int32_t n);
    // A zeroed candidate outside any heap, or null (reported on the console) when the host
    // refuses the memory.
    EdgeCandidate* make();
    // Room for n candidates side by side, counted as made: the caller constructs each one before
    // it is used (several threads may fill one run, each its own part). Null (reported on the
    // console) when the host refuses the memory.
    EdgeCandidate* takeRun(int32_t n);
    // Returns every block.
    void release();

    int32_t made() const { return made_; }

    static constexpr const char* sourceTag = "QSlim";
    static constexpr int32_t allocLine = 64;

private:
    bool addBlock(int32_t size);

    Stack<EdgeCandidate*> blocks_;
    EdgeCandidate* next_ = nullptr;
    int32_t left_ = 0;
    int32_t made_ = 0;
};
