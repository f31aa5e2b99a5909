#include "Settings.h"

namespace host {

int32_t Settings::getInt(int32_t key, int32_t def) const {
    auto it = values_.find(key);
    if (it == values_.end()) return def;
    if (auto* v = std::get_if<int32_t>(&it->second)) return *v;
    if (auto* b = std::get_if<bool>(&it->second)) return *b ? 1 : 0;
    return def;
}

double Settings::getReal(int32_t key, double def) const {
    auto it = values_.find(key);
    if (it == values_.end()) return def;
    if (auto* v = std::get_if<double>(&it->second)) return *v;
    return def;
}

Vec3 Settings::getVector(int32_t key, const Vec3& def) const {
    auto it = values_.find(key);
    if (it == values_.end()) return def;
    if (auto* v = std::get_if<Vec3>(&it->second)) return *v;
    return def;
}

std::string Settings::getString(int32_t key, const std::string& def) const {
    auto it = values_.find(key);
    if (it == values_.end()) return def;
    if (auto* v = std::get_if<std::string>(&it->second)) return *v;
    return def;
}

bool Settings::getBool(int32_t key, bool def) const {
    auto it = values_.find(key);
    if (it == values_.end()) return def;
    if (auto* b = std::get_if<bool>(&it->second)) return *b;
    if (auto* v = std::get_if<int32_t>(&it->second)) return *v != 0;
    return def;
}

void* Settings::getLink(int32_t key) const {
    auto it = values_.find(key);
    if (it == values_.end()) return nullptr;
    if (auto* l = std::get_if<Link>(&it->second)) return l->target;
    return nullptr;
}

}  // namespace host
