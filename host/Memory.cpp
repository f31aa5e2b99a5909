#include "Memory.h"

#include "host/LargeFile.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace host::memory {
namespace {

// Every block carries a header so that release can find its record without a lookup; live blocks
// are chained through their headers so that they can be listed.
struct alignas(std::max_align_t) Header {
    Header* prev;
    Header* next;
    size_t size;
    int32_t line;
    uint32_t magic;
    char tag[16];  // copied: the caller's string may live in a library that is unloaded first
};
// Blocks from this size on start on a huge-page boundary and are advised to take huge pages.
constexpr size_t kLargeBlock = size_t{1} << 20;
// A block's last huge page is taken whole when no more than this share of it lies past the block;
// otherwise that stretch stays on small pages, which hold only what is touched.
constexpr size_t kTailWasteShare = 16;
constexpr uint32_t kMagic = 0x56584d45;  // guards against releasing a foreign pointer

// Each counter on a cache line of its own: threads that allocate at once then do not also pass
// one line back and forth for counters they do not share.
alignas(64) std::atomic<size_t> gLiveBlocks{0};
alignas(64) std::atomic<size_t> gLiveBytes{0};
alignas(64) std::atomic<uint64_t> gCalls{0};
alignas(64) std::atomic<size_t> gPeakBytes{0};  // highest live bytes since the last peak reset

std::mutex gInjectMutex;
uint64_t gFailAt = 0;  // absolute call number that fails, 0 = none
bool gSticky = false;
std::string gFailTag;
int32_t gFailLine = -1;

// The live blocks (for listing them), chained in shards: a block's shard follows from its address,
// so that threads allocating at once (the bake's octree build makes hundreds of thousands of small
// blocks on every worker) seldom wait for one another's short critical section.
constexpr size_t kChainShards = 64;
struct alignas(64) ChainShard {
    std::mutex mutex;
    Header chain{&chain, &chain, 0, 0, 0, {}};
};
ChainShard gShards[kChainShards];

ChainShard& shardOf(const Header* h) {
    const auto address = reinterpret_cast<uintptr_t>(h);
    return gShards[(address >> 4 ^ address >> 12 ^ address >> 20) % kChainShards];
}

std::atomic<bool> gInjecting{false};  // any failure injection armed: only then the slow check runs

bool shouldFail(uint64_t call, const char* tag, int32_t line) {
    if (!gInjecting.load(std::memory_order_relaxed)) return false;
    std::lock_guard<std::mutex> lock(gInjectMutex);
    if (gFailAt != 0 && (call == gFailAt || (gSticky && call > gFailAt))) return true;
    if (gFailLine >= 0 && tag && gFailTag == tag && (gFailLine == 0 || gFailLine == line)) return true;
    return false;
}

// The module's big arrays (a million triangles' corners, the reduction's lists and heaps) are
// filled front to back right after they are made: with huge pages that costs a fault per 2 MiB, not
// per 4 KiB, and on a virtual machine a fault is dear (about 14 us here, against the 2 MiB page's
// 0.15 ms). A block that started anywhere would leave its first and last partial huge pages, on
// average a whole 2 MiB, on small pages: it starts on a boundary instead, and its last page is
// whole where that wastes little.
void* obtain(size_t bytes) {
    if (bytes < kLargeBlock + sizeof(Header)) return std::malloc(bytes);
    const size_t whole = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    const size_t size = whole - bytes <= kHugePage / kTailWasteShare ? whole : bytes;
    void* p = nullptr;
    if (posix_memalign(&p, kHugePage, size) != 0) return nullptr;
    preferHugePages(p, size);
    return p;
}

}  // namespace

void* allocate(size_t size, int32_t line, const char* tag) {
    const uint64_t call = ++gCalls;
    if (size == 0) size = 1;
    if (shouldFail(call, tag, line)) return nullptr;
    if (size > (SIZE_MAX - sizeof(Header))) return nullptr;
    auto* h = static_cast<Header*>(obtain(sizeof(Header) + size));
    if (!h) return nullptr;
    h->size = size;
    std::strncpy(h->tag, tag ? tag : "", sizeof(h->tag) - 1);
    h->tag[sizeof(h->tag) - 1] = 0;
    h->line = line;
    h->magic = kMagic;
    gLiveBlocks.fetch_add(1);
    const size_t live = gLiveBytes.fetch_add(size) + size;
    size_t peak = gPeakBytes.load(std::memory_order_relaxed);
    while (live > peak && !gPeakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
    {
        ChainShard& shard = shardOf(h);
        std::lock_guard<std::mutex> lock(shard.mutex);
        h->prev = &shard.chain;
        h->next = shard.chain.next;
        shard.chain.next->prev = h;
        shard.chain.next = h;
    }
    return h + 1;
}

void release(void* block) {
    if (!block) return;
    Header* h = static_cast<Header*>(block) - 1;
    if (h->magic != kMagic) std::abort();  // not ours, or released twice
    h->magic = 0;
    gLiveBlocks.fetch_sub(1);
    gLiveBytes.fetch_sub(h->size);
    {
        std::lock_guard<std::mutex> lock(shardOf(h).mutex);
        h->prev->next = h->next;
        h->next->prev = h->prev;
    }
    std::free(h);
}

size_t liveBlocks() { return gLiveBlocks.load(); }
size_t liveBytes() { return gLiveBytes.load(); }
uint64_t allocationCount() { return gCalls.load(); }
size_t peakBytes() { return gPeakBytes.load(); }
size_t resetPeak() {
    const size_t live = gLiveBytes.load();
    gPeakBytes.store(live);
    return live;
}

std::vector<LiveBlock> liveBlockList() {
    std::vector<LiveBlock> out;
    for (ChainShard& shard : gShards) {
        std::lock_guard<std::mutex> lock(shard.mutex);
        for (const Header* h = shard.chain.next; h != &shard.chain; h = h->next) out.push_back({h->size, h->line, h->tag});
    }
    return out;
}

void failAfter(uint64_t n, bool sticky) {
    std::lock_guard<std::mutex> lock(gInjectMutex);
    gFailAt = n == 0 ? 0 : gCalls.load() + n;
    gSticky = sticky;
    gInjecting = gFailAt != 0 || gFailLine >= 0;
}

void failMatching(const std::string& tag, int32_t line) {
    std::lock_guard<std::mutex> lock(gInjectMutex);
    gFailTag = tag;
    gFailLine = line;
    gInjecting = true;
}

void resetFailures() {
    std::lock_guard<std::mutex> lock(gInjectMutex);
    gFailAt = 0;
    gSticky = false;
    gFailTag.clear();
    gFailLine = -1;
    gInjecting = false;
}

}  // namespace host::memory
