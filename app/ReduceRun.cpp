#include "ReduceRun.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <malloc.h>

#include "BakedAsset.h"
#include "CommandFailure.h"
#include "HostSession.h"
#include "LevelMaps.h"
#include "ReductionDialogRun.h"
#include "host/SafeOutput.h"
#include "host/formats/BakedMapImages.h"
#include "host/formats/MeshFile.h"
#include "sources/ResourceIds.h"

namespace fs = std::filesystem;

namespace app {

int runReduce(const std::string& moduleDir, const ReducePlan& plan, std::ostream& out, std::ostream& err) {
    const CommandFailure fail(err, "reduce");
    const Target& target = plan.target;
    const std::string& input = plan.setup.input;
    ReductionDialogRun run(err, "reduce");
    std::string problem;
    if (problem = run.open(moduleDir, plan.setup); !problem.empty()) return fail(problem);
    if (problem = run.checkTarget(target); !problem.empty()) return fail(problem);
    // The run writes its result and ends: nothing is ever taken back, so no copy of the objects is
    // kept for undo (with UVs, as large as the objects: about 280 MB at 4M triangles). A pass that
    // fails or is stopped leaves the objects as it left them, and nothing is written.
    run.document().keepUndoHistory(false);
    // The reduction makes and releases large working arrays in turn (the heaps of its parted
    // phases among them). Left to itself, the C library serves blocks of up to 32 MiB from its heap
    // once a big block has been released, and keeps their pages after they are released too; here
    // every block from 1 MiB on comes from the system and goes back to it, so that they do not add
    // up in the resident memory. (A bake's many middle-sized blocks are faster from the heap.) The
    // file's reading has left such pages already (about 20 MB at 4M triangles): they go back first.
    malloc_trim(0);
    mallopt(M_MMAP_THRESHOLD, 1 << 20);

    PassEnd end;
    if (plan.preview) {
        if (!run.runPass(IDC_VEXLOR_PREPARE, end, "preparing the preview")) return fail("the preview could not be started");
        if (end.stopped) {
            run.close();
            err << "vexlor reduce: stopped; the objects were put back and nothing was written\n";
            return kInterruptedExit;
        }
        if (end.outcome != REDUCTION_END_DONE) return fail("the preview could not be prepared (out of memory?)");
        if (!run.setTarget(target)) return fail("the reduction dialog did not take the target " + target.text);
        if (plan.setup.showDialog) out << run.render() << std::flush;
        if (!run.press(IDC_VEXLOR_START)) return fail("the preview could not be committed");
    } else {
        if (!run.setTarget(target)) return fail("the reduction dialog did not take the target " + target.text);
        if (plan.setup.showDialog) out << run.render() << std::flush;
        if (!run.runPass(IDC_VEXLOR_START, end, "reducing " + input)) return fail("the reduction could not be started");
        if (end.stopped) {
            err << "vexlor reduce: stopped; nothing was written\n";
            return kInterruptedExit;
        }
        if (end.outcome != REDUCTION_END_DONE) return fail("the reduction failed; nothing was written");
    }
    if (problem = run.emptied(target); !problem.empty()) return fail(problem);
    std::string error;
    if (!run.writeObjects(plan.output, &error)) return fail(error);
    if (run.allUnchanged())
        out << "the target " << target.text << " removes no point of " << input << "; written to " << plan.output << "\n";
    else
        out << "reduced " << input << " -> " << plan.output << "\n";
    run.printSummary(out);
    return 0;
}

int runLod(const std::string& moduleDir, const LodPlan& plan, std::ostream& out, std::ostream& err) {
    const CommandFailure fail(err, "lod");
    const std::vector<Target>& levels = plan.levels;
    const std::vector<std::string>& paths = plan.paths;
    const std::string& input = plan.setup.input;
    const bool chain = plan.chain;
    ReductionDialogRun run(err, "lod");
    std::string problem;
    if (problem = run.open(moduleDir, plan.setup); !problem.empty()) return fail(problem);
    for (const Target& t : levels)
        if (problem = run.checkTarget(t); !problem.empty()) return fail(problem);
    if (plan.setup.showDialog) out << run.render() << std::flush;

    // The chain's first level is the input as it was read.
    std::vector<std::vector<std::unique_ptr<host::Object>>> chainLevels;
    std::vector<int> chainPolygons;
    if (chain) {
        chainLevels.push_back(run.snapshot());
        chainPolygons.push_back(run.polygonCount());
    }

    PassEnd end;
    if (!run.runPass(IDC_VEXLOR_PREPARE, end, "preparing " + input)) return fail("the reduction could not be started");
    if (end.stopped) {
        run.close();
        err << "vexlor lod: stopped; the objects were put back and nothing was written\n";
        return kInterruptedExit;
    }
    if (end.outcome != REDUCTION_END_DONE) return fail("the reduction could not be prepared (out of memory?)");

    // Every level is written to a temporary file beside its target; the levels are put in place only
    // when all of them were written, so a failure or Ctrl-C leaves every file as it was.
    std::vector<host::SafeOutput> files(levels.size());
    std::string report = "levels of " + input + ":\n";
    for (size_t i = 0; i < levels.size(); ++i) {
        if (interrupted()) break;
        std::string error;
        if (!run.setTarget(levels[i]) || !run.press(IDC_VEXLOR_FINISH_LEVEL))
            return fail("the reduction dialog did not take the level " + levels[i].text + "; no level was written");
        if (error = run.emptied(levels[i]); !error.empty()) return fail("level " + std::to_string(i + 1) + ": " + error);
        if (chain) {
            chainLevels.push_back(run.snapshot());
            chainPolygons.push_back(run.polygonCount());
        } else if (!files[i].open(paths[i], &error) || !run.writeObjects(files[i], &error)) {
            return fail(error + "; no level was written");
        }
        const Target& t = levels[i];
        const std::string what = t.kind == Target::Kind::Ratio   ? t.text + " % of the points"
                                 : t.kind == Target::Kind::Count ? t.text + " points"
                                                                 : "error limit " + t.text;
        report += "level " + std::to_string(i + 1) + " (" + what + "): " + (chain ? plan.pattern : paths[i]) + "\n";
        for (size_t k = 0; k < run.objects().size(); ++k)
            report += "  \"" + run.objects()[k]->name() + "\": " + (run.unchanged(k) ? "no point removed, " : "") +
                      describe(*run.objects()[k]) + "\n";
    }
    run.close();
    if (interrupted()) {
        err << "vexlor lod: stopped; no level was written\n";
        return kInterruptedExit;
    }
    if (chain) {
        // Level k is meant for objects covering at least 0.5 * sqrt(polygons_k / polygons_0) of the
        // screen's height: the density of polygons per pixel stays about that of the input at half
        // the screen.
        std::vector<host::formats::LodLevel> chainOut;
        for (size_t k = 0; k < chainLevels.size(); ++k) {
            host::formats::LodLevel level;
            level.name = k == 0 ? fs::path(input).stem().string() : "LOD" + std::to_string(k);
            for (const auto& r : chainLevels[k]) level.roots.push_back(r.get());
            const double share = chainPolygons[0] > 0 ? double(chainPolygons[k]) / chainPolygons[0] : 1.0;
            level.screenCoverage = 0.5 * std::sqrt(std::clamp(share, 0.0, 1.0));
            chainOut.push_back(std::move(level));
        }
        std::string error;
        host::formats::BakedMapsOf baked;
        if (!plan.bakeFrom.empty())
            for (auto& level : chainLevels)
                for (auto& r : level) withPolygonObjects(*r, host::formats::keepBakedNormals);
        if (!plan.bakeFrom.empty() &&
            !bakeLevelMaps(moduleDir, {plan.bakeFrom, plan.bakeSize}, chainOut, baked, err, error))
            return fail(error + "; no level was written");
        if (!host::formats::writeLodChainFile(plan.pattern, chainOut, &error, plan.bakeFrom.empty() ? nullptr : &baked))
            return fail(error + "; no level was written");
        out << report;
        out << "wrote " << chainOut.size() << " levels (the input and " << levels.size() << " reduced) to "
            << plan.pattern << "\n";
        return 0;
    }
    for (size_t i = 0; i < files.size(); ++i) {
        std::string error;
        if (!files[i].commit(&error)) {
            std::string kept;
            for (size_t k = 0; k < i; ++k) kept += " " + paths[k];
            return fail(error + (i == 0 ? std::string("; no level was written") : "; written before it:" + kept));
        }
    }
    out << report;
    return 0;
}


}  // namespace app
