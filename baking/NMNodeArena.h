// Memory of an octree while it is built: the blocks of eight children and the nodes' index lists,
// cut from large blocks of the host allocator that all go back at once. A million-triangle build
// makes hundreds of thousands of both; through the allocator one by one, its bookkeeping, locks and
// the pages of its heap cost as much as the build's own work. One arena serves one thread.
#pragma once

#include <cstddef>
#include <cstdint>

// The triangle indices a node holds: room for `capacity`, `count` of it used.
struct NMIndexList {
    int32_t* items = nullptr;
    int32_t count = 0;
    int32_t capacity = 0;

    const int32_t* begin() const { return items; }
    const int32_t* end() const { return items + count; }
};

class NMNodeArena {
public:
    // `tag` names the arena's blocks to the host (it must outlive the arena).
    explicit NMNodeArena(const char* tag = "NMOctree") : tag_(tag) {}
    NMNodeArena(const NMNodeArena&) = delete;
    NMNodeArena& operator=(const NMNodeArena&) = delete;
    ~NMNodeArena() { release(); }

    // `bytes` aligned for any fundamental type, held until release; null (reported on the console
    // under the arena's tag, with `line`) when the host refuses the memory.
    void* take(size_t bytes, int32_t line);
    // Moves the list to room for `capacity` entries (at least its count), its entries kept; its old
    // room is kept for another list of that size. The list must be empty or have its room from this
    // arena (a list's own block is unlinked from this arena's chain). False (reported) when the
    // host refuses.
    bool regrow(NMIndexList& list, int32_t capacity, int32_t line);
    // Returns every block: what was taken, and every list that has room here, is gone.
    void release();

private:
    // At the start of every block of the host allocator, aligned as its blocks are.
    struct alignas(alignof(std::max_align_t)) Block {
        Block* prev;
        Block* next;
    };
    struct FreeRun {
        FreeRun* next;
    };
    // Room for this many entries or more is a block of its own, returned as soon as its list moves.
    static constexpr int32_t kOwnBlockEntries = 16384;
    // Kept runs are found by their exact capacity among this many sizes.
    static constexpr int32_t kFreeSizes = 32;

    Block* newBlock(size_t bytes, int32_t line);
    void dropBlock(Block* block);
    void keepRun(int32_t* run, int32_t capacity);
    int32_t* keptRun(int32_t capacity);

    const char* tag_;
    Block* blocks_ = nullptr;  // chained both ways, so that a list's own block can leave alone
    char* cursor_ = nullptr;
    size_t left_ = 0;
    size_t nextBlock_ = size_t{64} << 10;  // doubles up to kLargestBlock
    int32_t freeCapacity_[kFreeSizes] = {};
    FreeRun* freeRuns_[kFreeSizes] = {};
};
