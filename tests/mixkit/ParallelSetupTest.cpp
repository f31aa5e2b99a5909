// Initialise on several worker threads: the quadrics, every point's candidate list and the heap are
// the same bits for any number of workers, the workers really share the passes, and a stop or a
// refused allocation on any of them fails initialise with the object untouched and nothing kept.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "mixkit/Decimator.h"
#include "mixkit/MeshParts.h"
#include "tests/mixkit/Invariants.h"
#include "tests/mixkit/MixkitFixture.h"
#include "tests/support/CommandSettings.h"
#include "tests/support/GridMesh.h"

namespace mixtest {
namespace {

using ParallelSetupTest = MixkitTest;

// What initialise built, copied out: each point's quadric, each point's candidates in list order
// and the heap slot by slot (a candidate named by its ends).
struct BuiltState {
    struct Candidate {
        int32_t v1, v2, heapPosition;
        double heapKey, rawError;
        Vector target;
    };
    std::vector<Quadric> quadrics;
    std::vector<std::vector<Candidate>> lists;
    std::vector<std::pair<double, std::pair<int32_t, int32_t>>> heap;
};

BuiltState copyBuilt(Decimator& d) {
    BuiltState s;
    const EdgeHeap& h = d.candidates();
    const int32_t n = d.mesh()->pointCount();
    for (int32_t p = 0; p < n; ++p) {
        s.quadrics.push_back(d.quadric(p));
        s.lists.emplace_back();
        for (const EdgeCandidate* c : d.candidatesAt(p)) {
            const Placement at = d.placement(*c);
            const double key = h.keyAt(c->heapPosition);
            s.lists.back().push_back({c->v1, c->v2, c->heapPosition, key, at.rawError, at.target});
        }
    }
    for (int32_t i = 0; i < h.size(); ++i) {
        const EdgeCandidate& c = d.candidate(h.at(i));
        s.heap.push_back({h.keyAt(i), {c.v1, c.v2}});
    }
    return s;
}

template <typename T>
bool sameBytes(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// The first difference between two set-ups, bit for bit, or "".
std::string firstDifference(const BuiltState& a, const BuiltState& b) {
    if (a.quadrics.size() != b.quadrics.size()) return "point counts differ";
    for (size_t p = 0; p < a.quadrics.size(); ++p) {
        if (!sameBytes(a.quadrics[p], b.quadrics[p])) return "quadric of point " + std::to_string(p);
        if (a.lists[p].size() != b.lists[p].size()) return "candidate count of point " + std::to_string(p);
        for (size_t k = 0; k < a.lists[p].size(); ++k) {
            const BuiltState::Candidate& x = a.lists[p][k];
            const BuiltState::Candidate& y = b.lists[p][k];
            if (x.v1 != y.v1 || x.v2 != y.v2 || x.heapPosition != y.heapPosition || !sameBytes(x.heapKey, y.heapKey) ||
                !sameBytes(x.rawError, y.rawError) || !sameBytes(x.target, y.target))
                return "candidate " + std::to_string(k) + " of point " + std::to_string(p) + " (" +
                       std::to_string(x.v1) + "-" + std::to_string(x.v2) + " against " + std::to_string(y.v1) + "-" +
                       std::to_string(y.v2) + ")";
        }
    }
    if (a.heap.size() != b.heap.size()) return "heap sizes differ";
    for (size_t i = 0; i < a.heap.size(); ++i)
        if (!sameBytes(a.heap[i].first, b.heap[i].first) || a.heap[i].second != b.heap[i].second)
            return "heap slot " + std::to_string(i);
    return "";
}

// A mesh with its reduction's selections, and a decimator set up the command's way.
struct Job {
    ModuleSet points, polygons;
    ReductionMesh mesh;
    Decimator decimator;
    Job(host::PolygonObject* obj, const host::SelectionSet& reducible, int32_t threads,
        const std::function<void(DecimatorSettings&)>& adjust)
        : points(reducible), polygons(WholeSets(*obj).polygons) {
        EXPECT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
        testsupport::commandSettings(decimator);
        if (adjust) adjust(decimator.settings);
        decimator.settings.threads = threads;
    }
};

struct Case {
    const char* name;
    std::function<host::PolygonObject*(host::Document&)> make;
    std::function<void(DecimatorSettings&)> adjust;
    bool leftHalfOnly = false;  // only the points left of the middle are reducible
};

GridOptions bigSeamGrid() { return GridOptions::withAllTags(200, 150, 120); }  // 30351 points: 8 blocks

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {"seam grid, every tag", [](host::Document& d) { return makeGrid(d, bigSeamGrid()); }, {}},
        {"seam grid, angle weights, line placement",
         [](host::Document& d) { return makeGrid(d, GridOptions::withAllTags(120, 90, 50)); },
         [](DecimatorSettings& s) {
             s.weightingPolicy = WEIGHTING_ANGLE;
             s.placementPolicy = PLACEMENT_LINE;
         }},
        {"closed triangle sphere, raw normals, no checks", [](host::Document& d) { return makeSphere(d, 90, 110); },
         [](DecimatorSettings& s) {
             s.weightingPolicy = WEIGHTING_RAW_NORMALS;
             s.useChecks = 0;
         }},
        {"grid with a quad that repeats a corner",
         [](host::Document& d) {
             host::PolygonObject* g = makeGrid(d, GridOptions::withAllTags(100, 90, 40));
             g->polygons[4321].c = g->polygons[4321].a;
             return g;
         },
         {}},
        {"left half reducible", [](host::Document& d) { return makeGrid(d, GridOptions::withAllTags(160, 80, 30)); },
         {}, true},
    };
    return all;
}

host::SelectionSet reducibleOf(const host::PolygonObject& obj, bool leftHalfOnly) {
    host::SelectionSet set = WholeSets(obj).points;
    if (!leftHalfOnly) return set;
    float middle = 0.0f;
    for (const host::Vec3f& p : obj.points) middle = std::max(middle, p.x / 2.0f);
    for (int i = 0; i < obj.pointCount(); ++i)
        if (obj.points[i].x > middle) set.deselect(i);
    return set;
}

TEST_F(ParallelSetupTest, AnyNumberOfWorkersBuildsTheSameHeap) {
    for (const Case& c : cases()) {
        host::Document doc;
        host::PolygonObject* obj = c.make(doc);
        const host::SelectionSet reducible = reducibleOf(*obj, c.leftHalfOnly);
        BuiltState alone;
        {
            Job one(obj, reducible, 1, c.adjust);
            // Big enough to spread over the workers.
            ASSERT_GT(one.mesh.pointCount(), 2 * SETUP_POINT_BLOCK) << c.name;
            ASSERT_TRUE(one.decimator.initialise(&one.mesh, nullptr)) << c.name;
            alone = copyBuilt(one.decimator);
            ASSERT_GT(alone.heap.size(), static_cast<size_t>(2 * SETUP_POINT_BLOCK)) << c.name;
        }
        for (int32_t threads : {2, 3, 8}) {
            Job many(obj, reducible, threads, c.adjust);
            ASSERT_TRUE(many.decimator.initialise(&many.mesh, nullptr)) << c.name;
            EXPECT_EQ(firstDifference(alone, copyBuilt(many.decimator)), "") << c.name << ", " << threads << " threads";
        }
    }
}

TEST_F(ParallelSetupTest, AnyNumberOfWorkersGivesTheSameReduction) {
    // The set-up's passes and the loop's keying (shared from 20000 reducible points on) on one
    // thread and on several: the reduced object, every tag included, is the same.
    host::PolygonObject alone;
    for (int32_t threads : {1, 2, 3, 8}) {
        host::Document doc;
        // 30351 points: eight blocks.
        host::PolygonObject* obj = makeGrid(doc, bigSeamGrid());
        Job job(obj, WholeSets(*obj).points, threads, {});
        ASSERT_TRUE(job.decimator.initialise(&job.mesh, nullptr));
        ASSERT_TRUE(job.decimator.decimateToCount(job.mesh.reducibleCount() / 4, false, nullptr));
        job.mesh.attributes().writeBackPointSets();
        if (threads == 1)
            alone.copyStateFrom(*obj);
        else
            EXPECT_EQ(differences(*obj, alone), "") << threads << " threads";
    }
}

// Every candidate that a point lists is in the heap, at its place: none was lost on its way back
// from the parts.
std::string everyListedCandidateInHeap(Decimator& d) {
    const EdgeHeap& heap = d.candidates();
    for (int32_t p = 0; p < d.mesh()->pointCount(); ++p)
        for (const EdgeCandidate* c : d.candidatesAt(p))
            if (c->heapPosition < 0 || c->heapPosition >= heap.size() || &d.candidate(heap.at(c->heapPosition)) != c)
                return "candidate " + std::to_string(c->v1) + "-" + std::to_string(c->v2) + " is not in the heap";
    return "";
}

TEST_F(ParallelSetupTest, PartsHalveByCountAndNumberLowerHalvesFirstOnAnyWorkers) {
    // A strip of 3000 cells, 6002 points along x: halved by count into 3001 and 3001, each of those
    // into 1500 and 1501, and each 1501 once more, so that the parts of at most 1500 points lie at
    // two depths. Numbered lower half first all the way down, they run along x in the sizes 1500,
    // 750, 751, 1500, 750, 751 (numbering each level in turn would give the two 1500s first), the
    // same on any number of workers. A point at NaN (the first, which starts the box) takes no part
    // in the box and sorts after every number: the strip is still cut along x, and it lies in the
    // last part.
    for (const bool nanFirst : {false, true}) {
        host::Document doc;
        GridOptions strip;
        strip.columns = 3000;
        strip.rows = 1;
        host::PolygonObject* obj = makeGrid(doc, strip);
        if (nanFirst) obj->points[0].x = std::nanf("");
        Job job(obj, WholeSets(*obj).points, 1, nullptr);
        std::vector<int32_t> first;
        for (const int32_t workers : {1, 2, 5}) {
            Stack<int32_t> partOf;
            ASSERT_EQ(splitIntoParts(job.mesh, 1500, partOf, false, workers), 6) << workers;
            std::vector<int32_t> sizes(6, 0);
            std::vector<double> lowest(6, INFINITY), highest(6, -INFINITY);
            for (int32_t p = 0; p < partOf.count; ++p) {
                const int32_t part = partOf.items[p];
                ASSERT_GE(part, 0);
                ++sizes[part];
                if (std::isnan(job.mesh.position(p).x)) continue;
                lowest[part] = std::min(lowest[part], job.mesh.position(p).x);
                highest[part] = std::max(highest[part], job.mesh.position(p).x);
            }
            EXPECT_EQ(sizes, (std::vector<int32_t>{1500, 750, 751, 1500, 750, 751})) << workers;
            for (int32_t k = 0; k + 1 < 6; ++k) EXPECT_LE(highest[k], lowest[k + 1]) << workers << " part " << k;
            if (nanFirst) {
                EXPECT_EQ(partOf.items[0], 5) << workers;
            }
            const std::vector<int32_t> now(partOf.items, partOf.items + partOf.count);
            if (first.empty()) first = now;
            EXPECT_EQ(now, first) << workers;
        }
    }
}

TEST_F(ParallelSetupTest, PartedReductionIsSoundAndTheSameForAnyNumberOfWorkers) {
    // The grid in parts of at most 2000 points (16 of them), with every tag: the parts contract
    // side by side, then turned parts of what is left, then one loop goes on. On 1 to 8 workers the
    // object, every tag included, is the same, and the reduction is whole: the count asked for,
    // polygons and lists that agree, every candidate left back in one heap, corner normals as a
    // refresh leaves them.
    host::PolygonObject alone;
    for (int32_t threads : {1, 2, 3, 8}) {
        host::Document doc;
        host::PolygonObject* obj = makeGrid(doc, bigSeamGrid());
        Job job(obj, WholeSets(*obj).points, threads, [](DecimatorSettings& s) { s.partPoints = 2000; });
        ASSERT_TRUE(job.decimator.initialise(&job.mesh, nullptr));
        const int32_t target = job.mesh.reducibleCount() / 8;
        ASSERT_TRUE(job.decimator.decimateToCount(target, false, nullptr));
        EXPECT_EQ(job.decimator.statistics().partedPhases, 2);
        EXPECT_EQ(job.mesh.reducibleCount(), target);
        Shadow after(*obj, job.mesh);
        for (int32_t p = 0; p < job.mesh.pointCount(); ++p) after.removed[p] = job.mesh.isReducible(p) == 0;
        EXPECT_EQ(checkMesh(*obj, job.mesh, after), "") << threads << " threads";
        EXPECT_EQ(checkDecimator(job.decimator), "") << threads << " threads";
        EXPECT_EQ(everyListedCandidateInHeap(job.decimator), "") << threads << " threads";
        for (int32_t p = 0; p < job.mesh.pointCount(); p += 7) {
            if (job.mesh.isReducible(p) != 0) {
                ASSERT_EQ(checkNormalsAround(*obj, job.mesh, p), "") << "point " << p;
            }
        }
        job.mesh.attributes().writeBackPointSets();
        if (threads == 1)
            alone.copyStateFrom(*obj);
        else
            EXPECT_EQ(differences(*obj, alone), "") << threads << " threads";
    }
    // The keys that the parts take as they stand are the keys: keyed afresh, every one is the same
    // (none missed a change around it, in either phase), and so is the object. On a curved
    // triangle grid a contraction changes the penalties of the candidates one ring out.
    {
        auto curved = [](int i, int j) {
            const double x = 10.0 * i / 120, y = 10.0 * j / 120;
            return host::Vec3f{static_cast<float>(x), static_cast<float>(y),
                               static_cast<float>(0.25 * std::sin(x) * std::cos(y) + 0.05 * std::sin(3.1 * x + 1.7 * y))};
        };
        host::PolygonObject* reduced[2] = {};
        host::Document docs[2];
        for (const bool keep : {true, false}) {
            auto* obj = static_cast<host::PolygonObject*>(
                docs[keep].insert(testsupport::gridObject("curve", 120, 120, curved, testsupport::GridCells::Triangles)));
            Job job(obj, WholeSets(*obj).points, 2, [keep](DecimatorSettings& s) {
                s.partPoints = 800;
                s.keepStandingKeys = keep;
            });
            ASSERT_TRUE(job.decimator.initialise(&job.mesh, nullptr));
            ASSERT_TRUE(job.decimator.decimateToCount(job.mesh.reducibleCount() / 8, false, nullptr));
            const DecimatorStatistics& s = job.decimator.statistics();
            EXPECT_EQ(s.partedPhases, 2);
            if (!keep) {
                EXPECT_GT(s.standingKeys, 1000);
                EXPECT_EQ(s.standingKeysDiffering, 0);
            }
            reduced[keep] = obj;
        }
        EXPECT_EQ(differences(*reduced[false], *reduced[true]), "");
    }
    // The parts did their work: without them the reduction takes another course.
    host::Document doc;
    host::PolygonObject* obj = makeGrid(doc, bigSeamGrid());
    Job whole(obj, WholeSets(*obj).points, 1, [](DecimatorSettings& s) { s.partPoints = 0; });
    ASSERT_TRUE(whole.decimator.initialise(&whole.mesh, nullptr));
    ASSERT_TRUE(whole.decimator.decimateToCount(whole.mesh.reducibleCount() / 8, false, nullptr));
    whole.mesh.attributes().writeBackPointSets();
    EXPECT_NE(differences(*obj, alone), "");
}

// Answers yes from its nth question on.
class StopAfter final : public ReductionControl {
public:
    explicit StopAfter(int n) : left_(n) {}
    void busy() override {}
    void pointsLeft(int32_t, int32_t) override {}
    void finished() override {}
    int64_t nowMs() override { return 0; }
    bool stopRequested() override { return --left_ <= 0; }

private:
    std::atomic<int> left_;
};

TEST_F(ParallelSetupTest, PartedReductionStoppedMidwayLeavesEverythingWhole) {
    // Stops asked for within the parts' rounds and between them: the reduction answers false, what
    // was done stays, and the mesh and every candidate left are whole; a later call goes on (its
    // parts take no key as standing that is not, though the first call left keys made before its
    // last contractions).
    for (int stopAt : {1, 3, 12}) {
        host::Document doc;
        host::PolygonObject* obj = makeGrid(doc, bigSeamGrid());
        Job job(obj, WholeSets(*obj).points, 2, [](DecimatorSettings& s) {
            s.partPoints = 2000;
            s.keepStandingKeys = false;
        });
        ASSERT_TRUE(job.decimator.initialise(&job.mesh, nullptr));
        const int32_t initial = job.mesh.reducibleCount();
        StopAfter control(stopAt);
        EXPECT_FALSE(job.decimator.decimateToCount(initial / 8, false, &control));
        EXPECT_LT(job.mesh.reducibleCount(), initial) << "stop at " << stopAt;
        EXPECT_GT(job.mesh.reducibleCount(), initial / 8) << "stop at " << stopAt;
        Shadow after(*obj, job.mesh);
        for (int32_t p = 0; p < job.mesh.pointCount(); ++p) after.removed[p] = job.mesh.isReducible(p) == 0;
        EXPECT_EQ(checkMesh(*obj, job.mesh, after), "") << "stop at " << stopAt;
        EXPECT_EQ(checkDecimator(job.decimator), "") << "stop at " << stopAt;
        EXPECT_EQ(everyListedCandidateInHeap(job.decimator), "") << "stop at " << stopAt;
        ASSERT_TRUE(job.decimator.decimateToCount(initial / 8, false, nullptr));
        EXPECT_EQ(job.mesh.reducibleCount(), initial / 8);
        EXPECT_EQ(job.decimator.statistics().standingKeysDiffering, 0) << "stop at " << stopAt;
    }
}

// The polls of initialise on the big seam grid: every 1000th of its 30000 polygons and of its
// 30351 points in each of the three passes, and one after each pass.
constexpr int kQuadricPolls = 30 + 1;
constexpr int kInitialisePolls = kQuadricPolls + 2 * (31 + 1);

// A control standing for the reduction's host: its stop test notes which threads ask. From
// the constraints pass on (where every block polls), the first question of the thread that runs
// initialise waits until another thread has asked too (at most two seconds), so that a worker
// surely takes part. With `stopForWorkers` it answers yes to every thread but that one.
class WatchingControl final : public ReductionControl {
public:
    WatchingControl(bool awaitWorker, bool stopForWorkers) : awaitWorker_(awaitWorker), stopForWorkers_(stopForWorkers) {}
    void busy() override {}
    void pointsLeft(int32_t, int32_t) override {}
    void finished() override {}
    int64_t nowMs() override { return 0; }
    bool stopRequested() override {
        const bool caller = std::this_thread::get_id() == caller_;
        int call = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            askers_.insert(std::this_thread::get_id());
            call = ++calls_;
        }
        if (awaitWorker_ && caller && call > kQuadricPolls && !waited_) {
            waited_ = true;
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (askers() < 2 && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return stopForWorkers_ && !caller;
    }
    size_t askers() {
        std::lock_guard<std::mutex> lock(mutex_);
        return askers_.size();
    }
    int calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

private:
    const bool awaitWorker_;
    const bool stopForWorkers_;
    const std::thread::id caller_ = std::this_thread::get_id();
    bool waited_ = false;  // the caller's own
    std::mutex mutex_;
    std::set<std::thread::id> askers_;
    int calls_ = 0;
};

TEST_F(ParallelSetupTest, WorkersShareThePassesAndPollAsOnePassWould) {
    host::Document doc;
    host::PolygonObject* obj = makeGrid(doc, bigSeamGrid());
    ASSERT_EQ(obj->polygonCount(), 30000);
    ASSERT_EQ(obj->pointCount(), 30351);
    for (int32_t threads : {1, 2}) {
        Job job(obj, WholeSets(*obj).points, threads, {});
        WatchingControl watch(threads > 1, false);
        ASSERT_TRUE(job.decimator.initialise(&job.mesh, &watch));
        EXPECT_EQ(watch.askers(), static_cast<size_t>(threads));
        EXPECT_EQ(watch.calls(), kInitialisePolls) << threads << " threads";
    }
}

TEST_F(ParallelSetupTest, AStopSeenOnAWorkerFailsInitialiseAndLeavesNothing) {
    host::Document doc;
    host::PolygonObject* obj = makeGrid(doc, bigSeamGrid());
    host::PolygonObject before;
    before.copyStateFrom(*obj);
    BuiltState alone;
    {
        Job one(obj, WholeSets(*obj).points, 1, {});
        ASSERT_TRUE(one.decimator.initialise(&one.mesh, nullptr));
        alone = copyBuilt(one.decimator);
    }
    Job job(obj, WholeSets(*obj).points, 3, {});
    const size_t live = host::memory::liveBlocks();
    {
        // Only a worker thread is ever told to stop.
        WatchingControl stopOnWorkers(true, true);
        EXPECT_FALSE(job.decimator.initialise(&job.mesh, &stopOnWorkers));
    }
    EXPECT_EQ(differences(*obj, before), "");
    job.decimator.release();
    EXPECT_LE(host::memory::liveBlocks(), live);
    // The same decimator, asked again without a stop, builds everything afresh.
    ASSERT_TRUE(job.decimator.initialise(&job.mesh, nullptr));
    EXPECT_EQ(firstDifference(alone, copyBuilt(job.decimator)), "");
}

TEST_F(ParallelSetupTest, EveryRefusedAllocationFailsCleanlyOrLeavesTheSameHeap) {
    host::Document doc;
    // 6461 points: two blocks, one for each worker.
    host::PolygonObject* obj = makeGrid(doc, GridOptions::withAllTags(80, 70, 30));
    host::PolygonObject before;
    before.copyStateFrom(*obj);
    BuiltState alone;
    uint64_t allocations = 0;
    {
        Job one(obj, WholeSets(*obj).points, 2, {});
        const uint64_t calls = host::memory::allocationCount();
        ASSERT_TRUE(one.decimator.initialise(&one.mesh, nullptr));
        allocations = host::memory::allocationCount() - calls;
        alone = copyBuilt(one.decimator);
    }
    int failed = 0, fewerWorkers = 0;
    for (uint64_t n = 1; n <= allocations + 4; ++n) {
        Job job(obj, WholeSets(*obj).points, 2, {});
        const size_t live = host::memory::liveBlocks();
        console();
        host::memory::failAfter(n);
        const bool ok = job.decimator.initialise(&job.mesh, nullptr);
        host::memory::resetFailures();
        if (ok) {
            // A worker thread that could not be made leaves its blocks to the other.
            if (!memoryFaults().empty()) ++fewerWorkers;
            EXPECT_EQ(firstDifference(alone, copyBuilt(job.decimator)), "") << "allocation " << n;
        } else {
            ++failed;
            EXPECT_FALSE(memoryFaults().empty()) << "allocation " << n << " failed silently";
        }
        EXPECT_EQ(differences(*obj, before), "") << "allocation " << n;
        job.decimator.release();
        EXPECT_LE(host::memory::liveBlocks(), live) << "allocation " << n;
    }
    EXPECT_GT(failed, 20);
    EXPECT_GE(fewerWorkers, 1);
}

// A parted reduction refused memory at any allocation: refused before the parts take the heap, the
// whole-mesh loop does the work; refused after, it stops with the failure reported. Either way the
// mesh and the heap are whole, nothing points into a heap that is gone, and nothing leaks.
TEST_F(ParallelSetupTest, PartedReductionRefusedAnyAllocationStaysWhole) {
    auto settings = [](DecimatorSettings& s) { s.partPoints = 90; };  // two phases of parts on a 1476-point grid
    uint64_t allocations = 0;
    {
        host::Document doc;
        host::PolygonObject* obj = makeGrid(doc, GridOptions::withAllTags(40, 35, 15));
        Job one(obj, WholeSets(*obj).points, 2, settings);
        ASSERT_TRUE(one.decimator.initialise(&one.mesh, nullptr));
        const uint64_t calls = host::memory::allocationCount();
        ASSERT_TRUE(one.decimator.decimateToCount(one.mesh.reducibleCount() / 8, false, nullptr));
        ASSERT_EQ(one.decimator.statistics().partedPhases, 2);
        allocations = host::memory::allocationCount() - calls;
    }
    int stopped = 0, finished = 0;
    // Each of the first 60 (the first phase's set-up among them), then every fifth: the gathers,
    // the second phase and the loop.
    for (uint64_t n = 1; n <= allocations + 2; n += n < 60 ? 1 : 5) {
        host::Document doc;
        host::PolygonObject* obj = makeGrid(doc, GridOptions::withAllTags(40, 35, 15));
        Job job(obj, WholeSets(*obj).points, 2, settings);
        ASSERT_TRUE(job.decimator.initialise(&job.mesh, nullptr));
        const size_t live = host::memory::liveBlocks();
        const int32_t target = job.mesh.reducibleCount() / 8;
        console();
        host::memory::failAfter(n);
        const bool ok = job.decimator.decimateToCount(target, false, nullptr);
        host::memory::resetFailures();
        Shadow after(*obj, job.mesh);
        for (int32_t p = 0; p < job.mesh.pointCount(); ++p) after.removed[p] = job.mesh.isReducible(p) == 0;
        EXPECT_EQ(checkMesh(*obj, job.mesh, after), "") << "allocation " << n;
        EXPECT_EQ(checkDecimator(job.decimator), "") << "allocation " << n;
        const EdgeHeap& heap = job.decimator.candidates();
        for (int32_t p = 0; p < job.mesh.pointCount(); ++p)
            for (const EdgeCandidate* c : job.decimator.candidatesAt(p)) {
                const int32_t at = c->heapPosition;
                const bool inHeap = at >= 0 && at < heap.size() && &job.decimator.candidate(heap.at(at)) == c;
                ASSERT_TRUE(at == HEAP_ABSENT || inHeap)
                    << "allocation " << n << ": candidate " << c->v1 << "-" << c->v2 << " at " << at;
            }
        if (ok) {
            ++finished;
            EXPECT_EQ(job.mesh.reducibleCount(), target) << "allocation " << n;
            EXPECT_EQ(everyListedCandidateInHeap(job.decimator), "") << "allocation " << n;
        } else {
            ++stopped;
            EXPECT_FALSE(memoryFaults().empty()) << "allocation " << n << " failed silently";
        }
        job.decimator.release();
        EXPECT_LE(host::memory::liveBlocks(), live) << "allocation " << n;
    }
    EXPECT_GT(stopped, 0);
    EXPECT_GT(finished, 1);
}

}  // namespace
}  // namespace mixtest
