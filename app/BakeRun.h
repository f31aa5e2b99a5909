// The run of `vexlor bake` from its checked plan, by working the baking command's dialog as a person
// would: both mesh files (and the occluding scene files) go into one document, the objects are dropped
// on the dialog's two drop areas, the gadgets are set from the plan, the file choosers are answered
// with the paths planned, bake is pressed, and the dialog's status line is shown on stderr until the
// bake's end message, whose value says how the bake ended. Ctrl-C presses stop; no map is left.
#pragma once

#include <ostream>
#include <string>

#include "BakeOptions.h"

namespace app {

// Runs the bake; 0 on success, 1 when the objects do not allow it or the bake failed (every map it
// wrote is taken away again), 130 when stopped by Ctrl-C.
int runBake(const std::string& moduleDir, const BakePlan& plan, std::ostream& out, std::ostream& err);

}  // namespace app
