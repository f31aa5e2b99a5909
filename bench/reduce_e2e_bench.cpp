// `vexlor reduce` end to end on a generated 1M-triangle mesh, reduced to 10% of its points, against the
// comparison simplifier doing the same job with the same OBJ load and write, in the same run.
//
// The mesh: a UV-mapped grid of N x N quads (N = 708 by default), each cut into two triangles, with
// a texture seam down the middle column and gentle heights, written as an OBJ file to a temporary
// folder. Three measurements, each the best of the runs:
//   vexlor reduce    the program itself, as a user runs it (wall time of the process): load, collect,
//                    reduce, finish, write;
//   the same work    in this process through the module's pipeline, phase by phase: load, collect
//                    (the item and its mesh), decimate, finish (bad-quad split, quad rebuilding,
//                    clean-up), write;
//   baseline         load with the same OBJ reader, meshopt_simplify to the same share of the
//                    triangles, write the kept triangles with the same OBJ writer: in this process,
//                    phase by phase, and as a process of its own (this program again, with
//                    --baseline-only), which is what the program's own time compares with: both
//                    then start cold, load their libraries and fault in their memory.
// Printed: the machine's core count, the times (the program also on one thread, whose file must be
// the same), the ratios of vexlor to the baseline (of the best times, and the median of each run's
// own ratio of the two processes), and the finishing share of the whole.
// Then the peak memory (resident set) of one process each: `vexlor reduce` on the direct road, with
// --preview (the whole reduction recorded, then a seek and a commit), `vexlor lod` with two levels,
// and the baseline's process; with the ratios preview / direct, lod / direct and direct / baseline.
//
//   build/redrel/bin/reduce_e2e_bench [quads-per-side] [runs]
//   build/redrel/bin/reduce_e2e_bench --baseline-only input.obj output.obj   (the baseline's process)
#include <fcntl.h>
#include <meshoptimizer.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/GridObj.h"
#include "host/Document.h"
#include "host/HostHandles.h"
#include "host/HostTable.h"
#include "host/ObjFile.h"
#include "host/Object.h"
#include "host/StatusBar.h"
#include "reduction/ReductionItem.h"
#include "sources/HostInterface.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr double kRatio = 0.10;

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
int64_t microseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs a program (vexlor, or this benchmark for the baseline's process); its wall time, or a
// negative number when it failed. `peakKb` gets the process's peak resident set in kilobytes.
double runProgram(const std::string& program, const std::vector<std::string>& args, long* peakKb = nullptr) {
    std::vector<std::string> store{program};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const double t0 = seconds();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1.0;
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const double t = seconds() - t0;
    if (peakKb != nullptr) *peakKb = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? t : -1.0;
}

struct Phases {
    double load = 0, collect = 0, decimate = 0, split = 0, quads = 0, cleanup = 0, write = 0;
    int points = 0, polygons = 0, quadCount = 0;
    double finish() const { return split + quads + cleanup; }
    double total() const { return load + collect + decimate + finish() + write; }
};

int64_t statisticsClock() { return microseconds(); }

// The command's work in this process: the module's pipeline with the command's default settings.
bool reduceHere(const std::string& input, const std::string& output, Phases& p) {
    host::Document doc;
    host::setActiveDocument(&doc);
    std::vector<host::Object*> loaded;
    std::string error;
    double t = seconds();
    if (!host::readObj(input, doc, &loaded, &error) || loaded.empty()) {
        std::fprintf(stderr, "load failed: %s\n", error.c_str());
        return false;
    }
    p.load = seconds() - t;
    auto* obj = static_cast<host::PolygonObject*>(loaded.front());

    bool ok = false;
    {
        ReductionItem item;
        t = seconds();
        ok = item.make(HostPolygonObject(host::toHandle(obj)), 0);
        p.collect = seconds() - t;
        if (ok) {
            ReductionSettings settings;
            settings.targetRatio = static_cast<float>(kRatio);
            item.finishStatistics.clock = statisticsClock;
            t = seconds();
            ok = item.reduceToCount(settings.ratioTarget(item.startCount), settings, false);
            const double reduce = seconds() - t;
            p.split = item.finishStatistics.split / 1e6;
            p.quads = item.finishStatistics.quads / 1e6;
            p.cleanup = item.finishStatistics.cleanup / 1e6;
            p.decimate = reduce - p.finish();
        }
    }
    if (ok) {
        t = seconds();
        ok = host::writeObj(output, {obj}, &error);
        p.write = seconds() - t;
        p.points = obj->pointCount();
        p.polygons = obj->polygonCount();
        p.quadCount = static_cast<int>(
            std::count_if(obj->polygons.begin(), obj->polygons.end(), [](const host::Polygon& q) { return q.c != q.d; }));
    }
    host::setActiveDocument(nullptr);
    return ok;
}

struct Baseline {
    double load = 0, simplify = 0, write = 0;
    int points = 0, triangles = 0;
    double total() const { return load + simplify + write; }
};

// The same job by the comparison simplifier: same reader, same share of the triangles, same writer.
bool simplifyHere(const std::string& input, const std::string& output, Baseline& b) {
    host::Document doc;
    std::vector<host::Object*> loaded;
    std::string error;
    double t = seconds();
    if (!host::readObj(input, doc, &loaded, &error) || loaded.empty()) return false;
    b.load = seconds() - t;
    auto* obj = static_cast<host::PolygonObject*>(loaded.front());

    t = seconds();
    std::vector<unsigned int> indices;
    indices.reserve(static_cast<size_t>(obj->polygonCount()) * 6);
    for (const host::Polygon& q : obj->polygons) {
        indices.insert(indices.end(), {unsigned(q.a), unsigned(q.b), unsigned(q.c)});
        if (q.c != q.d) indices.insert(indices.end(), {unsigned(q.a), unsigned(q.c), unsigned(q.d)});
    }
    // Two triangles per point on a grid: the same share of points is the same share of indices.
    const size_t target = static_cast<size_t>(static_cast<double>(indices.size()) * kRatio) / 3 * 3;
    std::vector<unsigned int> kept(indices.size());
    float reached = 0.0f;
    kept.resize(meshopt_simplify(kept.data(), indices.data(), indices.size(), &obj->points[0].x, obj->points.size(),
                                 sizeof(host::Vec3f), target, 1.0f, 0, &reached));
    // The result as a polygon object of the points it uses, with the texture coordinates of the
    // corners the triangles came from left out (the simplifier does not carry them).
    std::vector<int> remap(obj->points.size(), -1);
    host::PolygonObject result("grid");
    for (unsigned int& i : kept) {
        if (remap[i] < 0) {
            remap[i] = static_cast<int>(result.points.size());
            result.points.push_back(obj->points[i]);
        }
        i = static_cast<unsigned int>(remap[i]);
    }
    for (size_t k = 0; k + 2 < kept.size(); k += 3)
        result.polygons.push_back({int(kept[k]), int(kept[k + 1]), int(kept[k + 2]), int(kept[k + 2])});
    result.resize(result.pointCount(), result.polygonCount());
    b.simplify = seconds() - t;

    t = seconds();
    if (!host::writeObj(output, {&result}, &error)) return false;
    b.write = seconds() - t;
    b.points = result.pointCount();
    b.triangles = result.polygonCount();
    return true;
}

template <typename T>
void keepBest(T& best, const T& now, bool first) {
    if (first || now.total() < best.total()) best = now;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--baseline-only") {
        Baseline b;
        return simplifyHere(argv[2], argv[3], b) ? 0 : 1;
    }
    const int quads = argc > 1 ? std::max(8, std::atoi(argv[1])) : 708;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const fs::path bin = fs::absolute(fs::path(argv[0])).parent_path();
    const std::string program = (bin / "vexlor").string();
    const std::string self = fs::absolute(fs::path(argv[0])).string();

    char folderTemplate[] = "/tmp/vexlor-e2e-XXXXXX";
    if (mkdtemp(folderTemplate) == nullptr) return 1;
    const fs::path folder = folderTemplate;
    const std::string input = (folder / "grid.obj").string();
    {
        std::ofstream out(input, std::ios::binary);
        out << bench::makeGrid(quads);
    }
    std::printf("mesh: %d x %d quads cut into %ld triangles, %ld points, %.0f MB of OBJ; reduced to %.0f%% of its points\n",
                quads, quads, 2L * quads * quads, static_cast<long>(quads + 1) * (quads + 1),
                fs::file_size(input) / 1e6, kRatio * 100);

    // The module, started as the host starts it, for the in-process pipeline.
    host::StatusBar::main().setQuiet(true);
    if (hst_main(HST_ACTION_INIT, const_cast<HostApi*>(host::hostApi()), nullptr,
                 const_cast<char*>(bin.string().c_str())) != 1) {
        std::fprintf(stderr, "the module did not start\n");
        return 1;
    }

    // Peak memory first, one process per road, while this process is still small: a process
    // started from this one (posix_spawn shares its memory until the program is loaded) reports
    // at least the high-water mark that this one had then.
    long direct = 0, preview = 0, lod = 0;
    const std::string out = (folder / "memory.obj").string();
    const std::string ratio = std::to_string(kRatio * 100);
    const bool measured = runProgram(program, {"reduce", input, "-o", out, "--ratio", ratio}, &direct) >= 0 &&
                          runProgram(program, {"reduce", input, "-o", out, "--ratio", ratio, "--preview"}, &preview) >= 0 &&
                          runProgram(program, {"lod", input, "-o", (folder / "lod{n}.obj").string(), "--levels", "50%,10%"},
                                    &lod) >= 0;
    long simplifier = 0;  // the baseline process's peak resident set, kilobytes
    const bool measuredBaseline = runProgram(self, {"--baseline-only", input, (folder / "baseline-memory.obj").string()},
                                            &simplifier) >= 0;

    double vexlor = 0, oneThread = 0, baselineProcess = 0;
    // Each run's own ratio of the two programs: on a machine whose speed drifts between runs, the
    // best times of each may come from different moments, a run's two from the same one.
    std::vector<double> runRatios;
    Phases phases;
    Baseline baseline;
    for (int r = 0; r < runs; ++r) {
        const double t = runProgram(program, {"reduce", input, "-o", (folder / "vexlor.obj").string(), "--ratio",
                                             std::to_string(kRatio * 100)});
        if (t < 0) {
            std::fprintf(stderr, "%s reduce failed\n", program.c_str());
            return 1;
        }
        vexlor = r == 0 ? t : std::min(vexlor, t);
        // The same command on one thread: what the threads of the set-up gain, and that they change
        // nothing in the file.
        const double t1 = runProgram(program, {"reduce", input, "-o", (folder / "vexlor1.obj").string(), "--ratio",
                                              std::to_string(kRatio * 100), "--threads", "1"});
        if (t1 < 0) {
            std::fprintf(stderr, "%s reduce --threads 1 failed\n", program.c_str());
            return 1;
        }
        oneThread = r == 0 ? t1 : std::min(oneThread, t1);
        Phases p;
        if (!reduceHere(input, (folder / "here.obj").string(), p)) return 1;
        keepBest(phases, p, r == 0);
        Baseline b;
        if (!simplifyHere(input, (folder / "baseline.obj").string(), b)) return 1;
        keepBest(baseline, b, r == 0);
        const double tb = runProgram(self, {"--baseline-only", input, (folder / "baseline-process.obj").string()});
        if (tb < 0) {
            std::fprintf(stderr, "the baseline process failed\n");
            return 1;
        }
        baselineProcess = r == 0 ? tb : std::min(baselineProcess, tb);
        runRatios.push_back(t / tb);
    }
    std::sort(runRatios.begin(), runRatios.end());
    const size_t half = runRatios.size() / 2;
    const double medianRatio =
        runRatios.size() % 2 == 1 ? runRatios[half] : (runRatios[half - 1] + runRatios[half]) / 2;
    hst_main(HST_ACTION_END, nullptr, nullptr, nullptr);

    const bool sameFile = readBytes(folder / "vexlor.obj") == readBytes(folder / "vexlor1.obj");
    std::printf("\nbest of %d runs, wall time in seconds, on a machine with %u cores\n", runs,
                std::thread::hardware_concurrency());
    std::printf("vexlor reduce (the program)     %8.3f\n", vexlor);
    std::printf("  --threads 1                   %8.3f   ratio one thread / default %.2f; the same file: %s\n", oneThread,
                oneThread / vexlor, sameFile ? "yes" : "NO");
    std::printf("the same work in this process   %8.3f   load %.3f  collect %.3f  decimate %.3f  finish %.3f  write %.3f\n",
                phases.total(), phases.load, phases.collect, phases.decimate, phases.finish(), phases.write);
    std::printf("  finish                        %8.3f   bad-quad split %.3f  quad rebuilding %.3f  clean-up %.3f\n",
                phases.finish(), phases.split, phases.quads, phases.cleanup);
    std::printf("  result                        %d points, %d polygons (%d quads)\n", phases.points, phases.polygons,
                phases.quadCount);
    std::printf("baseline (meshopt_simplify)     %8.3f   load %.3f  simplify %.3f  write %.3f\n", baseline.total(),
                baseline.load, baseline.simplify, baseline.write);
    std::printf("  result                        %d points, %d triangles\n", baseline.points, baseline.triangles);
    std::printf("baseline process                %8.3f   the same job as a program of its own\n", baselineProcess);
    std::printf("\nratio vexlor reduce / baseline process  %6.2f   (both whole processes)\n", vexlor / baselineProcess);
    std::printf("  run by run                            %6.2f   median of each run's own ratio (%.2f to %.2f)\n",
                medianRatio, runRatios.front(), runRatios.back());
    std::printf("ratio vexlor reduce --threads 1 / baseline process %3.2f\n", oneThread / baselineProcess);
    std::printf("ratio vexlor reduce / baseline in this process %3.2f\n", vexlor / baseline.total());
    std::printf("ratio in-process pipeline / baseline in this process %3.2f\n", phases.total() / baseline.total());
    std::printf("finishing share of the whole            %6.1f%%  (must stay at or below 20%%)\n",
                100.0 * phases.finish() / phases.total());

    if (measured && measuredBaseline) {
        std::printf("\npeak resident memory, MB\n");
        std::printf("vexlor reduce (direct)   %8.1f\n", direct / 1024.0);
        std::printf("vexlor reduce --preview  %8.1f\n", preview / 1024.0);
        std::printf("vexlor lod (2 levels)    %8.1f\n", lod / 1024.0);
        std::printf("baseline process         %8.1f\n", simplifier / 1024.0);
        std::printf("ratio preview / direct   %6.2f\n", static_cast<double>(preview) / direct);
        std::printf("ratio lod / direct       %6.2f\n", static_cast<double>(lod) / direct);
        std::printf("ratio direct / baseline  %6.2f\n", static_cast<double>(direct) / simplifier);
    } else {
        std::fprintf(stderr, "the memory runs failed\n");
    }

    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
