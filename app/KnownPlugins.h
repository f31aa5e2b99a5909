// The plug-ins the front end works, by the identifiers under which the module registers them.
#pragma once

#include <cstdint>

namespace app {
inline constexpr int32_t kReduceCommand = 1015827;
inline constexpr int32_t kBrushTool = 1015828;
inline constexpr int32_t kBakeCommand = 1016396;
inline constexpr int32_t kNormalMapShader = 1016397;
}  // namespace app
