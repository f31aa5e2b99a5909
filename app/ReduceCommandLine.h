// `vexlor reduce IN -o OUT [options]` and `vexlor lod IN -o PATTERN --levels L1,L2,...`: polygon
// reduction by working the reduction command's dialog as a person at the host would. The file goes
// into a document, its polygon objects are selected (with --group: the polygon editing mode with that
// group's polygons selected), the dialog is opened, its gadgets are set from the options, and then
//  - reduce presses start and waits for the end of the pass (with --preview: prepare, then the target
//    is moved, then start commits), and writes the reduced objects;
//  - lod prepares once, and for each level moves the target, has the level finished and writes it;
//    closing the dialog then puts the objects back. A chain of levels costs one reduction.
// Progress shows on stderr from the status bar. Ctrl-C stops the pass, which is taken back: nothing is
// written and the input file is never touched.
//
// Bad input is refused before anything is reduced, with a message naming the problem and a non-zero
// exit.
#pragma once

#include <ostream>
#include <string>

namespace CLI {
class App;
}

namespace app {

// What the reduction settings of the dialog get, shared by both commands. Numbers are kept as typed
// so that a value that is not a number gets a clear message.
struct ReductionChoices {
    std::string weighting;  // area, average, angle or area-average; empty: as the dialog has it
    bool noChecks = false;
    std::string boundaryWeight, compactness, flip, valence;
    bool hierarchy = false;
    std::string group;
    bool groupGiven = false;  // --group "" is refused, not taken as no group
    bool weld = false;        // merge exactly coincident points before reducing
    std::string threads;      // worker threads of the set-up; empty: one per processor core
    bool showDialog = false;
};

struct ReduceOptions {
    std::string input;
    std::string output;
    std::string points, ratio, error;
    bool preview = false;
    ReductionChoices choices;
};

struct LodOptions {
    std::string input;
    std::string pattern;  // "{n}" becomes the level's number, 1 for the first level
    std::string levels;   // "50%,25%,10%", "2000,500", "e0.001,e0.01" or mixed
    std::string bakeFrom;  // with a .glb/.gltf chain: bake each level's normal map from this mesh
    int bakeSize = 1024;
    ReductionChoices choices;
};

CLI::App* addReduceCommand(CLI::App& cli, ReduceOptions& options);
CLI::App* addLodCommand(CLI::App& cli, LodOptions& options);

// 0 on success, 1 on bad input or a failed reduction, 130 when stopped by Ctrl-C.
int runReduce(const std::string& moduleDir, const ReduceOptions& options, std::ostream& out, std::ostream& err);
int runLod(const std::string& moduleDir, const LodOptions& options, std::ostream& out, std::ostream& err);

}  // namespace app
