// Map-baking benchmark: a 1024 × 1024 normal map from a generated high object of about one million
// triangles onto a low object of 5,000 quads (one sample per texel, then the default five), and an
// occlusion map with direction grid 3. Each bake runs on one thread and then on the host's worker
// thread count (one per core); for each it prints the seconds of every stage (gathering, octree,
// texels, finishing, writing), the rays per second of the texel stage and the memory held by the
// bake at its highest in every stage, then the speed-up of all threads over one, per stage.
//
// Baseline, measured in the same run: the same walk over every candidate texel of every low
// triangle, computing the low-surface point and normal of every sample, without casting a ray.
// The ratio of the texel stage to it is the cost of the ray casting. The orientation figure is a
// production ray-traced baker's 5 s for the one-sample normal map.
//
//   bake_bench [--size N] [--high-segments U V] [--runs n1,n5,ao] [--keep DIR] [--threads N]
//
// With --threads only one bake per run is made, on N threads (for the memory of a fresh process).
//
// With --keep the maps of the all-threads bakes stay in DIR (named after the run) for comparing
// builds byte by byte.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sys/resource.h>
#include <memory>
#include <string>

#include "baking/BakeSettings.h"
#include "baking/NMGather.h"
#include "baking/NMSampling.h"
#include "baking/NMTexelSpans.h"
#include "baking/NormalMapper.h"
#include "host/Document.h"
#include "host/HostHandles.h"
#include "host/HostTable.h"
#include "host/Memory.h"
#include "host/Object.h"
#include "host/Threads.h"
#include "host/Tags.h"
#include "sources/HostInterface.h"
#include "sources/Module.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kOrientationSeconds = 5.0;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A torus (major radius 1, minor 0.4) of nu × nv quads with UV = (i / nu, j / nv); `bumps` adds
// ripples to the minor radius.
std::unique_ptr<host::PolygonObject> torus(const char* name, int nu, int nv, bool withUvw, double bumps) {
    auto obj = std::make_unique<host::PolygonObject>(name);
    obj->points.reserve(size_t(nu + 1) * (nv + 1));
    for (int j = 0; j <= nv; ++j)
        for (int i = 0; i <= nu; ++i) {
            const double u = double(i) / nu, v = double(j) / nv;
            const double r = 0.4 + bumps * std::sin(40 * kPi * u) * std::sin(20 * kPi * v);
            const double ring = 1.0 + r * std::cos(2 * kPi * v);
            obj->points.push_back({float(ring * std::cos(2 * kPi * u)), float(ring * std::sin(2 * kPi * u)),
                                   float(r * std::sin(2 * kPi * v))});
        }
    std::unique_ptr<host::UVWTag> uvw;
    if (withUvw) uvw = std::make_unique<host::UVWTag>("UVW");
    obj->polygons.reserve(size_t(nu) * nv);
    auto at = [&](int i, int j) { return j * (nu + 1) + i; };
    auto uv = [&](int i, int j) { return host::Vec3f{float(double(i) / nu), float(double(j) / nv), 0.0f}; };
    for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; ++i) {
            obj->polygons.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
            if (uvw) uvw->data.push_back({uv(i, j), uv(i + 1, j), uv(i + 1, j + 1), uv(i, j + 1)});
        }
    if (uvw) obj->addTag(std::move(uvw));
    return obj;
}

