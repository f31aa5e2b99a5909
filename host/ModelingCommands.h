// The host's modelling commands that the module calls: selection growing and shrinking, selection
// conversion between points and polygons, the clean-up, and the polygon copy of an object.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Document.h"
#include "Settings.h"

namespace host {

enum : int32_t {
    CMD_GROW_SELECTION = 204,
    CMD_SHRINK_SELECTION = 205,
    CMD_POINTS_TO_POLYGONS = 206,
    CMD_POLYGONS_TO_POINTS = 207,
    CMD_CLEANUP = 227,
    CMD_CURRENT_STATE_TO_OBJECT = 245,
};

// Which selection commands 204 and 205 work on.
enum : int32_t { SELECT_MODE_POINTS = 1, SELECT_MODE_POLYGONS = 2 };

// Parameters of the clean-up (227).
enum : int32_t {
    CLEANUP_TOLERANCE = 2076,       // real, merge distance (default 0)
    CLEANUP_MERGE_POINTS = 2077,    // bool, merge points closer than the tolerance
    CLEANUP_DROP_POLYGONS = 2078,   // bool, drop (0,0,0,0) and degenerate polygons
    CLEANUP_DROP_POINTS = 2079,     // bool, drop points that no polygon uses
};

// Runs one command on each of `objects`. Command 245 appends one new object per input (a deep copy of
// the object and its children) to `results`; the others edit in place. False when the command is
// unknown, an object is not a polygon object where one is needed, or the mode is not 1 or 2.
bool runModelingCommand(int32_t command, int32_t mode, Document* doc, const std::vector<Object*>& objects,
                        const Settings& params, std::vector<std::unique_ptr<Object>>* results = nullptr);

}  // namespace host
