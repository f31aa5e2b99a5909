// Stack: the module's growable array of elements stored by value.
//
// Storage comes from the host allocator (tag "Stack", line 215). Nothing is ever thrown: a failed
// allocation or an index outside the live elements is reported on the host console as one line
// "NO MEMORY: Stack <fault code>" and the operation degrades in a fixed way:
//
//   fault  98  element(i) with i < 0 or i >= count: the reference to slot 0 is returned instead
//   fault 109  value(i) with i < 0 or i >= count: the value of slot 0 is returned instead
//   fault 160  pop on an empty stack: the zero value T() is returned, the stack is unchanged
//   fault 218  storage allocation failed in reserve, resize or push: the stack is unchanged
//
// An empty stack has no slot 0; an index outside it then never reaches the storage (there is
// none): element(i) returns a reference to a per-type zero slot that lives outside every stack and
// is reset to T() each time it is handed out, and value(i) returns T(). Code must not rely on either.
//
// Element types with a non-trivial constructor or destructor get every slot of the storage
// constructed (slots at and above count hold T()) and destroyed with it; trivially copyable element
// types live in raw storage. Growth moves the live elements into the new storage, so a stack of
// stacks grows without copying (and without allocating for) its inner stacks.
//
// A stack of pointers never owns their targets. Copying a stack copies its elements (deeply, for a
// stack of stacks); a copy whose storage cannot be allocated is left empty.
#pragma once

#include <cassert>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "sources/HostMemory.h"

// The console report of a stack fault (in Stack.cpp, away from the inlined fast paths).
[[gnu::cold]] void stackFault(int32_t fault);

template <typename T>
class Stack {
    static constexpr bool plain = std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>;

public:
    static constexpr const char* sourceTag = "Stack";
    // The source line the host allocator is told for every storage block.
    static constexpr int32_t allocLine = 215;
    // Fault codes of the console reports.
    static constexpr int32_t faultElement = 98;
    static constexpr int32_t faultValue = 109;
    static constexpr int32_t faultPop = 160;
    static constexpr int32_t faultNoMemory = 218;

    Stack() = default;
    Stack(const Stack& other) { assign(other); }
    Stack(Stack&& other) noexcept : count(other.count), capacity(other.capacity), items(other.items) {
        other.count = 0;
        other.capacity = 0;
        other.items = nullptr;
    }
    Stack& operator=(const Stack& other) {
        assign(other);
        return *this;
    }
    Stack& operator=(Stack&& other) noexcept {
        if (this != &other) {
            clear();
            count = other.count;
            capacity = other.capacity;
            items = other.items;
            other.count = 0;
            other.capacity = 0;
            other.items = nullptr;
        }
        return *this;
    }
    ~Stack() { clear(); }

    // Releases the storage; count and capacity become 0.
    void clear() {
        if (items != nullptr) {
            release(items, capacity);
            items = nullptr;
        }
        count = 0;
        capacity = 0;
    }

    // Makes room for exactly n slots; nothing to do when n <= capacity.
    bool reserve(int32_t n) {
        assert(capacity >= 0 && (capacity == 0) == (items == nullptr));
        if (n <= capacity) return true;
        T* fresh = allocate(n);
        if (fresh == nullptr) return false;
        if constexpr (plain) {
            if (count > 0) memcpy(static_cast<void*>(fresh), static_cast<const void*>(items), sizeof(T) * count);
        } else {
            for (int32_t i = 0; i < count; ++i) fresh[i] = std::move(items[i]);
        }
        if (items != nullptr) release(items, capacity);
        items = fresh;
        capacity = n;
        return true;
    }

    // Grows the stack to n elements, the new ones holding T(); never shortens it.
    bool resize(int32_t n) {
        if (!reserve(n)) return false;
        for (int32_t i = count; i < n; ++i) items[i] = T();
        if (n > count) count = n;
        return true;
    }

    // Appends v; when the storage cannot grow, v is dropped (the failure is reported).
    void push(const T& v) {
        assert(count >= 0 && count <= capacity);
        if (count == capacity) [[unlikely]] {
            if (aliases(&v)) {
                T copy(v);
                if (!reserve(grownCapacity())) return;
                items[count++] = std::move(copy);
                return;
            }
            if (!reserve(grownCapacity())) return;
        }
        items[count++] = v;
    }
    void push(T&& v) {
        assert(count >= 0 && count <= capacity);
        if (count == capacity) [[unlikely]] {
            if (aliases(&v)) {
                T moved(std::move(v));
                if (!reserve(grownCapacity())) return;
                items[count++] = std::move(moved);
                return;
            }
            if (!reserve(grownCapacity())) return;
        }
        items[count++] = std::move(v);
    }

    // Removes and returns the last element; its slot is reset to T().
    T pop() {
        assert(count <= capacity);
        if (count <= 0) [[unlikely]] {
            stackFault(faultPop);
            return T();
        }
        --count;
        T last = std::move(items[count]);
        items[count] = T();
        return last;
    }

    // One unsigned comparison refuses a negative index as it refuses one past the end.
    T& element(int32_t i) {
        if (static_cast<uint32_t>(i) < static_cast<uint32_t>(count)) [[likely]]
            return items[i];
        return outOfRange(faultElement);
    }
    const T& element(int32_t i) const { return const_cast<Stack*>(this)->element(i); }
    T& operator[](int32_t i) { return element(i); }
    const T& operator[](int32_t i) const { return const_cast<Stack*>(this)->element(i); }

    T value(int32_t i) const {
        if (static_cast<uint32_t>(i) < static_cast<uint32_t>(count)) [[likely]]
            return items[i];
        stackFault(faultValue);
        if (count > 0) return items[0];
        return T();
    }

    // Makes this stack a copy of `other`: exactly other.count slots, elements copied in order.
    void assign(const Stack& other) {
        if (this == &other) return;
        clear();
        if (other.count <= 0) return;
        if (!reserve(other.count)) return;
        for (int32_t i = 0; i < other.count; ++i) items[i] = other.items[i];
        count = other.count;
    }

    bool empty() const { return count == 0; }
    T* begin() { return items; }
    T* end() { return items + count; }
    const T* begin() const { return items; }
    const T* end() const { return items + count; }

    // The capacity the next growth by push asks for: one more below 5, else half as much again.
    int32_t grownCapacity() const { return capacity < 5 ? capacity + 1 : capacity + capacity / 2; }

    int32_t count = 0;
    int32_t capacity = 0;
    T* items = nullptr;

private:
    static T* allocate(int32_t n) {
        static_assert(alignof(T) <= alignof(std::max_align_t), "host blocks are aligned for fundamental types");
        void* block = hostAlloc(sizeof(T) * static_cast<size_t>(n), allocLine, sourceTag);
        if (block == nullptr) {
            stackFault(faultNoMemory);
            return nullptr;
        }
        T* slots = static_cast<T*>(block);
        if constexpr (!plain) {
            for (int32_t i = 0; i < n; ++i) new (slots + i) T();
        }
        return slots;
    }

    static void release(T* slots, int32_t n) {
        if constexpr (!plain) {
            for (int32_t i = 0; i < n; ++i) slots[i].~T();
        } else {
            (void)n;
        }
        hostFree(slots);
    }

    bool aliases(const T* p) const {
        const auto at = reinterpret_cast<uintptr_t>(p);
        return at >= reinterpret_cast<uintptr_t>(items) && at < reinterpret_cast<uintptr_t>(items + count);
    }

    [[gnu::noinline]] T& outOfRange(int32_t fault) {
        stackFault(fault);
        if (count > 0) return items[0];
        static T zero;
        zero = T();
        return zero;
    }
};
