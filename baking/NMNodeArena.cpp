#include "baking/NMNodeArena.h"

#include <cstring>

#include "sources/HostMemory.h"

namespace {

// Blocks grow to this size: from 8 MiB on the host gives them huge pages.
constexpr size_t kLargestBlock = size_t{8} << 20;
constexpr size_t kAlign = alignof(std::max_align_t);

size_t aligned(size_t bytes) { return (bytes + kAlign - 1) & ~(kAlign - 1); }

}  // namespace

NMNodeArena::Block* NMNodeArena::newBlock(size_t bytes, int32_t line) {
    auto* block = static_cast<Block*>(hostAlloc(sizeof(Block) + bytes, line, tag_));
    if (block == nullptr) {
        reportNoMemory(tag_, line);
        return nullptr;
    }
    block->prev = nullptr;
    block->next = blocks_;
    if (blocks_ != nullptr) blocks_->prev = block;
    blocks_ = block;
    return block;
}

void NMNodeArena::dropBlock(Block* block) {
    if (block->prev != nullptr)
        block->prev->next = block->next;
    else
        blocks_ = block->next;
    if (block->next != nullptr) block->next->prev = block->prev;
    hostFree(block);
}

void* NMNodeArena::take(size_t bytes, int32_t line) {
    bytes = aligned(bytes == 0 ? 1 : bytes);
    if (bytes > left_) {
        size_t size = nextBlock_;
        while (size < bytes) size *= 2;
        Block* block = newBlock(size, line);
        if (block == nullptr) return nullptr;
        if (nextBlock_ < kLargestBlock) nextBlock_ *= 2;
        // What the old block had left stays unused.
        cursor_ = reinterpret_cast<char*>(block + 1);
        left_ = size;
    }
    void* at = cursor_;
    cursor_ += bytes;
    left_ -= bytes;
    return at;
}

void NMNodeArena::keepRun(int32_t* run, int32_t capacity) {
    for (int32_t s = 0; s < kFreeSizes; ++s) {
        if (freeCapacity_[s] != capacity && freeCapacity_[s] != 0) continue;
        freeCapacity_[s] = capacity;
        auto* kept = reinterpret_cast<FreeRun*>(run);
        kept->next = freeRuns_[s];
        freeRuns_[s] = kept;
        return;
    }
    // A size beyond those kept is simply left until release.
}

int32_t* NMNodeArena::keptRun(int32_t capacity) {
    for (int32_t s = 0; s < kFreeSizes && freeCapacity_[s] != 0; ++s) {
        if (freeCapacity_[s] != capacity || freeRuns_[s] == nullptr) continue;
        FreeRun* run = freeRuns_[s];
        freeRuns_[s] = run->next;
        return reinterpret_cast<int32_t*>(run);
    }
    return nullptr;
}

bool NMNodeArena::regrow(NMIndexList& list, int32_t capacity, int32_t line) {
    if (capacity < list.count) capacity = list.count;
    if (capacity == list.capacity) return true;
    const size_t bytes = sizeof(int32_t) * static_cast<size_t>(capacity);
    int32_t* room = nullptr;
    if (capacity >= kOwnBlockEntries) {
        Block* block = newBlock(bytes, line);
        if (block == nullptr) return false;
        room = reinterpret_cast<int32_t*>(block + 1);
    } else {
        // A kept run holds a link where its entries go: at least two entries' room.
        room = keptRun(capacity);
        if (room == nullptr) room = static_cast<int32_t*>(take(bytes < sizeof(FreeRun) ? sizeof(FreeRun) : bytes, line));
        if (room == nullptr) return false;
    }
    if (list.count > 0) std::memcpy(room, list.items, sizeof(int32_t) * static_cast<size_t>(list.count));
    if (list.items != nullptr) {
        if (list.capacity >= kOwnBlockEntries)
            dropBlock(reinterpret_cast<Block*>(list.items) - 1);
        else if (sizeof(int32_t) * static_cast<size_t>(list.capacity) >= sizeof(FreeRun))
            keepRun(list.items, list.capacity);
    }
    list.items = room;
    list.capacity = capacity;
    return true;
}

void NMNodeArena::release() {
    while (blocks_ != nullptr) {
        Block* next = blocks_->next;
        hostFree(blocks_);
        blocks_ = next;
    }
    cursor_ = nullptr;
    left_ = 0;
    nextBlock_ = size_t{64} << 10;
    for (int32_t s = 0; s < kFreeSizes; ++s) {
        freeCapacity_[s] = 0;
        freeRuns_[s] = nullptr;
    }
}
