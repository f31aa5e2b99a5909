#include "Memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <sys/mman.h>

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
constexpr uint32_t kMagic = 0x56584d45;        // guards against releasing a foreign pointer
constexpr uint32_t kMagicMapped = 0x56584d48;  // the same, for a block mapped on its own (below)

// Blocks this large are mapped on their own, on a 2 MB boundary, and the system is asked to back
// them with huge pages where it can. The reduction's and the bake's arrays (a heap of millions of
// candidates, the polygons around each point, an octree) are read at random; with 4 KB pages nearly
// every such read also misses the processor's address cache, and the loops wait on memory already.
// Smaller blocks come from malloc.
constexpr size_t kMappedFrom = size_t{4} << 20;
constexpr size_t kHugePage = size_t{2} << 20;
// A mapped block's data starts a cache line into its mapping, its header just before.
constexpr size_t kMappedDataOffset = 64;

static_assert(sizeof(Header) <= kMappedDataOffset, "a mapped block's header fits before its data");

size_t mappingLength(size_t size) { return (kMappedDataOffset + size + kHugePage - 1) / kHugePage * kHugePage; }

// A mapping of `length` bytes (a multiple of kHugePage) on a kHugePage boundary, or null.
void* mapAligned(size_t length) {
    void* raw = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    // The slack before and after the aligned part goes back at once.
    if (aligned > start) ::munmap(raw, aligned - start);
    if (const uintptr_t end = start + length + kHugePage; end > aligned + length)
        ::munmap(reinterpret_cast<void*>(aligned + length), end - aligned - length);
    ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);  // a wish: refused, it stays 4 KB pages
    return reinterpret_cast<void*>(aligned);
}

std::atomic<size_t> gLiveBlocks{0};
std::atomic<size_t> gLiveBytes{0};
std::atomic<uint64_t> gCalls{0};
std::atomic<size_t> gPeakBytes{0};  // highest live bytes since the last peak reset

std::mutex gInjectMutex;
uint64_t gFailAt = 0;  // absolute call number that fails, 0 = none
bool gSticky = false;
std::string gFailTag;
int32_t gFailLine = -1;

// The chain of live blocks (for listing them); a short critical section per allocation.
std::mutex gListMutex;
Header gChain{&gChain, &gChain, 0, 0, 0, {}};

std::atomic<bool> gInjecting{false};  // any failure injection armed: only then the slow check runs

bool shouldFail(uint64_t call, const char* tag, int32_t line) {
    if (!gInjecting.load(std::memory_order_relaxed)) return false;
    std::lock_guard<std::mutex> lock(gInjectMutex);
    if (gFailAt != 0 && (call == gFailAt || (gSticky && call > gFailAt))) return true;
    if (gFailLine >= 0 && tag && gFailTag == tag && (gFailLine == 0 || gFailLine == line)) return true;
    return false;
}

}  // namespace

void* allocate(size_t size, int32_t line, const char* tag) {
    const uint64_t call = ++gCalls;
    if (size == 0) size = 1;
    if (shouldFail(call, tag, line)) return nullptr;
    if (size > SIZE_MAX - kHugePage - kMappedDataOffset) return nullptr;
    Header* h = nullptr;
    uint32_t magic = kMagic;
    if (size >= kMappedFrom) {
        if (char* base = static_cast<char*>(mapAligned(mappingLength(size)))) {
            h = reinterpret_cast<Header*>(base + kMappedDataOffset) - 1;
            magic = kMagicMapped;
        }
    }
    if (!h) h = static_cast<Header*>(std::malloc(sizeof(Header) + size));
    if (!h) return nullptr;
    h->size = size;
    std::strncpy(h->tag, tag ? tag : "", sizeof(h->tag) - 1);
    h->tag[sizeof(h->tag) - 1] = 0;
    h->line = line;
    h->magic = magic;
    gLiveBlocks.fetch_add(1);
    const size_t live = gLiveBytes.fetch_add(size) + size;
    size_t peak = gPeakBytes.load(std::memory_order_relaxed);
    while (live > peak && !gPeakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
    {
        std::lock_guard<std::mutex> lock(gListMutex);
        h->prev = &gChain;
        h->next = gChain.next;
        gChain.next->prev = h;
        gChain.next = h;
    }
    return h + 1;
}

void release(void* block) {
    if (!block) return;
    Header* h = static_cast<Header*>(block) - 1;
    const uint32_t magic = h->magic;
    if (magic != kMagic && magic != kMagicMapped) std::abort();  // not ours, or released twice
    h->magic = 0;
    gLiveBlocks.fetch_sub(1);
    gLiveBytes.fetch_sub(h->size);
    {
        std::lock_guard<std::mutex> lock(gListMutex);
        h->prev->next = h->next;
        h->next->prev = h->prev;
    }
    if (magic == kMagicMapped)
        ::munmap(static_cast<char*>(block) - kMappedDataOffset, mappingLength(h->size));
    else
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
    std::lock_guard<std::mutex> lock(gListMutex);
    std::vector<LiveBlock> out;
    for (const Header* h = gChain.next; h != &gChain; h = h->next) out.push_back({h->size, h->line, h->tag});
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
