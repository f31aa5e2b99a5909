#include "sources/HostSettings.h"

#include "sources/Module.h"

HostSettings& HostSettings::operator=(HostSettings&& other) noexcept {
    if (this != &other) {
        destroy();
        handle_ = other.handle_;
        owned_ = other.owned_;
        other.handle_ = nullptr;
        other.owned_ = false;
    }
    return *this;
}

bool HostSettings::make() {
    destroy();
    handle_ = moduleApi()->setsMake();
    owned_ = handle_ != nullptr;
    return handle_ != nullptr;
}

void HostSettings::destroy() {
    if (owned_ && handle_ != nullptr) moduleApi()->setsDestroy(handle_);
    handle_ = nullptr;
    owned_ = false;
}

int32_t HostSettings::getInt(int32_t key, int32_t def) const {
    return handle_ != nullptr ? moduleApi()->setsGetInt(handle_, key, def) : def;
}

double HostSettings::getReal(int32_t key, double def) const {
    return handle_ != nullptr ? moduleApi()->setsGetReal(handle_, key, def) : def;
}

bool HostSettings::getBool(int32_t key, bool def) const {
    return handle_ != nullptr ? moduleApi()->setsGetBool(handle_, key, def ? 1 : 0) != 0 : def;
}

void HostSettings::getVector(int32_t key, const double def[3], double out[3]) const {
    if (handle_ != nullptr) {
        moduleApi()->setsGetVector(handle_, key, def, out);
    } else {
        out[0] = def[0];
        out[1] = def[1];
        out[2] = def[2];
    }
}

HostString HostSettings::getString(int32_t key) const {
    return handle_ != nullptr ? HostString::adopt(moduleApi()->setsGetString(handle_, key)) : HostString();
}

void* HostSettings::getLink(int32_t key) const {
    return handle_ != nullptr ? moduleApi()->setsGetLink(handle_, key) : nullptr;
}

bool HostSettings::has(int32_t key) const { return handle_ != nullptr && moduleApi()->setsHas(handle_, key) != 0; }

void HostSettings::setInt(int32_t key, int32_t v) {
    if (handle_ != nullptr) moduleApi()->setsSetInt(handle_, key, v);
}

void HostSettings::setReal(int32_t key, double v) {
    if (handle_ != nullptr) moduleApi()->setsSetReal(handle_, key, v);
}

void HostSettings::setBool(int32_t key, bool v) {
    if (handle_ != nullptr) moduleApi()->setsSetBool(handle_, key, v ? 1 : 0);
}

void HostSettings::setVector(int32_t key, const double v[3]) {
    if (handle_ != nullptr) moduleApi()->setsSetVector(handle_, key, v);
}

void HostSettings::setString(int32_t key, const HostString& v) {
    if (handle_ != nullptr) moduleApi()->setsSetString(handle_, key, v.handle());
}

void HostSettings::setLink(int32_t key, void* target) {
    if (handle_ != nullptr) moduleApi()->setsSetLink(handle_, key, target);
}
