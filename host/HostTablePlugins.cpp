// The resource and plug-in registration entries of the host table, and the registry of what the
// module registered.
#include "host/HostTable.h"
#include "host/HostTableSections.h"

#include <algorithm>
#include <memory>

#include "host/Dialogs.h"
#include "host/HostHandles.h"
#include "host/Memory.h"
#include "host/Resources.h"

namespace host {
namespace {

HstResource* resOpen(const HstFilename* folder) {
    if (!folder) return nullptr;
    std::unique_ptr<ResourceSet> set = ResourceSet::open(folder->path);
    if (!set) return nullptr;
    countHandle(1);
    ResourceSet* raw = set.release();
    DialogHost::main().setResources(raw);
    return reinterpret_cast<HstResource*>(raw);
}
void resClose(HstResource* r) {
    if (!r) return;
    auto* set = reinterpret_cast<ResourceSet*>(r);
    if (DialogHost::main().resources() == set) DialogHost::main().setResources(nullptr);
    countHandle(-1);
    delete set;
}
HstString* resString(HstResource* r, int32_t id) {
    return makeString(r ? reinterpret_cast<ResourceSet*>(r)->string(id) : std::string());
}
int32_t resRegisterDescription(HstResource* r, const char* name) {
    if (!r || !name || !*name) return 0;
    PluginRegistry::main().descriptions.emplace_back(name);
    return 1;
}

// ---- registration ---------------------------------------------------------------------------
int32_t registerPlugin(int32_t kind, int32_t id, const HstString* name, int32_t info, HstBitmap* icon,
                       const HstString* help, void* object, HostShaderAllocator shaderAlloc, int32_t version) {
    RegisteredPlugin p;
    p.kind = kind;
    p.id = id;
    p.name = name ? name->text : "";
    p.help = help ? help->text : "";
    p.info = info;
    if (icon) {
        p.iconWidth = icon->bitmap.width();
        p.iconHeight = icon->bitmap.height();
    }
    p.object = object;
    p.shaderAllocator = shaderAlloc;
    p.version = version;
    return PluginRegistry::main().add(p) ? 1 : 0;
}

}  // namespace

void fillPluginApi(HostApi& t) {
    t.resOpen = resOpen;
    t.resClose = resClose;
    t.resString = resString;
    t.resRegisterDescription = resRegisterDescription;
    t.registerPlugin = registerPlugin;
}

PluginRegistry& PluginRegistry::main() {
    static PluginRegistry registry;
    return registry;
}

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
