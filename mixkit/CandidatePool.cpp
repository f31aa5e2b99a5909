#include "mixkit/CandidatePool.h"

#include <new>

#include "mixkit/StackHelpers.h"
#include "sources/HostMemory.h"

bool CandidatePool::addBlock() {
    if (made_ > INT32_MAX - kBlockSize) {
        reportNoMemory(sourceTag, allocLine);
        return false;
    }
    void* block = hostAlloc(sizeof(EdgeCandidate) * static_cast<size_t>(kBlockSize), allocLine, sourceTag);
    if (block == nullptr) {
        reportNoMemory(sourceTag, allocLine);
        return false;
    }
    if (!pushChecked(blocks_, static_cast<EdgeCandidate*>(block))) {
        hostFree(block);
        return false;
    }
    next_ = static_cast<EdgeCandidate*>(block);
    left_ = kBlockSize;
    return true;
}

EdgeCandidate* CandidatePool::make() {
    if (left_ == 0 && !addBlock()) return nullptr;
    EdgeCandidate* c = new (next_) EdgeCandidate();
    c->id = made_;
    ++next_;
    --left_;
    ++made_;
    return c;
}

void CandidatePool::release() {
    for (int32_t i = 0; i < blocks_.count; ++i) hostFree(blocks_.items[i]);
    blocks_.clear();
    next_ = nullptr;
    left_ = 0;
    made_ = 0;
}
