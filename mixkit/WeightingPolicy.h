// How the polygons' plane quadrics are weighted when they are summed into the points.
#pragma once

#include <cstdint>

enum WeightingPolicy : int32_t {
    WEIGHTING_AREA = 1,          // each plane scaled by its polygon's area
    WEIGHTING_ANGLE = 2,         // each corner gets the plane scaled by its corner angle
    WEIGHTING_AVERAGE = 3,       // planes unweighted
    WEIGHTING_AREA_AVERAGE = 4,  // area weighting; costs divided by the summed area
    WEIGHTING_RAW_NORMALS = 5,   // unweighted, and the planes keep their unnormalised normals
};
