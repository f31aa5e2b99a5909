#include "baking/BakeStatus.h"

void BakeStatusText::set(const char* text) {
    const uint32_t s = sequence_.load(std::memory_order_relaxed);
    sequence_.store(s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    int32_t i = 0;
    if (text != nullptr)
        for (; i < capacity && text[i] != 0; ++i) chars_[i].store(text[i], std::memory_order_relaxed);
    chars_[i].store(0, std::memory_order_relaxed);
    sequence_.store(s + 2, std::memory_order_release);
}

void BakeStatusText::read(char* out, int32_t size) const {
    if (out == nullptr || size <= 0) return;
    for (;;) {
        const uint32_t before = sequence_.load(std::memory_order_acquire);
        int32_t i = 0;
        if ((before & 1u) == 0) {
            for (; i + 1 < size && i < capacity; ++i) {
                const char c = chars_[i].load(std::memory_order_relaxed);
                if (c == 0) break;
                out[i] = c;
            }
            out[i] = 0;
            std::atomic_thread_fence(std::memory_order_acquire);
            if (sequence_.load(std::memory_order_relaxed) == before) return;
        }
    }
}

HostString BakeStatusText::text() const {
    char buffer[capacity + 1];
    read(buffer, capacity + 1);
    return HostString(buffer);
}
