// The module's one state record: the host table handed over at init, the start counter and the
// module's folder. Everything the module does reaches the host through moduleApi(); the start and
// end of the module that fill and clear this record are in Module.h.
#pragma once

#include <cstdint>

#include "sources/HostInterface.h"

// Size of the module path buffer, terminating NUL included.
constexpr int32_t MODULE_PATH_SIZE = 1024;

struct ModuleState {
    const HostApi* api = nullptr;
    int32_t hostVersion = 0;
    int32_t startCount = 0;
    char path[MODULE_PATH_SIZE] = {};
};

// The one state record of the module.
ModuleState& moduleState();

// The host table stored by the first init; null before it.
inline const HostApi* moduleApi() { return moduleState().api; }
// The module's folder as the host named it ("" before init).
inline const char* modulePath() { return moduleState().path; }