// The baseline walk: every candidate texel of every low triangle, every sample's weights, point
// and normal, exactly as the bake visits them, but no ray.
double baselineWalk(HstObject* low, HstTag* uvw, int32_t size, int32_t supersampling, double* checksum) {
    NMTriangleList list;
    if (!gatherObject(list, low, uvw, NM_GATHER_LOW, nullptr)) return -1.0;
    Stack<NMVec3> offsets;
    makeSampleOffsets(offsets, supersampling);
    const double walkStart = now();
    double sum = 0.0;
    const int32_t W = size, H = size, P = 2;
    for (const NMTriangle& t : list.triangles) {
        double X[3], Y[3];
        for (int k = 0; k < 3; ++k) {
            X[k] = (W - 1) * t.v[k].uvw.x;
            Y[k] = (H - 1) * t.v[k].uvw.y;
        }
        const double d = (Y[2] - Y[0]) * (X[1] - X[0]) - (Y[1] - Y[0]) * (X[2] - X[0]);
        if (!(std::fabs(d) >= 1e-7)) continue;
        const NMTexelSpans spans(X, Y);
        const int64_t rowFirst = std::max<int64_t>(0, spans.top() - P);
        const int64_t rowLast = std::min<int64_t>(H - 1, spans.bottom() + P);
        for (int64_t y = rowFirst; y <= rowLast; ++y) {
            int64_t first, last;
            spans.span(y, &first, &last);
            for (int64_t x = std::max<int64_t>(0, first - P); x <= std::min<int64_t>(W - 1, last + P); ++x)
                for (const NMVec3& o : offsets) {
                    const double px = x + o.x, py = y + o.y;
                    const double w1 = ((px - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (py - Y[0])) / d;
                    const double w2 = ((X[1] - X[0]) * (py - Y[0]) - (px - X[0]) * (Y[1] - Y[0])) / d;
                    const double w0 = 1.0 - w1 - w2;
                    const NMVec3 p = t.v[0].position * w0 + t.v[1].position * w1 + t.v[2].position * w2;
                    const NMVec3 n = normalize(t.v[0].normal * w0 + t.v[1].normal * w1 + t.v[2].normal * w2);
                    sum += p.x + n.z;
                }
        }
    }
    *checksum = sum;
    return now() - walkStart;
}

struct Run {
    const char* key;
    const char* name;
    int32_t supersampling;
    bool normal, occlusion;
};

}  // namespace

