#include "sources/HostFilename.h"

#include "sources/Module.h"

HostFilename::HostFilename(const char* path) : handle_(moduleApi()->fnMake(path != nullptr ? path : "")) {}

HostFilename::HostFilename(const HostFilename& other)
    : handle_(other.handle_ != nullptr ? moduleApi()->fnCopy(other.handle_) : nullptr) {}

HostFilename& HostFilename::operator=(const HostFilename& other) {
    if (this == &other) return *this;
    HstFilename* copy = other.handle_ != nullptr ? moduleApi()->fnCopy(other.handle_) : nullptr;
    if (handle_ != nullptr) moduleApi()->fnDestroy(handle_);
    handle_ = copy;
    return *this;
}

HostFilename& HostFilename::operator=(HostFilename&& other) noexcept {
    if (this == &other) return *this;
    if (handle_ != nullptr) moduleApi()->fnDestroy(handle_);
    handle_ = other.handle_;
    other.handle_ = nullptr;
    return *this;
}

HostFilename::~HostFilename() {
    if (handle_ != nullptr) moduleApi()->fnDestroy(handle_);
}

HostFilename HostFilename::adopt(HstFilename* handle) { return HostFilename(handle); }

HostFilename HostFilename::operator+(const char* name) const {
    return HostFilename(moduleApi()->fnJoin(handle(), name != nullptr ? name : ""));
}

void HostFilename::setSuffix(const char* suffix) { moduleApi()->fnSetSuffix(handle(), suffix); }

bool HostFilename::empty() const { return handle_ == nullptr || moduleApi()->fnIsEmpty(handle_) != 0; }

const char* HostFilename::chars() const { return handle_ != nullptr ? moduleApi()->fnChars(handle_) : ""; }

void HostFilename::assign(const char* path) {
    if (path == nullptr) path = "";
    if (handle_ != nullptr)
        moduleApi()->fnAssign(handle_, path);
    else
        handle_ = moduleApi()->fnMake(path);
}

const HstFilename* HostFilename::handle() const {
    if (handle_ == nullptr) handle_ = moduleApi()->fnMake("");
    return handle_;
}

HstFilename* HostFilename::handle() {
    if (handle_ == nullptr) handle_ = moduleApi()->fnMake("");
    return handle_;
}
