// Registration of the module's four plug-ins with the host at start.
#pragma once

#include <cstdint>

#include "sources/ResourceIds.h"

// The shader's description resource.
constexpr const char* XOMBRIN85_DESCRIPTION = "Xombrin85";

// Registers the reduction command, the baking command, the shader and the tool, in that order,
// stopping at the first that fails. A plug-in whose name or help text is missing from the resources
// is left out and counts as registered. True when all four succeeded.
bool registerPlugins();
