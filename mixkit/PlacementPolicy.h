// Where the merged point of a contraction is placed.
#pragma once

#include <cstdint>

enum PlacementPolicy : int32_t {
    PLACEMENT_ENDPOINTS = 0,  // the better of the two ends
    PLACEMENT_END_OR_MID = 1, // the better of the two ends and the midpoint
    PLACEMENT_LINE = 2,       // the best point on the edge, else as above
    PLACEMENT_OPTIMAL = 3,    // the point of least error, else as above
};
