#include "sources/Module.h"

#include <cstring>

#include "sources/ResourceHolder.h"

int32_t moduleInit(const HostApi* api, const char* folder) {
    ModuleState& s = moduleState();
    if (s.startCount > 0) {
        ++s.startCount;
        return 1;
    }
    if (api == nullptr || folder == nullptr) return -3;
    if (api->version < HOST_MIN_INTERFACE_VERSION) return -3;
    // The folder must fit the buffer with its NUL; a longer one would be cut into a wrong path.
    const size_t length = strnlen(folder, MODULE_PATH_SIZE);
    if (length >= static_cast<size_t>(MODULE_PATH_SIZE)) return -3;

    s.api = api;
    s.hostVersion = api->version;
    memcpy(s.path, folder, length + 1);
    s.startCount = 1;
    return 1;
}

void moduleEnd() {
    ModuleState& s = moduleState();
    if (s.startCount <= 0) return;
    if (--s.startCount > 0) return;
    moduleEndHook();
    resourceHolder().free();
}

void moduleEndHook() {}
