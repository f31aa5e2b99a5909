// Reduction of a generated 1M-triangle UV-mapped quad mesh (500k points, a UV seam down the
// middle, corner normals, a point selection and a float map) to 10% and to 1% of its points with
// the reduction command's default settings, timed by phase, against the comparison simplifier
// reducing the same mesh as triangles to the same share of points, in the same run. Times are the
// thread's processor time, with the decimator's set-up on this one thread; a last part times the
// set-up by the wall clock on one worker thread and on all, and checks that both build the same heap
// and the same reduction.
//
//   build/rel/bin/reduction_bench [--setup] [columns rows]     (--setup: the last part alone)
#include <meshoptimizer.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "host/Document.h"
#include "host/HostHandles.h"
#include "host/HostTable.h"
#include "host/Object.h"
#include "host/StatusBar.h"
#include "host/Tags.h"
#include "host/Threads.h"
#include "mixkit/Decimator.h"
#include "mixkit/ReductionMesh.h"
#include "sources/HostInterface.h"
#include "tests/support/CommandSettings.h"
#include "tests/support/GridMesh.h"
#include "tests/support/OutputDigest.h"

namespace {

// Processor time of this thread, so that other work on the machine does not count.
int64_t cpuMicroseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}
struct Clock {
    using time_point = int64_t;
    static int64_t now() { return cpuMicroseconds(); }
};
double secondsSince(int64_t t0) { return (cpuMicroseconds() - t0) / 1e6; }
int64_t wallMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long peakMegabytes(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss / 1024;
}

double height(double x, double y) {
    return 6.0 * std::sin(x * 0.013) * std::cos(y * 0.021) + 1.5 * std::sin(x * 0.11 + y * 0.07) +
           0.3 * std::cos(x * 0.53 - y * 0.41);
}

// The grid, with or without the tags that follow each contraction.
host::PolygonObject* makeMesh(host::Document& doc, int columns, int rows, bool attributes) {
    using namespace testsupport;
    auto owned = gridObject("bench", columns, rows, [](int x, int y) {
        return host::Vec3f{static_cast<float>(x), static_cast<float>(y), static_cast<float>(height(x, y))};
    });
    host::PolygonObject* obj = owned.get();
    if (attributes) {
        addGridUvw(*obj, columns, rows, seamedUv(columns, rows, columns / 2));
        addUpNormals(*obj);
        addSelection(*obj, host::TAG_POINT_SELECTION, "sel", [obj](int i) { return obj->points[i].z > 2.0f; });
        addFloatMap(*obj, "weight", [obj, columns](int i) { return obj->points[i].x / columns; });
    }
    doc.insert(std::move(owned));
    return obj;
}

struct Timing {
    double build = 0, quadrics = 0, constraints = 0, candidates = 0, initialise = 0, loop = 0;
    double total() const { return build + initialise + loop; }
    int32_t left = 0;
    uint64_t digest = 0;
};

// 64-bit FNV-1a over the reduced object's points, polygons and every tag's data, so that runs of
// different builds can be seen to give the same object bit for bit.
using testsupport::Digest;

uint64_t objectDigest(const host::PolygonObject& obj) {
    Digest d;
    d.contents(obj.points);
    d.contents(obj.polygons);
    for (const auto& tag : obj.tags()) {
        if (auto* u = dynamic_cast<const host::UVWTag*>(tag.get())) d.contents(u->data);
        if (auto* n = dynamic_cast<const host::NormalTag*>(tag.get())) d.contents(n->data);
        if (auto* f = dynamic_cast<const host::FloatMapTag*>(tag.get())) d.contents(f->data);
        if (auto* s = dynamic_cast<const host::SelectionTag*>(tag.get()))
            for (int i = 0; i < s->set.size(); ++i) {
                const unsigned char b = s->set.isSelected(i) ? 1 : 0;
                d.bytes(&b, 1);
            }
    }
    return d.result();
}

