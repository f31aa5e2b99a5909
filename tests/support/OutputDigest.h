// A 64-bit FNV-1a digest over output arrays, so that runs of different builds (or a golden value
// taken once) can be seen to give the same output bit for bit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/SelectionSet.h"

namespace testsupport {

class Digest {
public:
    void bytes(const void* data, size_t n) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < n; ++i) {
            h_ ^= p[i];
            h_ *= 0x100000001b3ull;
        }
    }
    template <class T>
    void value(const T& v) {
        bytes(&v, sizeof(T));
    }
    // The element count, then the elements.
    template <class T>
    void array(const std::vector<T>& v) {
        value(static_cast<uint64_t>(v.size()));
        contents(v);
    }
    // The elements alone.
    template <class T>
    void contents(const std::vector<T>& v) {
        if (!v.empty()) bytes(v.data(), v.size() * sizeof(T));
    }
    // The size, then one byte per element: 1 selected, 0 not.
    void set(const host::SelectionSet& s) {
        value(static_cast<int32_t>(s.size()));
        for (int i = 0; i < s.size(); ++i) value(static_cast<uint8_t>(s.isSelected(i)));
    }
    uint64_t result() const { return h_; }
    std::string hex() const {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h_));
        return text;
    }

private:
    uint64_t h_ = 0xcbf29ce484222325ull;
};

}  // namespace testsupport
