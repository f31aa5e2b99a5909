#include "mixkit/PenaltyScale.h"

#include "mixkit/WeightingPolicy.h"

// About the summed quadric area of a candidate on the bundled sample (in the frame) when it is
// reduced to a tenth of its points, where the penalties' values had been tuned while they were
// fixed numbers; in the frame that is about 2 % of the squared diagonal. Measured with
// bench/reduction_quality_bench.cpp: from 20000 to 400000 its ratios move by a few hundredths at
// most (the sample at 1 % gains slivers below, the sculpt loses accuracy above).
const double PENALTY_REFERENCE_AREA = 85000.0;

double penaltyScale(double area, int32_t weightingPolicy) {
    if (!(area > 0.0)) return 0.0;
    const double s = area / PENALTY_REFERENCE_AREA;
    switch (weightingPolicy) {
        case WEIGHTING_AREA: return s * s;
        case WEIGHTING_RAW_NORMALS: return s * s * s;
        default: return s;
    }
}
