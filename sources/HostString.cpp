#include "sources/HostString.h"

#include "sources/ModuleState.h"

HostString::HostString(const char* text) : handle_(moduleApi()->strMake(text != nullptr ? text : "")) {}

HostString::HostString(const HostString& other)
    : handle_(other.handle_ != nullptr ? moduleApi()->strCopy(other.handle_) : nullptr) {}

HostString& HostString::operator=(const HostString& other) {
    if (this == &other) return *this;
    HstString* copy = other.handle_ != nullptr ? moduleApi()->strCopy(other.handle_) : nullptr;
    if (handle_ != nullptr) moduleApi()->strDestroy(handle_);
    handle_ = copy;
    return *this;
}

HostString& HostString::operator=(HostString&& other) noexcept {
    if (this == &other) return *this;
    if (handle_ != nullptr) moduleApi()->strDestroy(handle_);
    handle_ = other.handle_;
    other.handle_ = nullptr;
    return *this;
}

HostString::~HostString() {
    if (handle_ != nullptr) moduleApi()->strDestroy(handle_);
}

HostString HostString::adopt(HstString* handle) { return HostString(handle); }

HostString HostString::fromInt(int64_t value) { return HostString(moduleApi()->strFromInt(value)); }

HostString HostString::fromReal(double value, int32_t decimals) {
    return HostString(moduleApi()->strFromReal(value, decimals));
}

int32_t HostString::length() const { return handle_ != nullptr ? moduleApi()->strLength(handle_) : 0; }

const char* HostString::chars() const { return handle_ != nullptr ? moduleApi()->strChars(handle_) : ""; }

void HostString::assign(const char* text) {
    if (text == nullptr) text = "";
    if (handle_ != nullptr)
        moduleApi()->strAssign(handle_, text);
    else
        handle_ = moduleApi()->strMake(text);
}

HostString HostString::operator+(const HostString& other) const {
    return HostString(moduleApi()->strConcat(handle(), other.handle()));
}

HostString HostString::operator+(const char* text) const { return *this + HostString(text); }

HostString& HostString::operator+=(const HostString& other) {
    *this = *this + other;
    return *this;
}

HostString& HostString::operator+=(const char* text) { return *this += HostString(text); }

const HstString* HostString::handle() const {
    if (handle_ == nullptr) handle_ = moduleApi()->strMake("");
    return handle_;
}

HstString* HostString::handle() {
    if (handle_ == nullptr) handle_ = moduleApi()->strMake("");
    return handle_;
}

HstString* HostString::release() {
    HstString* h = handle();
    handle_ = nullptr;
    return h;
}

void consolePrint(const HostString& line) { moduleApi()->consolePrint(line.handle()); }
