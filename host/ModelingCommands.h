// The host's modelling commands that the module calls: selection growing and shrinking, selection
// conversion between points and polygons, the clean-up, and the polygon copy of an object.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Document.h"
#include "Settings.h"

namespace host {

// Runs one command on each of `objects`. Command 245 appends one new object per input (a deep copy of
// the object and its children) to `results`; the others edit in place. False when the command is
// unknown, an object is not a polygon object where one is needed, or the mode is not 1 or 2.
bool runModelingCommand(int32_t command, int32_t mode, Document* doc, const std::vector<Object*>& objects,
                        const Settings& params, std::vector<std::unique_ptr<Object>>* results = nullptr);

}  // namespace host
