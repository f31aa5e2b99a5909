// A host string with value semantics: every copy owns its own host handle and destroys it.
// A string without a handle (default constructed, or moved from) reads as the empty string.
#pragma once

#include <cstdint>

#include "sources/HostInterface.h"

class HostString {
public:
    HostString() = default;
    explicit HostString(const char* text);
    HostString(const HostString& other);
    HostString(HostString&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    HostString& operator=(const HostString& other);
    HostString& operator=(HostString&& other) noexcept;
    ~HostString();

    // Takes ownership of a string the host made for the caller.
    static HostString adopt(HstString* handle);
    static HostString fromInt(int64_t value);
    // decimals < 0: the shortest text that reads back to the same value.
    static HostString fromReal(double value, int32_t decimals = -1);

    int32_t length() const;
    bool empty() const { return length() == 0; }
    // The characters, valid while this string lives and is not changed.
    const char* chars() const;
    void assign(const char* text);

    HostString operator+(const HostString& other) const;
    HostString operator+(const char* text) const;
    HostString& operator+=(const HostString& other);
    HostString& operator+=(const char* text);

    // The host handle for a host call; made (empty) on demand so that it is never null.
    const HstString* handle() const;
    HstString* handle();
    // Gives the handle to the caller, who destroys it.
    HstString* release();

private:
    explicit HostString(HstString* handle) : handle_(handle) {}
    mutable HstString* handle_ = nullptr;
};

// One line on the host console.
void consolePrint(const HostString& line);
