// Allocation through the host allocator: raw blocks, and objects constructed in place in them.
// Every block carries a source tag and a line so that the host can account for it and make any
// single allocation fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "sources/Module.h"

// A block of `size` bytes (0 is sent as 1), aligned for any fundamental type; null on failure.
inline void* hostAlloc(size_t size, int32_t line, const char* tag) {
    return moduleApi()->memAlloc(static_cast<int64_t>(size == 0 ? 1 : size), line, tag);
}
inline void hostFree(void* block) {
    if (block != nullptr) moduleApi()->memFree(block);
}

// Prints "NO MEMORY: <tag> <line>" on the host console.
void reportNoMemory(const char* tag, int32_t line);

// Constructs a T in a block from the host allocator; null (reported on the console) when the
// allocation fails.
template <typename T, typename... Args>
T* hostNew(const char* tag, int32_t line, Args&&... args) {
    static_assert(alignof(T) <= alignof(std::max_align_t), "host blocks are aligned for fundamental types");
    void* block = hostAlloc(sizeof(T), line, tag);
    if (block == nullptr) {
        reportNoMemory(tag, line);
        return nullptr;
    }
    return new (block) T(std::forward<Args>(args)...);
}

// Destroys an object made by hostNew and returns its block. Null is ignored. T must be the
// object's own type or a base with a virtual destructor at the same address.
template <typename T>
void hostDelete(T* object) {
    if (object == nullptr) return;
    object->~T();
    hostFree(const_cast<void*>(static_cast<const void*>(object)));
}

