#include "mixkit/CandidatePool.h"

#include <new>

#include "mixkit/StackHelpers.h"
#include "sources/HostMemory.h"
#include "sources/HostWorkers.h"

bool CandidatePool::addBlocks(int32_t count) {
    const int64_t had = static_cast<int64_t>(blocks_.count) * kBlockSize;
    if (had > INT32_MAX - static_cast<int64_t>(count) * kBlockSize) {
        reportNoMemory(sourceTag, allocLine);
        return false;
    }
    void* block = hostAlloc(sizeof(EdgeCandidate) * static_cast<size_t>(count) * kBlockSize, allocLine, sourceTag);
    if (block == nullptr) {
        reportNoMemory(sourceTag, allocLine);
        return false;
    }
    if (!blocks_.reserve(blocks_.count + count) || !pushChecked(allocations_, static_cast<EdgeCandidate*>(block))) {
        hostFree(block);
        return false;
    }
    for (int32_t i = 0; i < count; ++i) blocks_.push(static_cast<EdgeCandidate*>(block) + static_cast<size_t>(i) * kBlockSize);
    return true;
}

bool CandidatePool::reserve(int32_t n, int32_t workers) {
    if (n <= 0) return true;
    const int64_t room = static_cast<int64_t>(blocks_.count) * kBlockSize - made_;
    if (room >= n) return true;
    const int32_t added = static_cast<int32_t>((n - room + kBlockSize - 1) / kBlockSize);
    if (!addBlocks(added)) return false;
    // The new blocks are filled front to back by one thread; their pages are touched first here,
    // shared between the workers.
    if (workers > 1) {
        EdgeCandidate* fresh = allocations_.items[allocations_.count - 1];
        forBlocks(added, 1, workers, nullptr, [fresh](int32_t from, int32_t to) {
            for (EdgeCandidate* c = fresh + static_cast<size_t>(from) * kBlockSize; c < fresh + static_cast<size_t>(to) * kBlockSize; ++c)
                new (c) EdgeCandidate();
            return true;
        });
    }
    return true;
}

EdgeCandidate* CandidatePool::make() {
    if (left_ == 0) {
        // The next block: one reserved earlier, or a new one.
        const int32_t next = made_ / kBlockSize;
        if (next >= blocks_.count && !addBlocks(1)) return nullptr;
        next_ = blocks_.items[next];
        left_ = kBlockSize;
    }
    EdgeCandidate* c = new (next_) EdgeCandidate();
    ++next_;
    --left_;
    ++made_;
    return c;
}

void CandidatePool::release() {
    for (int32_t i = 0; i < allocations_.count; ++i) hostFree(allocations_.items[i]);
    allocations_.clear();
    blocks_.clear();
    next_ = nullptr;
    left_ = 0;
    made_ = 0;
}
