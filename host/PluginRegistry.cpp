#include "host/PluginRegistry.h"

#include <algorithm>

#include "host/Memory.h"

namespace host {

const RegisteredPlugin* PluginRegistry::find(int32_t id) const {
    for (const auto& p : plugins_)
        if (p.id == id) return &p;
    return nullptr;
}

bool PluginRegistry::add(const RegisteredPlugin& p) {
    // Commands and tools must come with their object, shaders with their allocator.
    if (p.kind == HOST_PLUGIN_SHADER ? !p.shaderAllocator : !p.object) return false;
    if (p.name.empty() || find(p.id)) return false;
    plugins_.push_back(p);
    return true;
}

HostShaderBase* PluginRegistry::makeShader(int32_t id) {
    const RegisteredPlugin* p = find(id);
    if (!p || p->kind != HOST_PLUGIN_SHADER || !p->shaderAllocator) return nullptr;
    HostShaderBase* s = p->shaderAllocator();
    if (s) shaders_.push_back(s);
    return s;
}

void PluginRegistry::destroyShader(HostShaderBase* shader) {
    const auto it = std::find(shaders_.begin(), shaders_.end(), shader);
    if (it == shaders_.end()) return;
    shaders_.erase(it);
    // Made in host memory by the module's allocator: destroy, then give the block back.
    shader->~HostShaderBase();
    memory::release(shader);
}

size_t PluginRegistry::liveShaders() const { return shaders_.size(); }

void PluginRegistry::clear() {
    // Shader instances hold module code too; they go first.
    while (!shaders_.empty()) destroyShader(shaders_.back());
    // Registered objects were made in host memory by the module: destroy, then give the block back.
    for (auto& p : plugins_) {
        if (p.kind == HOST_PLUGIN_COMMAND) static_cast<HostCommandBase*>(p.object)->~HostCommandBase();
        if (p.kind == HOST_PLUGIN_TOOL) static_cast<HostToolBase*>(p.object)->~HostToolBase();
        if (p.object) memory::release(p.object);
    }
    plugins_.clear();
    descriptions.clear();
}

}  // namespace host
