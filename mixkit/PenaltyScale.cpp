#include "mixkit/PenaltyScale.h"

#include "mixkit/WeightingPolicy.h"

// About the summed quadric area of a candidate on the bundled sample (in the frame) when it is
// reduced to a tenth of its points, where the penalties' values had been tuned while they were
// fixed numbers; in the frame that is about 2 % of the squared diagonal. Measured with
// bench/reduction_quality_bench.cpp: from 20000 to 400000 its ratios move by a few hundredths at
// most (the sample at 1 % gains slivers below, the sculpt loses accuracy above).
const double PENALTY_REFERENCE_AREA = 85000.0;

// The least factor: a penalty that is set never vanishes, even where the polygons have no area in
// the frame (a part squeezed to a point by a far-off outlier), so that the count loop, which goes
// on below its target only through keys of exactly 0, still stops at the target there.
constexpr double kLeastScale = 1e-300;

double penaltyScale(double area, int32_t weightingPolicy) {
    if (!(area > 0.0)) return kLeastScale;
    const double s = area / PENALTY_REFERENCE_AREA;
    double scale = s;
    if (weightingPolicy == WEIGHTING_AREA) scale = s * s;
    if (weightingPolicy == WEIGHTING_RAW_NORMALS) scale = s * s * s;
    return scale > kLeastScale ? scale : kLeastScale;
}
