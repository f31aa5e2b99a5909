#include "ReduceOptions.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <utility>

#include "OptionText.h"
#include "host/SafeOutput.h"
#include "host/formats/MeshFile.h"
#include "sources/ResourceIds.h"

namespace app {
namespace {

struct Weighting {
    const char* name;
    int32_t radio;
};
constexpr Weighting kWeightings[] = {
    {"area", IDC_VEXLOR_WEIGHT_AREA},
    {"average", IDC_VEXLOR_WEIGHT_AVERAGE},
    {"angle", IDC_VEXLOR_WEIGHT_ANGLE},
    {"area-average", IDC_VEXLOR_WEIGHT_AREA_AVERAGE}};

std::string checkCount(const std::string& option, const std::string& text, Target& t) {
    const std::optional<long long> n = parseWhole(text);
    if (!n) return option + " " + text + " is not a whole number of points";
    if (*n < 1) return option + " " + text + ": the target must keep at least 1 point";
    if (*n < 3) return option + " " + text + ": a polygon needs at least 3 points; the smallest target is 3";
    t = Target{Target::Kind::Count, *n, 0, 0, text};
    return {};
}

std::string checkRatio(const std::string& option, const std::string& text, Target& t) {
    const std::optional<double> r = parseReal(text);
    if (!r) return option + " " + text + " is not a number (a percentage of each object's points)";
    if (*r <= 0) return option + " " + text + ": the target must keep more than 0 % of the points";
    if (*r > 100) return option + " " + text + " is above 100 % of the points";
    t = Target{Target::Kind::Ratio, 0, *r / 100.0, 0, text};
    return {};
}

std::string checkError(const std::string& option, const std::string& text, Target& t) {
    const std::optional<double> e = parseReal(text);
    if (!e) return option + " " + text + " is not a number";
    if (*e < 0) return option + " " + text + ": the error limit cannot be negative";
    t = Target{Target::Kind::Error, 0, 0, *e, text};
    return {};
}

// A level of `lod`: "N%" a share, "eX" an error limit, "N" a point count.
std::string checkLevel(const std::string& level, Target& t) {
    const std::string s = trimmed(level);
    if (s.empty()) return "--levels has an empty level";
    if (s.back() == '%') return checkRatio("level", s.substr(0, s.size() - 1), t);
    if (s.front() == 'e' || s.front() == 'E') return checkError("level", s.substr(1), t);
    return checkCount("level", s, t);
}


constexpr long long kMaxThreads = 256;

std::string checkChoices(const std::string& input, const ReductionChoices& c, ReductionSetup& plan) {
    plan.input = input;
    plan.noChecks = c.noChecks;
    plan.hierarchy = c.hierarchy;
    plan.group = c.group;
    plan.weld = c.weld;
    plan.showDialog = c.showDialog;
    if (!c.weighting.empty()) {
        for (const Weighting& w : kWeightings)
            if (c.weighting == w.name) plan.weightingRadio = w.radio;
        if (plan.weightingRadio == 0)
            return "--weighting " + c.weighting + " is not one of area, average, angle, area-average";
    }
    const std::pair<const char*, const std::string*> reals[] = {
        {"--boundary-weight", &c.boundaryWeight}, {"--compactness", &c.compactness}, {"--flip", &c.flip}};
    std::optional<double>* slots[] = {&plan.boundaryWeight, &plan.compactness, &plan.flip};
    for (int i = 0; i < 3; ++i) {
        const std::string& text = *reals[i].second;
        if (text.empty()) continue;
        const std::optional<double> v = parseReal(text);
        if (!v) return std::string(reals[i].first) + " " + text + " is not a number";
        if (*v < 0) return std::string(reals[i].first) + " " + text + " cannot be negative";
        *slots[i] = v;
    }
    if (!c.valence.empty()) {
        const std::optional<long long> v = parseWhole(c.valence);
        if (!v) return "--valence " + c.valence + " is not a whole number";
        if (*v < 0 || *v > 2147483647LL) return "--valence " + c.valence + " is outside 0 to 2147483647";
        plan.valence = v;
    }
    if (!c.threads.empty()) {
        const std::optional<long long> v = parseWhole(c.threads);
        if (!v) return "--threads " + c.threads + " is not a whole number";
        if (*v < 1 || *v > kMaxThreads)
            return "--threads " + c.threads + " is outside 1 to " + std::to_string(kMaxThreads);
        plan.threads = static_cast<int>(*v);
    }
    if (c.noChecks && (plan.compactness || plan.flip || plan.valence))
        return "--compactness, --flip and --valence are penalties of the quality checks, which --no-checks turns off";
    if (c.groupGiven && trimmed(c.group).empty()) return "--group needs the name of a group (OBJ g)";
    if (!c.group.empty() && c.hierarchy)
        return "--group reduces part of an object, --hierarchy whole objects: give one of them";
    return {};
}

// A path whose suffix names a mesh format we write (checkOutput says whether it can be written).
std::string checkMeshOutput(const std::string& option, const std::string& path) {
    if (!host::formats::canWriteMeshFormat(host::formats::meshFormatForOutput(path)))
        return option + " " + path + ": cannot write this kind of file; write " +
               host::formats::writableMeshSuffixes();
    return {};
}

void addChoiceOptions(CLI::App* cmd, ReductionChoices& c) {
    cmd->add_option("--weighting", c.weighting, "How polygon planes are weighted: area, average, angle or area-average");
    cmd->add_flag("--no-checks", c.noChecks, "Turn off the quality checks (compactness, flip and valence penalties)");
    cmd->add_option("--boundary-weight", c.boundaryWeight, "Weight of open borders and group borders (default 1000)");
    cmd->add_option("--compactness", c.compactness,
                    "Penalty for long thin triangles (default 100; weighed at the size of the polygons around each "
                    "contraction, so it means the same on coarse and dense meshes)");
    cmd->add_option("--flip", c.flip,
                    "Penalty for polygons that would turn over (default 100; also multiplies the contraction's own "
                    "error by 1 + this per polygon turned over)");
    cmd->add_option("--valence", c.valence,
                    "Penalty per polygon around the merged point (whole number, default 10; weighed at the size of "
                    "those polygons)");
    cmd->add_flag("--hierarchy", c.hierarchy, "Reduce the objects below the selected ones too, each one whole");
    cmd->add_option("--group", c.group,
                    "Reduce only the polygons of this group (OBJ g), as in polygon editing mode; the rest of the "
                    "object stays as it is");
    cmd->add_flag("--weld", c.weld,
                  "Merge points at exactly the same place first (for files whose polygons share no point)");
    cmd->add_option("--threads", c.threads,
                    "Threads each reduction runs on: the set-up, the contractions inside spatial parts of meshes "
                    "of 131,072 points or more (reductions to a count) (1 to " + std::to_string(kMaxThreads) +
                        "; default: one per processor core). The result is the same for any count");
    cmd->add_flag("--show-dialog", c.showDialog, "Print the dialog as set up, before the reduction");
}

// Notes whether --group was given at all (an empty name is refused then).
void noteGiven(CLI::App* cmd, ReductionChoices& c) {
    CLI::Option* group = cmd->get_option("--group");
    cmd->final_callback([&c, group] { c.groupGiven = group->count() > 0; });
}
}  // namespace

CLI::App* addReduceCommand(CLI::App& cli, ReduceOptions& o) {
    CLI::App* cmd = cli.add_subcommand(
        "reduce", "Reduce the polygon objects of a mesh file by quadric-error edge contraction, rebuilding quads");
    cmd->add_option("input", o.input, "Mesh file to reduce (.obj, .glb, .gltf, .fbx, .ply, .stl, .dae, .3ds)")
        ->required();
    cmd->add_option("-o,--output", o.output, "File to write the reduced objects to (.obj, .glb, .gltf, .ply, .stl)")
        ->required();
    CLI::Option* points = cmd->add_option("--points", o.points, "Reduce to this many points (one object)");
    CLI::Option* ratio = cmd->add_option("--ratio", o.ratio, "Keep this percentage of each object's points");
    CLI::Option* error = cmd->add_option(
        "--error", o.error,
        "Contract while the error stays within this limit. Errors are measured on the object scaled to a "
        "bounding-box diagonal of 2000, so a limit means the same in any units: on the bundled sample 10000 "
        "keeps the surface within about 1.4e-3 of the diagonal (RMS 1.7e-4), 100000 within about 4.5e-3");
    points->excludes(ratio)->excludes(error);
    ratio->excludes(error);
    cmd->add_flag("--preview", o.preview,
                  "Take the preview road: prepare the whole reduction, move the target, then commit");
    addChoiceOptions(cmd, o.choices);
    noteGiven(cmd, o.choices);
    return cmd;
}

CLI::App* addLodCommand(CLI::App& cli, LodOptions& o) {
    CLI::App* cmd = cli.add_subcommand(
        "lod", "Write a chain of levels of detail from one reduction: each level is a seek along one recorded pass");
    cmd->add_option("input", o.input, "Mesh file to reduce (.obj, .glb, .gltf, .fbx, .ply, .stl, .dae, .3ds)")
        ->required();
    cmd->add_option("-o,--output", o.pattern,
                    "Output file pattern; {n} becomes the level's number (from 1). A .glb or .gltf name without "
                    "{n} gets every level, the input first, in one file as an MSFT_lod chain")
        ->required();
    cmd->add_option("--levels", o.levels,
                    "Comma-separated levels: N% keeps N percent of each object's points, N keeps N points (one "
                    "object), eX reduces to the error limit X")
        ->required();
    cmd->add_option("--bake-from", o.bakeFrom,
                    "With a .glb or .gltf chain: bake a normal map from this high-resolution mesh (FILE or "
                    "FILE:OBJECT) onto every level, carried by the level's material");
    cmd->add_option("--bake-size", o.bakeSize, "Width and height of each level's normal map (10 to 6400, default 1024)");
    addChoiceOptions(cmd, o.choices);
    noteGiven(cmd, o.choices);
    return cmd;
}

std::string planReduce(const ReduceOptions& o, ReducePlan& plan) {
    std::string problem;
    if (!o.points.empty())
        problem = checkCount("--points", o.points, plan.target);
    else if (!o.ratio.empty())
        problem = checkRatio("--ratio", o.ratio, plan.target);
    else if (!o.error.empty())
        problem = checkError("--error", o.error, plan.target);
    else
        problem = "give a target: --points N, --ratio PERCENT or --error LIMIT";
    if (problem.empty()) problem = checkChoices(o.input, o.choices, plan.setup);
    if (problem.empty()) problem = checkOutput("-o", o.output, o.input);
    if (problem.empty()) problem = checkMeshOutput("-o", o.output);
    plan.output = o.output;
    plan.preview = o.preview;
    return problem;
}

std::string planLod(const LodOptions& o, LodPlan& plan) {
    std::vector<Target>& levels = plan.levels;
    std::string problem;
    for (size_t at = 0; problem.empty() && at <= o.levels.size();) {
        const size_t comma = std::min(o.levels.find(',', at), o.levels.size());
        Target t;
        problem = checkLevel(o.levels.substr(at, comma - at), t);
        levels.push_back(t);
        at = comma + 1;
    }
    std::vector<std::string>& paths = plan.paths;
    const host::formats::MeshFormat outFormat = host::formats::meshFormatForPath(o.pattern);
    const bool chain = plan.chain = o.pattern.find("{n}") == std::string::npos &&
                       (outFormat == host::formats::MeshFormat::Glb || outFormat == host::formats::MeshFormat::Gltf);
    if (problem.empty() && !chain && levels.size() > 1 && o.pattern.find("{n}") == std::string::npos)
        problem = "-o " + o.pattern +
                  " needs {n} where the level's number goes (for example out_lod{n}.obj), or a .glb or .gltf name "
                  "for one file with every level";
    if (problem.empty() && chain) problem = checkOutput("-o", o.pattern, o.input);
    if (problem.empty() && chain) problem = checkMeshOutput("-o", o.pattern);
    for (size_t i = 0; problem.empty() && !chain && i < levels.size(); ++i) {
        std::string path = o.pattern;
        for (size_t p = path.find("{n}"); p != std::string::npos; p = path.find("{n}", p))
            path.replace(p, 3, std::to_string(i + 1));
        problem = checkOutput("-o", path, o.input);
        if (problem.empty()) problem = checkMeshOutput("-o", path);
        for (size_t k = 0; problem.empty() && k < paths.size(); ++k)
            if (host::sameFile(paths[k], path))
                problem = "-o " + o.pattern + ": levels " + std::to_string(k + 1) + " and " + std::to_string(i + 1) +
                          " would both write " + path;
        paths.push_back(path);
    }
    if (problem.empty() && !o.bakeFrom.empty() && !chain)
        problem = "--bake-from needs one .glb or .gltf file for the chain (-o chain.glb), whose materials carry the maps";
    if (problem.empty() && !o.bakeFrom.empty() && (o.bakeSize < 10 || o.bakeSize > 6400))
        problem = "--bake-size " + std::to_string(o.bakeSize) + " is outside 10 to 6400";
    if (problem.empty()) problem = checkChoices(o.input, o.choices, plan.setup);
    plan.pattern = o.pattern;
    plan.bakeFrom = o.bakeFrom;
    plan.bakeSize = o.bakeSize;
    return problem;
}

}  // namespace app
