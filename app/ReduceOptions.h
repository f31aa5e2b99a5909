// The options of `vexlor reduce` and `vexlor lod` and their check into plans: the target or the
// levels, the reduction settings the dialog gets, and the files written, all checked before the
// module is loaded. Numbers are kept as typed until the check, so that a value that is not a number
// gets a clear message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace app {

// What the reduction settings of the dialog get, shared by both commands, as given.
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

// Add the subcommands with every option; the parsed values land in the options, which must outlive
// the parse.
CLI::App* addReduceCommand(CLI::App& cli, ReduceOptions& options);
CLI::App* addLodCommand(CLI::App& cli, LodOptions& options);

// One target of a reduction: a point count, a share of each object's points, or an error limit.
struct Target {
    enum class Kind { Count, Ratio, Error };
    Kind kind = Kind::Count;
    long long count = 0;
    double ratio = 0;  // a fraction: 0.5 keeps half
    double error = 0;
    std::string text;  // as given, for messages
};

// The file to reduce and every checked setting the dialog gets.
struct ReductionSetup {
    std::string input;
    int32_t weightingRadio = 0;  // 0: leave it as the dialog has it
    bool noChecks = false;
    std::optional<double> boundaryWeight, compactness, flip;
    std::optional<long long> valence;
    bool hierarchy = false;  // the objects below the selected ones too
    std::string group;       // reduce only this group's polygons; empty: whole objects
    bool weld = false;
    int threads = 0;  // 0: the host's default
    bool showDialog = false;
};

struct ReducePlan {
    ReductionSetup setup;
    Target target;
    std::string output;
    bool preview = false;  // prepare, move the target, commit
};

struct LodPlan {
    ReductionSetup setup;
    std::vector<Target> levels;
    std::string pattern;
    // One .glb or .gltf file holding every level (the input first); otherwise a file per level.
    bool chain = false;
    std::vector<std::string> paths;  // the level files, without a chain
    std::string bakeFrom;            // with a chain: bake every level's normal map from this mesh
    int bakeSize = 1024;
};

// Check the options into a plan; an error message naming the problem, or "" when all is well.
std::string planReduce(const ReduceOptions& options, ReducePlan& plan);
std::string planLod(const LodOptions& options, LodPlan& plan);

}  // namespace app
