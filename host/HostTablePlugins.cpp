// The resource and plug-in registration entries of the host table.
#include "host/HostTable.h"
#include "host/HostServices.h"
#include "host/HostTableSections.h"

#include <memory>

#include "host/Dialogs.h"
#include "host/HostHandles.h"
#include "host/Resources.h"

namespace host {
namespace {

HstResource* resOpen(const HstFilename* folder) {
    if (!folder) return nullptr;
    std::unique_ptr<ResourceSet> set = ResourceSet::open(folder->path);
    if (!set) return nullptr;
    countHandle(1);
    ResourceSet* raw = set.release();
    hostServices().dialogs.setResources(raw);
    return reinterpret_cast<HstResource*>(raw);
}
void resClose(HstResource* r) {
    if (!r) return;
    auto* set = reinterpret_cast<ResourceSet*>(r);
    if (hostServices().dialogs.resources() == set) hostServices().dialogs.setResources(nullptr);
    countHandle(-1);
    delete set;
}
HstString* resString(HstResource* r, int32_t id) {
    return makeString(r ? reinterpret_cast<ResourceSet*>(r)->string(id) : std::string());
}
int32_t resRegisterDescription(HstResource* r, const char* name) {
    if (!r || !name || !*name) return 0;
    hostServices().plugins.descriptions.emplace_back(name);
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
    return hostServices().plugins.add(p) ? 1 : 0;
}

}  // namespace

void fillPluginApi(HostApi& t) {
    t.resOpen = resOpen;
    t.resClose = resClose;
    t.resString = resString;
    t.resRegisterDescription = resRegisterDescription;
    t.registerPlugin = registerPlugin;
}

}  // namespace host
