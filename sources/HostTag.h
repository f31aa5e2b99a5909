// A view of a host tag (the object owns it, unless it was detached).
#pragma once

#include <cstdint>

#include "sources/HostInterface.h"
#include "sources/HostSelection.h"
#include "sources/HostString.h"

class HostTag {
public:
    HostTag() = default;
    explicit HostTag(HstTag* handle) : handle_(handle) {}

    int32_t type() const;
    // The next tag of the same object (an invalid tag after the last).
    HostTag next() const;
    HstObject* object() const;
    HostString name() const;
    // UVW rows, normal rows or float values; null for other tags.
    void* data() const;
    int32_t dataCount() const;
    // The set of a selection tag.
    HostSelection selection() const;

    bool valid() const { return handle_ != nullptr; }
    HstTag* handle() const { return handle_; }
    bool operator==(const HostTag& other) const { return handle_ == other.handle_; }

private:
    HstTag* handle_ = nullptr;
};
