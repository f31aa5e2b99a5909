// The brush's settings: keys of the tool's settings container and the values the brush starts from.
// The panel's layout and gadgets are resources (sources/ResourceIds.h).
#pragma once

#include <cstdint>

#include "sources/ResourceIds.h"

// Keys of the tool's settings container.
enum : int32_t {
    TESSIK_WEIGHTING = 1000,        // int: popup value TESSIK_WEIGHT_*
    TESSIK_MAX_NEIGHBOURS = 1001,   // int
    TESSIK_CHECK_FOLDS = 1002,      // bool
    TESSIK_BOUNDARY_WEIGHT = 1003,  // real
    TESSIK_MAX_ERROR = 1004,        // real
    TESSIK_COLOR = 1005,            // vector: highlight colour
    TESSIK_BRIGHTNESS = 1006,       // real: multiplies the colour
    // Not a setting but what the last drag tells the panel: the least error it met when the limit
    // stopped every collapse of the drag, else 0 (the panel then offers to raise the limit).
    TESSIK_LEAST_REFUSED = 1007,    // real
};
// The limit the panel's raise button sets: this many times the least error the last drag met (rounded
// up to two significant digits), so that the cheaper polygons along such a stroke collapse, not only
// the cheapest one.
constexpr double TESSIK_RAISE_FACTOR = 2.0;

// Defaults, written into a fresh container by the settings panel.
constexpr int32_t TESSIK_DEFAULT_WEIGHTING = TESSIK_WEIGHT_AREA;
constexpr int32_t TESSIK_DEFAULT_MAX_NEIGHBOURS = 10;
constexpr bool TESSIK_DEFAULT_CHECK_FOLDS = true;
constexpr double TESSIK_DEFAULT_BOUNDARY_WEIGHT = 1000.0;
constexpr double TESSIK_DEFAULT_MAX_ERROR = 100.0;
constexpr double TESSIK_DEFAULT_BRIGHTNESS = 1.0;
// The neighbour field's lowest value: a collapse always re-points at least three polygons' worth.
constexpr int32_t TESSIK_MIN_NEIGHBOURS = 3;
