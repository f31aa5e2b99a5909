#include "mixkit/ReferenceFrame.h"

#include <cmath>

// Chosen with bench/reduction_quality_bench.cpp (see the README for the command). The quadric
// error grows with the fourth power of the object's size under area weighting, while the penalties
// for valence, compactness and flips are fixed numbers: this length sets how much a penalty weighs
// against a given relative surface error.
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
