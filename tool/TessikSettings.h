// The brush's settings: keys of the tool's settings container, the panel's layout and gadgets, and
// the values the brush starts from.
#pragma once

#include <cstdint>

// Keys of the tool's settings container.
enum : int32_t {
    TESSIK_WEIGHTING = 1000,        // int: popup value TESSIK_WEIGHT_*
    TESSIK_MAX_NEIGHBOURS = 1001,   // int
    TESSIK_CHECK_FOLDS = 1002,      // bool
    TESSIK_BOUNDARY_WEIGHT = 1003,  // real
    TESSIK_MAX_ERROR = 1004,        // real
    TESSIK_COLOR = 1005,            // vector: highlight colour
    TESSIK_BRIGHTNESS = 1006,       // real: multiplies the colour
};

// Values of the weighting popup (also the resource ids of its entries).
enum : int32_t {
    TESSIK_WEIGHT_AREA = 10112,
    TESSIK_WEIGHT_AVERAGE = 10113,
    TESSIK_WEIGHT_ANGLE = 10114,
    TESSIK_WEIGHT_AREA_AVERAGE = 10115,
};

// The settings panel's layout resource and gadgets.
enum : int32_t {
    DLG_TESSIK = 10105,
    IDC_TESSIK_WEIGHTING = 10106,
    IDC_TESSIK_MAX_NEIGHBOURS = 10107,
    IDC_TESSIK_CHECK_FOLDS = 10108,
    IDC_TESSIK_BOUNDARY_WEIGHT = 10109,
    IDC_TESSIK_MAX_ERROR = 10110,
    IDC_TESSIK_COLOR = 10111,
};

// Defaults, written into a fresh container by the settings panel.
constexpr int32_t TESSIK_DEFAULT_WEIGHTING = TESSIK_WEIGHT_AREA;
constexpr int32_t TESSIK_DEFAULT_MAX_NEIGHBOURS = 10;
constexpr bool TESSIK_DEFAULT_CHECK_FOLDS = true;
constexpr double TESSIK_DEFAULT_BOUNDARY_WEIGHT = 1000.0;
constexpr double TESSIK_DEFAULT_MAX_ERROR = 100.0;
constexpr double TESSIK_DEFAULT_BRIGHTNESS = 1.0;
// The neighbour field's lowest value: a collapse always re-points at least three polygons' worth.
constexpr int32_t TESSIK_MIN_NEIGHBOURS = 3;

// Help text of the tool (resource string) and its cursor shape.
enum : int32_t { TESSIK_HELP_STRING = 10137, TESSIK_CURSOR_SHAPE = 19 };
// Keys of the cursor information result.
enum : int32_t { CURSOR_INFO_SHAPE = 1, CURSOR_INFO_HELP = 2 };
