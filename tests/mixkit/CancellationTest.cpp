// Stopping a reduction through the host's break test, and its progress on the status bar.
#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include "host/StatusBar.h"
#include "mixkit/Decimator.h"
#include "sources/HostThread.h"
#include "tests/mixkit/Invariants.h"
#include "tests/mixkit/MixkitFixture.h"
#include "tests/support/CommandSettings.h"

namespace mixtest {
namespace {

using CancellationTest = MixkitTest;

// A host thread whose own break test answers yes from its (k + 1)-th question on.
class BreakAfter : public HostThread {
public:
    explicit BreakAfter(int k) : k_(k) {}
    ~BreakAfter() override { stop(); }
    int32_t testBreak() override { return ++calls > k_ ? 1 : 0; }
    void main() override {}
    void answerYesAfter(int k) { k_ = k; }
    int calls = 0;

private:
    int k_;
};

// A host thread that runs a reduction to one point as its main.
class ReductionThread : public HostThread {
public:
    ReductionThread(Decimator& d) : decimator_(d) {}
    ~ReductionThread() override { stop(); }
    void main() override {
        started = true;
        result = decimator_.decimateToCount(1, true, this);
        finished = true;
    }
    std::atomic<bool> started{false}, finished{false};
    bool result = true;

private:
    Decimator& decimator_;
};

struct Job {
    ModuleSet points, polygons;
    ReductionMesh mesh;
    Decimator decimator;
    explicit Job(host::PolygonObject* obj) : points(WholeSets(*obj).points), polygons(WholeSets(*obj).polygons) {
        EXPECT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
        testsupport::commandSettings(decimator);
    }
};

GridOptions small() {
    GridOptions o;
    o.columns = 12;
    o.rows = 10;
    o.normals = true;
    o.pointSelection = true;
    return o;
}

// Under a thousand polygons and points, initialise asks six times: at the start of each build
// pass and after it.
constexpr int kInitialisePolls = 6;

TEST_F(CancellationTest, BreakDuringInitialiseLeavesTheObjectUntouched) {
    for (int k = 0; k < kInitialisePolls; ++k) {
        host::Document doc;
        host::PolygonObject* obj = makeGrid(doc, small());
        host::PolygonObject before;
        before.copyStateFrom(*obj);
        Job job(obj);
        BreakAfter stop(k);
        EXPECT_FALSE(job.decimator.initialise(&job.mesh, &stop)) << "break after " << k;
        EXPECT_EQ(stop.calls, k + 1);
        EXPECT_EQ(differences(*obj, before), "");
    }
    host::Document doc;
    host::PolygonObject* obj = makeGrid(doc, small());
    Job job(obj);
    BreakAfter never(kInitialisePolls);
    EXPECT_TRUE(job.decimator.initialise(&job.mesh, &never));
    EXPECT_EQ(never.calls, kInitialisePolls);
}

TEST_F(CancellationTest, StopAskedOfTheThreadBreaksInitialise) {
    host::Document doc;
    host::PolygonObject* obj = makeGrid(doc, small());
    host::PolygonObject before;
    before.copyStateFrom(*obj);
    Job job(obj);
    BreakAfter thread(1000);
    thread.end(false);  // the host's stop flag, not the thread's own test
    EXPECT_FALSE(job.decimator.initialise(&job.mesh, &thread));
    EXPECT_EQ(differences(*obj, before), "");
}

TEST_F(CancellationTest, BuildPassesPollEveryThousandItems) {
    host::Document doc;
    GridOptions o;
    o.columns = 50;
    o.rows = 45;  // 2250 polygons, 2346 points
    o.uvw = false;
    host::PolygonObject* obj = makeGrid(doc, o);
    Job job(obj);
    BreakAfter never(1000000);
    ASSERT_TRUE(job.decimator.initialise(&job.mesh, &never));
    // Quadrics: 0, 1000, 2000 and after; seams and candidates: 0, 1000, 2000 and after each.
    EXPECT_EQ(never.calls, 3 + 1 + 3 + 1 + 3 + 1);
}

TEST_F(CancellationTest, BreakDuringTheLoopStopsAtTheNextPoll) {
    host::Document doc;
    GridOptions o;
    o.columns = 220;
    o.rows = 200;
    o.uvw = false;
    host::PolygonObject* obj = makeGrid(doc, o);
    Job job(obj);
    Shadow shadow(*obj, job.mesh);
    BreakAfter stopper(1000000);
    ASSERT_TRUE(job.decimator.initialise(&job.mesh, &stopper));
    const int afterInitialise = stopper.calls;
    EXPECT_EQ(afterInitialise, 44 + 1 + 45 + 1 + 45 + 1);  // 44000 polygons, 44421 points
    stopper.answerYesAfter(afterInitialise);  // the next question is answered yes
    const int32_t initial = job.mesh.reducibleCount();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(job.decimator.decimateToCount(1, true, &stopper));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // Asked once in the loop, after at least 50 ms, and it stopped there.
    EXPECT_EQ(stopper.calls, afterInitialise + 1);
    EXPECT_GE(seconds, 0.05);
    EXPECT_LT(job.mesh.reducibleCount(), initial);
    EXPECT_GT(job.mesh.reducibleCount(), 1);
    // What was done stays done, consistently.
    for (int i = 0; i < obj->pointCount(); ++i) shadow.removed[i] = job.mesh.isReducible(i) == 0;
    EXPECT_EQ(checkMesh(*obj, job.mesh, shadow), "");
    EXPECT_EQ(checkDecimator(job.decimator), "");
    // The status bar was cleared at the end.
    EXPECT_EQ(host::StatusBar::main().line(), "");
}

TEST_F(CancellationTest, StopFromTheMainThreadEndsAWorkerReduction) {
    host::Document doc;
    GridOptions o;
    o.columns = 220;
    o.rows = 200;
    o.uvw = false;
    host::PolygonObject* obj = makeGrid(doc, o);
    Job job(obj);
    ASSERT_TRUE(job.decimator.initialise(&job.mesh, nullptr));
    const int32_t initial = job.mesh.reducibleCount();
    ReductionThread worker(job.decimator);
    ASSERT_TRUE(worker.start());
    while (!worker.started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    ASSERT_FALSE(worker.finished.load()) << "the reduction ended before it could be stopped";
    worker.end(true);
    EXPECT_TRUE(worker.finished.load());
    EXPECT_FALSE(worker.result);
    EXPECT_LT(job.mesh.reducibleCount(), initial);
    EXPECT_GT(job.mesh.reducibleCount(), 1);
}

TEST_F(CancellationTest, ProgressShowsPercentAndCount) {
    host::Document doc;
    GridOptions o;
    o.columns = 220;
    o.rows = 200;
    o.uvw = false;
    host::PolygonObject* obj = makeGrid(doc, o);
    Job job(obj);
    ASSERT_TRUE(job.decimator.initialise(&job.mesh, nullptr));
    const int32_t initial = job.mesh.reducibleCount();
    host::StatusBar& bar = host::StatusBar::main();
    bar.setRecording(true);
    const size_t before = bar.recorded().size();
    EXPECT_TRUE(job.decimator.decimateToCount(initial / 2, true, nullptr));
    std::vector<std::string> lines(bar.recorded().begin() + before, bar.recorded().end());
    bar.setRecording(false);
    const std::regex shown(R"(\[[#.]{20}\] (\d+)% (\d+))");
    int updates = 0;
    long lastCount = initial + 1;
    for (const std::string& l : lines) {
        std::smatch m;
        if (!std::regex_match(l, m, shown)) continue;
        ++updates;
        const int percent = std::stoi(m[1]);
        const long count = std::stol(m[2]);
        // The bar is set before the text: the line in between still shows the old count.
        if (count == lastCount) continue;
        EXPECT_LT(count, lastCount);
        EXPECT_GE(count, initial / 2);
        // The percentage is the share of the way done, truncated.
        EXPECT_EQ(percent, static_cast<int>(static_cast<double>(initial - count) / (initial - initial / 2) * 100.0));
        lastCount = count;
    }
    EXPECT_GT(updates, 0);
    EXPECT_EQ(bar.line(), "");  // cleared at the end
}

}  // namespace
}  // namespace mixtest
