// The module's start and end: init stores the host table in the state record (ModuleState.h), the
// last end frees what the module holds.
#pragma once

#include <cstdint>

#include "sources/HostInterface.h"
#include "sources/ModuleState.h"

// Init: stores the table and copies the folder on the first call only. Returns 1, or -3 when the host
// is too old, the table or folder is missing or the folder does not fit the path buffer. A refused
// init leaves the module as it was (the counter is not raised), so that a later init can succeed.
int32_t moduleInit(const HostApi* api, const char* folder);
// End: lowers the counter; the call that brings it to 0 runs the end hook and frees the resources.
// An end without a matching init does nothing.
void moduleEnd();

// Hook run at the last end call, before the resources are freed. Nothing to do at present.
void moduleEndHook();
