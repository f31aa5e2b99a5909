// --weld and the polygon-soup check shared by the commands that reduce (reduce, lod, brush).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/Document.h"

namespace app {

// Merges the points of each object that lie at exactly the same place, as the host's clean-up does
// with no tolerance (polygons left degenerate and points no polygon uses go too), and says for each
// object that changed "vexlor COMMAND: welded "NAME": BEFORE -> AFTER points" on `err`. Records no
// undo step.
void weldCoincidentPoints(host::Document& doc, const std::vector<host::PolygonObject*>& objects, const char* command,
                          std::ostream& err);

// Two or more polygons and no point that two of them share: nothing to contract or collapse.
bool isPolygonSoup(const host::PolygonObject& object);

// The message for a soup read from `input`, offering --weld (or saying that even the weld found no
// shared place when `welded`).
std::string polygonSoupMessage(const host::PolygonObject& object, const std::string& input, bool welded);

}  // namespace app
