// The runs of `vexlor reduce` and `vexlor lod` from their checked plans, through the reduction
// command's dialog:
//  - reduce presses start and waits for the end of the pass (with a preview: prepare, then the target
//    is moved, then start commits), and writes the reduced objects;
//  - lod prepares once, and for each level moves the target, has the level finished and writes it;
//    closing the dialog then puts the objects back. A chain of levels costs one reduction.
// Each pass's end event says how it ended. Progress shows on stderr from the status bar. Ctrl-C stops
// the pass, which is taken back: nothing is written and the input file is never touched.
#pragma once

#include <ostream>
#include <string>

#include "ReduceOptions.h"

namespace app {

// 0 on success, 1 when the objects do not allow the plan or the reduction failed, 130 when stopped by
// Ctrl-C.
int runReduce(const std::string& moduleDir, const ReducePlan& plan, std::ostream& out, std::ostream& err);
int runLod(const std::string& moduleDir, const LodPlan& plan, std::ostream& out, std::ostream& err);

}  // namespace app
