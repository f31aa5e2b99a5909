// The module's one exported function: the host drives the module through it.
#include <cstdint>

#include "sources/HostInterface.h"
#include "sources/Module.h"
#include "entry/Registration.h"
#include "sources/ResourceHolder.h"

namespace {

// Message codes of HST_ACTION_MESSAGE.
enum : int32_t { MESSAGE_NONE = 0, MESSAGE_LOAD_RESOURCES = 1 };

int32_t handleMessage(int32_t code) {
    if (code == MESSAGE_NONE) return 1;
    // Resources belong to a started module: they are freed at its last end call.
    if (code == MESSAGE_LOAD_RESOURCES) return moduleState().startCount > 0 && resourceHolder().load() ? 1 : -1;
    return -1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t hst_main(int32_t action, void* p1, void* /*p2*/, void* p3) {
    switch (action) {
        case HST_ACTION_INIT:
            return moduleInit(static_cast<const HostApi*>(p1), static_cast<const char*>(p3));
        case HST_ACTION_START:
            // Nothing can be registered before a successful init.
            if (moduleState().startCount <= 0) return 0;
            return registerPlugins() ? 1 : 0;
        case HST_ACTION_END:
            moduleEnd();
            return 1;
        case HST_ACTION_QUERY:
            return 2;
        case HST_ACTION_MESSAGE:
            return handleMessage(static_cast<int32_t>(reinterpret_cast<intptr_t>(p1)));
        default:
            return -1;
    }
}
