// What the OBJ reader and writer must agree on: which characters separate words, and the stored form
// of a corner normal.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace host {

// Blanks within a line; the line itself ends at '\n'.
inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

using NormalKey = std::array<int16_t, 3>;

// The stored form of a normal: unit vector times 32000, rounded. A zero vector stays zero. The writer
// runs the very same function to find a `vn` text that reads back to a stored row exactly.
inline NormalKey quantizeNormal(float x, float y, float z) {
    const double dx = x, dy = y, dz = z;
    const double len = std::sqrt(dx * dx + dy * dy + dz * dz);
    NormalKey out{0, 0, 0};
    if (!(len > 0) || !std::isfinite(len)) return out;
    const double c[3] = {dx, dy, dz};
    for (int k = 0; k < 3; ++k) {
        long r = std::lround(c[k] / len * 32000.0);
        out[k] = static_cast<int16_t>(std::clamp(r, -32000L, 32000L));
    }
    return out;
}

}  // namespace host
