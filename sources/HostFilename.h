// A host file name with value semantics. A file name without a handle reads as empty.
#pragma once

#include "sources/HostInterface.h"

class HostFilename {
public:
    HostFilename() = default;
    explicit HostFilename(const char* path);
    HostFilename(const HostFilename& other);
    HostFilename(HostFilename&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    HostFilename& operator=(const HostFilename& other);
    HostFilename& operator=(HostFilename&& other) noexcept;
    ~HostFilename();

    // Takes ownership of a file name the host made for the caller.
    static HostFilename adopt(HstFilename* handle);

    // This folder joined with one more part ("a" + "b" = "a/b").
    HostFilename operator+(const char* name) const;
    void setSuffix(const char* suffix);
    bool empty() const;
    const char* chars() const;
    void assign(const char* path);
    // False when the host could not make the handle.
    bool valid() const { return handle_ != nullptr; }

    // The host handle for a host call; made (empty) on demand.
    const HstFilename* handle() const;
    HstFilename* handle();

private:
    explicit HostFilename(HstFilename* handle) : handle_(handle) {}
    mutable HstFilename* handle_ = nullptr;
};
