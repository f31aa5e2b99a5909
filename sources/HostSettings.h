// A host settings container: either one the module made (and destroys), or a view of one the host
// owns (a document's settings, a message, a tool's settings). Not copyable; moving hands it over.
#pragma once

#include <cstdint>

#include "sources/HostInterface.h"
#include "sources/HostString.h"

class HostSettings {
public:
    HostSettings() = default;
    // A view of a container the host owns; never destroyed here.
    explicit HostSettings(HstSettings* handle) : handle_(handle) {}
    explicit HostSettings(const HstSettings* handle) : handle_(const_cast<HstSettings*>(handle)) {}
    HostSettings(const HostSettings&) = delete;
    HostSettings& operator=(const HostSettings&) = delete;
    HostSettings(HostSettings&& other) noexcept : handle_(other.handle_), owned_(other.owned_) {
        other.handle_ = nullptr;
        other.owned_ = false;
    }
    HostSettings& operator=(HostSettings&& other) noexcept;
    ~HostSettings() { destroy(); }

    // A new, empty container owned by this object; false when the host cannot make one.
    bool make();
    // Destroys an owned container; a view is only dropped.
    void destroy();

    // Reads give the default when the key is absent (or there is no container).
    int32_t getInt(int32_t key, int32_t def = 0) const;
    double getReal(int32_t key, double def = 0.0) const;
    bool getBool(int32_t key, bool def = false) const;
    void getVector(int32_t key, const double def[3], double out[3]) const;
    HostString getString(int32_t key) const;
    void* getLink(int32_t key) const;
    bool has(int32_t key) const;

    void setInt(int32_t key, int32_t v);
    void setReal(int32_t key, double v);
    void setBool(int32_t key, bool v);
    void setVector(int32_t key, const double v[3]);
    void setString(int32_t key, const HostString& v);
    void setLink(int32_t key, void* target);

    bool valid() const { return handle_ != nullptr; }
    bool owned() const { return owned_; }
    HstSettings* handle() const { return handle_; }

private:
    HstSettings* handle_ = nullptr;
    bool owned_ = false;
};
