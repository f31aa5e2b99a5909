// The host allocator that the module's every allocation goes through. It records each block's
// source tag and line, counts live blocks, and can be told to fail a chosen allocation so that
// every failure path of a caller can be run in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace host::memory {

// A block of at least `size` bytes (0 is taken as 1), aligned for any type; null on failure.
void* allocate(size_t size, int32_t line, const char* tag);
// Null is ignored.
void release(void* block);

// Live blocks and bytes handed out and not yet released.
size_t liveBlocks();
size_t liveBytes();
// Total allocations asked for since start (failed ones included).
uint64_t allocationCount();
// The highest live byte count since start or since the last resetPeak(), which starts the next
// measurement at the bytes live now (and answers them).
size_t peakBytes();
size_t resetPeak();

struct LiveBlock {
    size_t size;
    int32_t line;
    std::string tag;
};
std::vector<LiveBlock> liveBlockList();

// Makes the allocation `n` calls from now fail (1 = the next one); 0 turns injection off.
// With `sticky`, that one and every later allocation fail until reset.
void failAfter(uint64_t n, bool sticky = false);
// Fails only allocations whose tag and line match (line 0 = any line of that tag), every time.
void failMatching(const std::string& tag, int32_t line);
void resetFailures();

}  // namespace host::memory
