// Module-wide state: the host table handed over at init, the start counter and the module's folder.
// Everything the module does reaches the host through moduleApi().
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

// Init: stores the table and copies the folder on the first call only. Returns 1, or -3 when the host
// is too old, the table or folder is missing or the folder does not fit the path buffer. A refused
// init leaves the module as it was (the counter is not raised), so that a later init can succeed.
int32_t moduleInit(const HostApi* api, const char* folder);
// End: lowers the counter; the call that brings it to 0 runs the end hook and frees the resources.
// An end without a matching init does nothing.
void moduleEnd();

// Hook run at the last end call, before the resources are freed. Nothing to do at present.
void moduleEndHook();
