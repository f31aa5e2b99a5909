// A settings container: values of a few kinds stored under int32 keys. Reading a key that is
// absent, or that holds a value of another kind, yields the caller's default.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>

#include "Geometry.h"

namespace host {

// A non-owning link to another document element (an object, a shader, ...).
struct Link {
    void* target = nullptr;
    bool operator==(const Link&) const = default;
};

class Settings {
public:
    using Value = std::variant<int32_t, double, Vec3, std::string, bool, Link>;

    void setInt(int32_t key, int32_t v) { values_[key] = v; }
    void setReal(int32_t key, double v) { values_[key] = v; }
    void setVector(int32_t key, const Vec3& v) { values_[key] = v; }
    void setString(int32_t key, std::string v) { values_[key] = std::move(v); }
    void setBool(int32_t key, bool v) { values_[key] = v; }
    void setLink(int32_t key, void* target) { values_[key] = Link{target}; }

    // Integers and booleans read as each other, as a host's gadgets do (a check box is an integer).
    int32_t getInt(int32_t key, int32_t def = 0) const;
    double getReal(int32_t key, double def = 0.0) const;
    Vec3 getVector(int32_t key, const Vec3& def = {}) const;
    std::string getString(int32_t key, const std::string& def = {}) const;
    bool getBool(int32_t key, bool def = false) const;
    void* getLink(int32_t key) const;

    bool has(int32_t key) const { return values_.count(key) != 0; }
    void remove(int32_t key) { values_.erase(key); }
    void clear() { values_.clear(); }
    const std::map<int32_t, Value>& values() const { return values_; }

    bool operator==(const Settings&) const = default;

private:
    std::map<int32_t, Value> values_;
};

}  // namespace host
