// The status text that the baking thread writes and the dialog reads on its timer, without locks.
//
// The text lives in a fixed buffer of atomic characters guarded by a sequence number (odd while a
// write is under way), so a reader never sees freed memory and retries until it has a copy that no
// writer touched. Writes happen at most about once a second, so a reader hardly ever retries.
#pragma once

#include <atomic>
#include <cstdint>

#include "sources/HostString.h"

class BakeStatusText {
public:
    // Longest text kept, terminating NUL excluded; longer texts are cut.
    static constexpr int32_t capacity = 255;

    BakeStatusText() { chars_[0].store(0, std::memory_order_relaxed); }
    BakeStatusText(const BakeStatusText&) = delete;
    BakeStatusText& operator=(const BakeStatusText&) = delete;

    // Writer side (one writer at a time: the baking thread, or the dialog while no bake runs).
    void set(const char* text);
    void set(const HostString& text) { set(text.chars()); }

    // Reader side: copies the text into out (size bytes, NUL-terminated).
    void read(char* out, int32_t size) const;
    HostString text() const;

private:
    std::atomic<uint32_t> sequence_{0};
    std::atomic<char> chars_[capacity + 1];
};
