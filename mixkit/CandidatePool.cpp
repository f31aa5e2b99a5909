#include "mixkit/CandidatePool.h"

#include <new>

#include "mixkit/StackHelpers.h"
#include "sources/HostMemory.h"

namespace {
constexpr int32_t kBlockSize = 4096;
}

bool CandidatePool::addBlock(int32_t size) {
    void* block = hostAlloc(sizeof(EdgeCandidate) * static_cast<size_t>(size), allocLine, sourceTag);
    if (block == nullptr) {
        reportNoMemory(sourceTag, allocLine);
        return false;
    }
    if (!pushChecked(blocks_, static_cast<EdgeCandidate*>(block))) {
        hostFree(block);
        return false;
    }
    next_ = static_cast<EdgeCandidate*>(block);
    left_ = size;
    return true;
}

bool CandidatePool::reserve(int32_t n) {
    if (n <= left_) return true;
    return addBlock(n);
}

EdgeCandidate* CandidatePool::make() {
    if (left_ == 0 && !addBlock(kBlockSize)) return nullptr;
    EdgeCandidate* c = new (next_) EdgeCandidate();
    ++next_;
    --left_;
    ++made_;
    return c;
}

EdgeCandidate* CandidatePool::takeRun(int32_t n) {
    if (n > left_ && !addBlock(n)) return nullptr;
    EdgeCandidate* run = next_;
    next_ += n;
    left_ -= n;
    made_ += n;
    return run;
}

void CandidatePool::release() {
    for (int32_t i = 0; i < blocks_.count; ++i) hostFree(blocks_.items[i]);
    blocks_.clear();
    next_ = nullptr;
    left_ = 0;
    made_ = 0;
}