Timing reduce(int columns, int rows, bool attributes, double ratio) {
    host::Document doc;
    host::PolygonObject* obj = makeMesh(doc, columns, rows, attributes);
    const HostApi* api = host::hostApi();
    HstSelection* points = api->selMake();
    HstSelection* polygons = api->selMake();
    for (int i = 0; i < obj->pointCount(); ++i) api->selSelect(points, i);
    for (int i = 0; i < obj->polygonCount(); ++i) api->selSelect(polygons, i);
    Timing t;
    {
        ReductionMesh mesh;
        Decimator decimator;
        testsupport::commandSettings(decimator);
        decimator.settings.threads = 1;  // this thread's clock sees all of it
        decimator.timeBuildWith(cpuMicroseconds);
        auto t0 = Clock::now();
        if (!mesh.build(HostPolygonObject(host::toHandle(obj)), HostSelection(points), HostSelection(polygons))) {
            std::fprintf(stderr, "build failed\n");
            std::exit(1);
        }
        t.build = secondsSince(t0);
        t0 = Clock::now();
        if (!decimator.initialise(&mesh, nullptr)) {
            std::fprintf(stderr, "initialise failed\n");
            std::exit(1);
        }
        t.initialise = secondsSince(t0);
        t.quadrics = decimator.statistics().quadrics / 1e6;
        t.constraints = decimator.statistics().constraints / 1e6;
        t.candidates = decimator.statistics().candidates / 1e6;
        const int32_t target = static_cast<int32_t>(mesh.reducibleCount() * ratio);
        t0 = Clock::now();
        decimator.decimateToCount(target, true, nullptr);
        if (attributes) mesh.attributes().writeBackPointSets();
        t.loop = secondsSince(t0);
        t.left = mesh.reducibleCount();
    }
    t.digest = objectDigest(*obj);
    api->selDestroy(points);
    api->selDestroy(polygons);
    return t;
}

// The set-up on `threads` workers by the wall clock: each stage's best of `runs`, a digest of what it
// built (every quadric, the heap slot by slot with its candidates) and, with `reduceTo`, the
// digest of the reduction that follows the last run.
struct SetupTiming {
    double quadrics = 1e30, constraints = 1e30, candidates = 1e30, all = 1e30;
    double processor = 0;  // the process's processor time for initialise, every thread's
    double caller = 0;     // the processor time of the thread that called initialise
    uint64_t built = 0;
    uint64_t reduced = 0;
};

uint64_t builtDigest(Decimator& d) {
    Digest digest;
    for (int32_t p = 0; p < d.mesh()->pointCount(); ++p) digest.value(d.quadric(p));
    const EdgeHeap& heap = d.candidates();
    for (int32_t i = 0; i < heap.size(); ++i) {
        const EdgeCandidate* c = &d.candidate(heap.at(i));
        digest.value(heap.keyAt(i));
        digest.value(c->v1);
        digest.value(c->v2);
        const Placement at = d.placement(*c);
        digest.value(at.target);
        digest.value(at.rawError);
    }
    return digest.result();
}

void timeSetup(int columns, int rows, int32_t threads, double reduceTo, SetupTiming& t) {
    host::Document doc;
    host::PolygonObject* obj = makeMesh(doc, columns, rows, true);
    const HostApi* api = host::hostApi();
    HstSelection* points = api->selMake();
    HstSelection* polygons = api->selMake();
    for (int i = 0; i < obj->pointCount(); ++i) api->selSelect(points, i);
    for (int i = 0; i < obj->polygonCount(); ++i) api->selSelect(polygons, i);
    {
        ReductionMesh mesh;
        Decimator decimator;
        testsupport::commandSettings(decimator);
        decimator.settings.threads = threads;
        decimator.timeBuildWith(wallMicroseconds);
        if (!mesh.build(HostPolygonObject(host::toHandle(obj)), HostSelection(points), HostSelection(polygons))) {
            std::fprintf(stderr, "build failed\n");
            std::exit(1);
        }
        const int64_t t0 = wallMicroseconds();
        timespec c0{}, c1{};
        const int64_t own0 = cpuMicroseconds();
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
        if (!decimator.initialise(&mesh, nullptr)) {
            std::fprintf(stderr, "initialise failed\n");
            std::exit(1);
        }
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
        const double all = (wallMicroseconds() - t0) / 1e6;
        if (all < t.all) {
            // The processor times of the fastest run, both from the same run.
            t.all = all;
            t.processor = static_cast<double>(c1.tv_sec - c0.tv_sec) + static_cast<double>(c1.tv_nsec - c0.tv_nsec) / 1e9;
            t.caller = (cpuMicroseconds() - own0) / 1e6;
        }
        t.quadrics = std::min(t.quadrics, decimator.statistics().quadrics / 1e6);
        t.constraints = std::min(t.constraints, decimator.statistics().constraints / 1e6);
        t.candidates = std::min(t.candidates, decimator.statistics().candidates / 1e6);
        t.built = builtDigest(decimator);
        if (reduceTo > 0.0) {
            decimator.decimateToCount(static_cast<int32_t>(mesh.reducibleCount() * reduceTo), true, nullptr);
            mesh.attributes().writeBackPointSets();
        }
    }
    if (reduceTo > 0.0) t.reduced = objectDigest(*obj);
    api->selDestroy(points);
    api->selDestroy(polygons);
}

