// Identifiers of the module's plug-ins, registered with the host and used for their dialogs,
// messages and special events.
#pragma once

#include <cstdint>

constexpr int32_t VEXLOR_ID = 1015827;     // reduction command
constexpr int32_t TESSIK_ID = 1015828;     // reduction brush tool
constexpr int32_t OMBRIN_ID = 1016396;     // baking command
constexpr int32_t XOMBRIN85_ID = 1016397;  // normal-map shader

// Version of the plug-in interface the module's plug-ins are written for.
constexpr int32_t PLUGIN_INTERFACE_VERSION = 8500;