int main(int argc, char** argv) {
    int32_t size = 1024, highU = 1000, highV = 500;
    std::string which = "n1,n5,ao";
    std::string keep;
    int32_t onlyThreads = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--size") && i + 1 < argc) size = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--high-segments") && i + 2 < argc) {
            highU = std::atoi(argv[++i]);
            highV = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) which = argv[++i];
        else if (!std::strcmp(argv[i], "--keep") && i + 1 < argc) keep = argv[++i];
        else if (!std::strcmp(argv[i], "--threads") && i + 1 < argc) onlyThreads = std::atoi(argv[++i]);
    }
    const std::string folder = std::filesystem::absolute(argv[0]).parent_path().string();
    HostApi* api = const_cast<HostApi*>(host::hostApi());
    if (hst_main(HST_ACTION_INIT, api, nullptr, const_cast<char*>(folder.c_str())) != 1) {
        std::fprintf(stderr, "module init failed\n");
        return 1;
    }
    hst_main(HST_ACTION_MESSAGE, reinterpret_cast<void*>(intptr_t(1)), nullptr, nullptr);

    host::Document doc;
    double t0 = now();
    host::Object* low = doc.insert(torus("low", 100, 50, true, 0.0));
    host::Object* high = doc.insert(torus("high", highU, highV, false, 0.01));
    std::printf("scene: low %d quads, high %d triangles, map %d x %d (made in %.2f s)\n",
                static_cast<host::PolygonObject*>(low)->polygonCount(),
                2 * static_cast<host::PolygonObject*>(high)->polygonCount(), size, size, now() - t0);

    const auto out = std::filesystem::temp_directory_path() / "vexlor-bake-bench";
    std::filesystem::create_directories(out);

    double checksum = 0.0;
    const double base1 = baselineWalk(host::toHandle(low), host::toHandle(low->tag(host::TAG_UVW)), size, 1, &checksum);
    const double base2 = baselineWalk(host::toHandle(low), host::toHandle(low->tag(host::TAG_UVW)), size, 2, &checksum);
    std::printf("baseline walk without rays: %.3f s (1 sample), %.3f s (5 samples)  [checksum %.3g]\n\n", base1,
                base2, checksum);

    const Run runs[] = {{"n1", "normal map, 1 sample per texel", 1, true, false},
                        {"n5", "normal map, 5 samples per texel (default)", 2, true, false},
                        {"ao", "occlusion map, grid 3, 1 sample per texel", 1, false, true}};
    const int32_t allThreads = host::workerThreadCount();
    auto mb = [](int64_t bytes) { return bytes / 1048576.0; };
    for (const Run& run : runs) {
        if (which.find(run.key) == std::string::npos) continue;
        NormalMapperStats one{}, all{};
        double wall[2] = {0, 0};
        for (int pass = onlyThreads > 0 ? 1 : 0; pass < 2; ++pass) {
            const int32_t threads = onlyThreads > 0 ? onlyThreads : pass == 0 ? 1 : allThreads;
            auto settings = std::make_unique<BakeSettings>();
            BakeSettings& s = *settings;
            s.lowObject = host::toHandle(low);
            s.lowUvw = host::toHandle(low->tag(host::TAG_UVW));
            s.highObject = host::toHandle(high);
            s.document = host::toHandle(&doc);
            s.width = size;
            s.height = size;
            s.supersampling = run.supersampling;
            s.normalOn = run.normal;
            s.occlusionOn = run.occlusion;
            s.occlusionGrid = 3;
            s.threads = threads;
            const std::filesystem::path folder = keep.empty() || pass == 0 ? out : std::filesystem::path(keep);
            std::filesystem::create_directories(folder);
            s.normalFile.assign((folder / (std::string(run.key) + "-normal.tif")).string().c_str());
            s.occlusionFile.assign((folder / (std::string(run.key) + "-occlusion.tif")).string().c_str());
            NormalMapper mapper;
            const double start = now();
            const std::clock_t cpuStart = std::clock();
            const uint64_t allocationsBefore = host::memory::allocationCount();
            const bool ok = mapper.bake(s);
            const double total = now() - start;
            const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
            const uint64_t allocations = host::memory::allocationCount() - allocationsBefore;
            const NormalMapperStats& st = mapper.stats();
            (pass == 0 ? one : all) = st;
            wall[pass] = total;
            const double texels = st.texelMs / 1000.0;
            std::printf("%s, %d thread%s: %s in %.2f s (%.2f s of processor time)\n", run.name, st.threads,
                        st.threads == 1 ? "" : "s", ok ? "done" : "FAILED", total, cpu);
            std::printf("  gathering %.2f s, octree %.2f s, texels %.2f s, finishing %.2f s, writing %.2f s\n",
                        st.gatherMs / 1000.0, st.octreeMs / 1000.0, texels, st.finishMs / 1000.0, st.writeMs / 1000.0);
            const double rays = double(st.surfaceRays + st.occlusionRays);
            std::printf("  %llu host allocations; per ray %.1f octree nodes opened, %.1f triangles tested\n",
                        (unsigned long long)allocations, rays > 0 ? st.nodeVisits / rays : 0.0,
                        rays > 0 ? st.triangleTests / rays : 0.0);
            std::printf("  %lld candidate texels; %llu surface rays (%.0f per second)", (long long)st.candidateTexels,
                        (unsigned long long)st.surfaceRays, texels > 0 ? st.surfaceRays / texels : 0.0);
            if (run.occlusion)
                std::printf(", %llu occlusion rays (%.0f per second)", (unsigned long long)st.occlusionRays,
                            texels > 0 ? st.occlusionRays / texels : 0.0);
            const double base = run.supersampling == 2 ? base2 : base1;
            std::printf("\n  texel stage / baseline walk: %.1f x\n", base > 0 ? texels / base : 0.0);
            std::printf("  memory held by the bake, highest per stage (MB above the %.1f MB held before): gathering "
                        "%.1f, octree %.1f, texels %.1f, finishing %.1f, writing %.1f\n",
                        mb(st.startBytes), mb(st.gatherPeakBytes - st.startBytes),
                        mb(st.octreePeakBytes - st.startBytes), mb(st.texelPeakBytes - st.startBytes),
                        mb(st.finishPeakBytes - st.startBytes), mb(st.writePeakBytes - st.startBytes));
            struct rusage usage;
            getrusage(RUSAGE_SELF, &usage);
            std::printf("  process peak resident memory so far: %.1f MB\n", usage.ru_maxrss / 1024.0);
            if (!std::strcmp(run.key, "n1") && pass == 0)
                std::printf("  against the %.0f s orientation figure: %.2f x (wall clock), %.2f x (processor time)\n",
                            kOrientationSeconds, total / kOrientationSeconds, cpu / kOrientationSeconds);
        }
        auto ratio = [](int64_t a, int64_t b) { return b > 0 ? double(a) / double(b) : 0.0; };
        if (onlyThreads == 0)
            std::printf("  speed-up of %d threads over 1: whole bake %.2f x; gathering %.2f x, octree %.2f x, texels %.2f x, "
                    "finishing %.2f x\n",
                    all.threads, wall[1] > 0 ? wall[0] / wall[1] : 0.0, ratio(one.gatherMs, all.gatherMs),
                    ratio(one.octreeMs, all.octreeMs), ratio(one.texelMs, all.texelMs),
                    ratio(one.finishMs, all.finishMs));
        std::printf("\n");
    }
    std::filesystem::remove_all(out);
    hst_main(HST_ACTION_END, nullptr, nullptr, nullptr);
    return 0;
}