struct Simplified {
    double seconds = 0;
    size_t points = 0;
    size_t triangles = 0;
    long peakMegabytes = 0;
};

Simplified simplifyHere(int columns, int rows, double ratio) {
    host::Document doc;
    host::PolygonObject* obj = makeMesh(doc, columns, rows, false);
    std::vector<unsigned int> indices;
    indices.reserve(static_cast<size_t>(obj->polygonCount()) * 6);
    for (const host::Polygon& p : obj->polygons) {
        indices.insert(indices.end(), {unsigned(p.a), unsigned(p.b), unsigned(p.c)});
        indices.insert(indices.end(), {unsigned(p.a), unsigned(p.c), unsigned(p.d)});
    }
    std::vector<unsigned int> out(indices.size());
    // A grid has two triangles per point: the same share of points is the same share of indices.
    const size_t target = static_cast<size_t>(indices.size() * ratio) / 3 * 3;
    float error = 0.0f;
    const auto t0 = Clock::now();
    const size_t n = meshopt_simplify(out.data(), indices.data(), indices.size(), &obj->points[0].x,
                                      obj->points.size(), sizeof(host::Vec3f), target, 1.0f, 0, &error);
    Simplified s;
    s.seconds = secondsSince(t0);
    s.triangles = n / 3;
    std::unordered_set<unsigned int> used(out.begin(), out.begin() + static_cast<long>(n));
    s.points = used.size();
    return s;
}

