// Registration of the module's four plug-ins with the host at start.
#pragma once

#include <cstdint>

// Resource strings of the plug-ins' names and help texts.
enum : int32_t {
    STR_VEXLOR_NAME = 10117,
    STR_VEXLOR_HELP = 10118,
    STR_OMBRIN_NAME = 10124,
    STR_OMBRIN_HELP = 10125,
    STR_XOMBRIN85_NAME = 10135,
    STR_TESSIK_NAME = 10136,
    STR_TESSIK_HELP = 10137,
};

// The shader's description resource.
constexpr const char* XOMBRIN85_DESCRIPTION = "Xombrin85";

// Registers the reduction command, the baking command, the shader and the tool, in that order,
// stopping at the first that fails. A plug-in whose name or help text is missing from the resources
// is left out and counts as registered. 1 when all four succeeded, else 0.
int32_t registerPlugins();
