#include "mixkit/ReferenceFrame.h"

#include <cmath>

// Chosen with bench/reduction_quality_bench.cpp. The quadric error grows with the fourth power of
// the object's size under area weighting, while the penalties for valence, compactness and flips
// are fixed numbers: this length sets how much a penalty weighs against a given relative surface
// error. Measured at 10 % of the points (ours/no-penalties RMS error; slivers with and without):
//   diagonal    300: seamed grid 2.09 (slivers 0.00/0.20 %), torus sample 0.84 (7.1/6.3 %)
//   diagonal   1000: seamed grid 1.31 (0.04/0.20 %),         torus sample 0.81 (7.4/6.5 %)
//   diagonal   2000: seamed grid 1.12 (0.04/0.20 %),         torus sample 0.88 (7.4/6.5 %)
//   diagonal   3000: seamed grid 1.06 (0.12/0.20 %),         torus sample 1.03 (7.5/6.5 %)
// Below 1000 the penalties cost smooth surfaces far too much accuracy; from 3000 on they stop
// preventing slivers on the torus. At 2000 the rounded box keeps the plain error with almost no
// slivers (0.07 % against 47 %). The frame fixes the units, not the density: the penalties are
// since weighed at the size of the polygons around each candidate (PenaltyScale.h), which the
// figures above predate.
const double REFERENCE_DIAGONAL = 2000.0;

ReferenceFrame ReferenceFrame::ofPoints(const FloatVector* points, const uint8_t* flags, int32_t count) {
    ReferenceFrame f;
    bool any = false;
    Vector lo, hi;
    for (int32_t i = 0; i < count; ++i) {
        if (flags != nullptr && flags[i] == 0) continue;
        const Vector p = toVector(points[i]);
        if (!any) {
            lo = hi = p;
            any = true;
            continue;
        }
        lo = Vector{std::fmin(lo.x, p.x), std::fmin(lo.y, p.y), std::fmin(lo.z, p.z)};
        hi = Vector{std::fmax(hi.x, p.x), std::fmax(hi.y, p.y), std::fmax(hi.z, p.z)};
    }
    if (!any) return f;
    // Halves of float corners are exact in double; so is their sum unless the two differ by more
    // than 2^29 in magnitude.
    const Vector centre{lo.x * 0.5 + hi.x * 0.5, lo.y * 0.5 + hi.y * 0.5, lo.z * 0.5 + hi.z * 0.5};
    if (!std::isfinite(centre.x) || !std::isfinite(centre.y) || !std::isfinite(centre.z)) return f;
    f.centre = centre;
    const double diagonal = length(subtract(hi, lo));
    if (!(diagonal > 0.0) || !std::isfinite(diagonal)) return f;
    f.scale = REFERENCE_DIAGONAL / diagonal;
    f.inverse = diagonal / REFERENCE_DIAGONAL;
    return f;
}
