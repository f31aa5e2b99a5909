#include "mixkit/PenaltyScale.h"

#include <cfloat>

#include "mixkit/ReferenceFrame.h"
#include "mixkit/WeightingPolicy.h"

// About the summed quadric area of a candidate on the bundled sample (in the frame) when it is
// reduced to a tenth of its points, where the penalties' values had been tuned while they were
// fixed numbers; in the frame that is about 2 % of the squared diagonal. Measured with
// bench/reduction_quality_bench.cpp: from 20000 to 400000 its ratios move by a few hundredths at
// most (the sample at 1 % gains slivers below, the sculpt loses accuracy above).
const double PENALTY_REFERENCE_AREA = 85000.0;

// The least area a candidate is weighed at: the input's points are floats, so within an object of
// the frame's diagonal they are only known to about a float's precision of that diagonal, and the
// shape of polygons smaller than that is rounding, not geometry (a part squeezed towards a point
// by a far-off outlier). There every candidate is weighed alike, as at this area, and the
// penalties order the contractions by shape alone; scaled by the rounding-sized areas, they would
// shrink far below the rounding of the errors (which then picked contractions that fold polygons
// and leave points without any).
static double leastArea() {
    const double resolved = REFERENCE_DIAGONAL * FLT_EPSILON;
    return resolved * resolved;
}

double penaltyScale(double area, int32_t weightingPolicy) {
    const double least = leastArea();
    const double s = (area > least ? area : least) / PENALTY_REFERENCE_AREA;
    if (weightingPolicy == WEIGHTING_AREA) return s * s;
    if (weightingPolicy == WEIGHTING_RAW_NORMALS) return s * s * s;
    return s;
}
