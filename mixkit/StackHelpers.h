// Small list operations on Stack used throughout the reduction core.
#pragma once

#include <cstdint>
#include <type_traits>

#include "sources/HostWorkers.h"
#include "sources/Stack.h"

// Appends v and tells whether it was stored (a Stack drops the value when it cannot grow).
template <typename T>
bool pushChecked(Stack<T>& s, const T& v) {
    const int32_t before = s.count;
    s.push(v);
    return s.count != before;
}

// Forgets the elements but keeps the storage for reuse (plain element types only).
template <typename T>
void emptyKeepingStorage(Stack<T>& s) {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "only plain elements can be dropped without being reset");
    s.count = 0;
}

// Removes the first occurrence of v; the last element takes its place. False when v is absent.
template <typename T>
bool removeFirst(Stack<T>& s, const T& v) {
    static_assert(std::is_trivially_copyable_v<T>, "plain elements only");
    for (int32_t i = 0; i < s.count; ++i) {
        if (s.items[i] == v) {
            s.items[i] = s.items[s.count - 1];
            --s.count;
            return true;
        }
    }
    return false;
}

template <typename T>
bool contains(const Stack<T>& s, const T& v) {
    for (int32_t i = 0; i < s.count; ++i)
        if (s.items[i] == v) return true;
    return false;
}

// Makes room for n elements; when the storage must grow it grows by the push rule at least, so
// that a list that keeps growing is not moved at every step.
template <typename T>
bool reserveWithSlack(Stack<T>& s, int32_t n) {
    if (n <= s.capacity) return true;
    const int32_t grown = s.grownCapacity();
    return s.reserve(n > grown ? n : grown);
}

// Resizes to n as Stack::resize does, but a big array's new elements are set by blocks on up to
// `workers` host workers: the first touch of fresh pages is dear on a virtual machine, and one
// thread's page faults go no faster than one processor. False when the room is refused (nothing
// changes then).
template <typename T>
bool resizeOnWorkers(Stack<T>& s, int32_t n, int32_t workers) {
    static_assert(std::is_trivially_copyable_v<T>, "plain elements only");
    constexpr int32_t kBlock = (1 << 20) / sizeof(T) > 0 ? static_cast<int32_t>((1 << 20) / sizeof(T)) : 1;
    const int32_t from = s.count;
    if (n <= from || static_cast<int64_t>(n - from) * static_cast<int64_t>(sizeof(T)) < (int64_t{4} << 20) || workers < 2)
        return s.resize(n);
    if (!s.reserve(n)) return false;
    T* items = s.items + from;
    forBlocks(n - from, kBlock, workers, nullptr, [items](int32_t a, int32_t b) {
        for (int32_t i = a; i < b; ++i) items[i] = T();
        return true;
    });
    s.count = n;
    return true;
}