// The simplifier runs in a child process of its own, so that its peak memory is its own.
Simplified simplify(int columns, int rows, double ratio) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return simplifyHere(columns, rows, ratio);
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        Simplified s = simplifyHere(columns, rows, ratio);
        s.peakMegabytes = peakMegabytes();
        const ssize_t written = write(pipeEnds[1], &s, sizeof s);
        _exit(written == static_cast<ssize_t>(sizeof s) ? 0 : 1);
    }
    close(pipeEnds[1]);
    Simplified s;
    const ssize_t got = read(pipeEnds[0], &s, sizeof s);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got != static_cast<ssize_t>(sizeof s)) {
        std::fprintf(stderr, "the simplifier's process failed\n");
        std::exit(1);
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    int columns = 1000, rows = 500;
    const bool setupOnly = argc > 1 && std::string(argv[1]) == "--setup";
    if (setupOnly) {
        --argc;
        ++argv;
    }
    if (argc == 3) {
        columns = std::atoi(argv[1]);
        rows = std::atoi(argv[2]);
    }
    // The module only keeps its folder; the core needs no resources from it.
    static char folder[] = ".";
    if (hst_main(HST_ACTION_INIT, const_cast<HostApi*>(host::hostApi()), nullptr, folder) != 1) {
        std::fprintf(stderr, "module init failed\n");
        return 1;
    }
    host::StatusBar::main().setQuiet(true);
    const long points = static_cast<long>(columns + 1) * (rows + 1);
    std::printf("mesh: %d x %d quads = %ld triangles, %ld points, UV seam, normals, point selection, float map\n",
                columns, rows, 2L * columns * rows, points);
    std::printf("times are this thread's processor time; 'effects' is the loop with the attribute tags less the\n"
                "same loop on the same mesh without them (the contractions are the same)\n\n");

    // The simplifier first, each run in a child process started while this one is still small, so
    // that the child's peak memory is the simplifier's own.
    const double ratios[2] = {0.10, 0.01};
    Simplified simplified[2];
    for (int r = 0; r < 2 && !setupOnly; ++r) simplified[r] = simplify(columns, rows, ratios[r]);

    for (int r = 0; r < 2 && !setupOnly; ++r) {
        const double ratio = ratios[r];
        const Timing full = reduce(columns, rows, true, ratio);
        const long ourPeak = peakMegabytes();
        const Timing plain = reduce(columns, rows, false, ratio);
        const Simplified& s = simplified[r];
        const double effects = full.loop - plain.loop;
        std::printf("target %.0f%% of the points\n", ratio * 100.0);
        std::printf("  ours: %d points left, %.3f s in all, output digest %016llx (%016llx without attributes)\n",
                    full.left, full.total(), static_cast<unsigned long long>(full.digest),
                    static_cast<unsigned long long>(plain.digest));
        std::printf("    mesh build                 %.3f s\n", full.build);
        std::printf("    quadrics and constraints   %.3f s  (%.3f + %.3f)\n", full.quadrics + full.constraints,
                    full.quadrics, full.constraints);
        std::printf("    candidates                 %.3f s\n", full.candidates);
        std::printf("    loop                       %.3f s  (contractions %.3f, effects %.3f)\n", full.loop,
                    plain.loop, effects);
        std::printf("  without attributes: %.3f s in all\n", plain.total());
        std::printf("  simplifier: %zu points, %zu triangles left, %.3f s, peak memory %ld MB\n", s.points, s.triangles,
                    s.seconds, s.peakMegabytes);
        std::printf("  ratio ours / simplifier: %.2f  (without attributes %.2f)\n", full.total() / s.seconds,
                    plain.total() / s.seconds);
        std::printf("  peak memory of this process (host mesh and tags included): %ld MB\n\n", ourPeak);
    }
    // The set-up on the host's worker threads against one, runs taken in turn so that the
    // machine's other load falls on both alike.
    const int32_t all = host::workerThreadCount();
    constexpr int kRuns = 3;
    SetupTiming one, many;
    for (int run = 0; run < kRuns; ++run) {
        const bool last = run == kRuns - 1;
        timeSetup(columns, rows, 1, 0.0, one);
        timeSetup(columns, rows, all, last ? ratios[0] : 0.0, many);
    }
    std::printf("set-up (quadrics, constraints, candidates and heap), wall clock, best of %d runs each, on a machine\n"
                "whose other load counts here too\n", kRuns);
    auto row = [](const char* name, const SetupTiming& t) {
        std::printf("  %-10s quadrics %.3f s, constraints %.3f s, candidates %.3f s, initialise in all %.3f s\n"
                    "             processor time: %.3f s on all threads, %.3f s on the calling thread\n",
                    name, t.quadrics, t.constraints, t.candidates, t.all, t.processor, t.caller);
    };
    char label[32];
    std::snprintf(label, sizeof label, "%d thread%s", all, all == 1 ? "" : "s");
    row("1 thread", one);
    row(label, many);
    std::printf("  ratio 1 thread / %s: quadrics %.2f, constraints %.2f, candidates %.2f, in all %.2f\n", label,
                one.quadrics / many.quadrics, one.constraints / many.constraints, one.candidates / many.candidates,
                one.all / many.all);
    std::printf("  share of the work left on the calling thread: %.0f%% (on idle cores the wall clock would come near "
                "that share of one thread's)\n",
                100.0 * many.caller / many.processor);
    std::printf("  built: %016llx on 1 thread, %016llx on %s (%s); reduced to %.0f%% on %s: output digest %016llx\n",
                static_cast<unsigned long long>(one.built), static_cast<unsigned long long>(many.built), label,
                one.built == many.built ? "the same" : "DIFFERENT", ratios[0] * 100.0, label,
                static_cast<unsigned long long>(many.reduced));
    hst_main(HST_ACTION_END, nullptr, nullptr, nullptr);
    return 0;
}
