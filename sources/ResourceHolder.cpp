#include "sources/ResourceHolder.h"

#include "sources/ModuleState.h"

namespace {

ResourceHolder holder;

// Whatever is still held when the library goes away is returned to the host.
__attribute__((destructor)) void freeResourcesOnUnload() {
    if (holder.loaded() || holder.folder() != nullptr) holder.free();
}

}  // namespace

ResourceHolder& resourceHolder() { return holder; }

bool ResourceHolder::load() {
    const HostApi* api = moduleApi();
    if (api == nullptr) return false;
    if (folder_ == nullptr) {
        folder_ = api->fnMake(modulePath());
        if (folder_ == nullptr) return false;
    }
    if (tried_) return resource_ != nullptr;
    resource_ = api->resOpen(folder_);
    tried_ = true;
    return resource_ != nullptr;
}

HostString ResourceHolder::string(int32_t id) const {
    const HostApi* api = moduleApi();
    if (api == nullptr || resource_ == nullptr) return HostString();
    return HostString::adopt(api->resString(resource_, id));
}

void ResourceHolder::free() {
    const HostApi* api = moduleApi();
    if (api == nullptr) return;
    if (resource_ != nullptr) {
        api->resClose(resource_);
        resource_ = nullptr;
    }
    if (folder_ != nullptr) {
        api->fnDestroy(folder_);
        folder_ = nullptr;
    }
    tried_ = false;
}
