// Stopping a reduction through its control, and the progress it is told. (The host's side of the
// control, its thread's break test and status bar, is tested with the reduction plug-in.)
#include <atomic>
#include <chrono>
#include <thread>

#include "mixkit/Decimator.h"
#include "tests/mixkit/Invariants.h"
#include "tests/mixkit/MixkitFixture.h"
#include "tests/mixkit/TestControl.h"
#include "tests/support/CommandSettings.h"

namespace mixtest {
namespace {

using CancellationTest = MixkitTest;

struct GridJob {
    ModuleSet points, polygons;
    ReductionMesh mesh;
    Decimator decimator;
    explicit GridJob(host::PolygonObject* obj) : points(WholeSets(*obj).points), polygons(WholeSets(*obj).polygons) {
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
constexpr int kSmallGridPolls = 6;

TEST_F(CancellationTest, BreakDuringInitialiseLeavesTheObjectUntouched) {
    for (int k = 0; k < kSmallGridPolls; ++k) {
        host::Document doc;
        host::PolygonObject* obj = makeGrid(doc, small());
        host::PolygonObject before;
        before.copyStateFrom(*obj);
        GridJob job(obj);
        TestControl stop(k);
        EXPECT_FALSE(job.decimator.initialise(&job.mesh, &stop)) << "break after " << k;
        EXPECT_EQ(stop.questions, k + 1);
        EXPECT_EQ(differences(*obj, before), "");
    }
    host::Document doc;
    host::PolygonObject* obj = makeGrid(doc, small());
    GridJob job(obj);
    TestControl never(kSmallGridPolls);
    EXPECT_TRUE(job.decimator.initialise(&job.mesh, &never));
    EXPECT_EQ(never.questions, kSmallGridPolls);
}

TEST_F(CancellationTest, BuildPassesPollEveryThousandItems) {
    host::Document doc;
    GridOptions o;
    o.columns = 50;
    o.rows = 45;  // 2250 polygons, 2346 points
    o.uvw = false;
    host::PolygonObject* obj = makeGrid(doc, o);
    GridJob job(obj);
    TestControl never;
    ASSERT_TRUE(job.decimator.initialise(&job.mesh, &never));
    // Quadrics: 0, 1000, 2000 and after; seams and candidates: 0, 1000, 2000 and after each.
    EXPECT_EQ(never.questions, 3 + 1 + 3 + 1 + 3 + 1);
    // Each poll within a pass also shows that the work goes on; the questions after a pass do not.
    EXPECT_EQ(never.busyCalls, 3 + 3 + 3);
    EXPECT_TRUE(never.progress.empty());
}

TEST_F(CancellationTest, BreakDuringTheLoopStopsAtTheNextPoll) {
    host::Document doc;
    GridOptions o;
    o.columns = 40;
    o.rows = 30;
    o.uvw = false;
    host::PolygonObject* obj = makeGrid(doc, o);
    GridJob job(obj);
    Shadow shadow(*obj, job.mesh);
    // 20 ms a reading: the loop's start reads 20, its first steps 40 and 60 (within the 50 ms),
    // the third 80 and polls.
    TestControl stopper(INT_MAX, 20);
    ASSERT_TRUE(job.decimator.initialise(&job.mesh, &stopper));
    const int afterInitialise = stopper.questions;
    stopper.answerYesFromNow();
    const int32_t initial = job.mesh.reducibleCount();
    EXPECT_FALSE(job.decimator.decimateToCount(1, true, &stopper));
    // Asked once in the loop, and it stopped there, after two steps.
    EXPECT_EQ(stopper.questions, afterInitialise + 1);
    EXPECT_LE(job.mesh.reducibleCount(), initial - 1);
    EXPECT_GE(job.mesh.reducibleCount(), initial - 2);
    ASSERT_EQ(stopper.progress.size(), 1u);
    EXPECT_EQ(stopper.progress[0].count, job.mesh.reducibleCount());
    // What was done stays done, consistently.
    for (int i = 0; i < obj->pointCount(); ++i) shadow.removed[i] = job.mesh.isReducible(i) == 0;
    EXPECT_EQ(checkMesh(*obj, job.mesh, shadow), "");
    EXPECT_EQ(checkDecimator(job.decimator), "");
    // The progress was cleared at the end.
    EXPECT_EQ(stopper.finishedCalls, 1);
}

TEST_F(CancellationTest, StopFromAnotherThreadEndsTheReduction) {
    host::Document doc;
    GridOptions o;
    o.columns = 220;
    o.rows = 200;
    o.uvw = false;
    host::PolygonObject* obj = makeGrid(doc, o);
    GridJob job(obj);
    ASSERT_TRUE(job.decimator.initialise(&job.mesh, nullptr));
    const int32_t initial = job.mesh.reducibleCount();
    TestControl control(INT_MAX, 51);  // polls at every step
    std::atomic<bool> started{false}, finished{false};
    bool result = true;
    std::thread worker([&] {
        started = true;
        result = job.decimator.decimateToCount(1, true, &control);
        finished = true;
    });
    while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    const bool endedEarly = finished.load();
    control.stop = true;
    worker.join();
    ASSERT_FALSE(endedEarly) << "the reduction ended before it could be stopped";
    EXPECT_FALSE(result);
    EXPECT_LT(job.mesh.reducibleCount(), initial);
    EXPECT_GT(job.mesh.reducibleCount(), 1);
}

TEST_F(CancellationTest, ProgressTellsCountAndPercentOfTheWay) {
    GridOptions o;
    o.columns = 40;
    o.rows = 30;
    o.uvw = false;
    for (const bool showPercent : {true, false}) {
        host::Document doc;
        host::PolygonObject* obj = makeGrid(doc, o);
        GridJob job(obj);
        ASSERT_TRUE(job.decimator.initialise(&job.mesh, nullptr));
        const int32_t initial = job.mesh.reducibleCount();
        const int32_t target = initial / 2;
        TestControl control(INT_MAX, 51);  // told at every step
        EXPECT_TRUE(job.decimator.decimateToCount(target, showPercent, &control));
        EXPECT_EQ(control.finishedCalls, 1);
        if (!showPercent) {
            // Without a percentage the loop only shows that it works.
            EXPECT_TRUE(control.progress.empty());
            EXPECT_GT(control.busyCalls, 0);
            continue;
        }
        ASSERT_FALSE(control.progress.empty());
        int32_t last = initial + 1;
        for (const TestControl::Progress& p : control.progress) {
            EXPECT_LE(p.count, last);
            EXPECT_GE(p.count, target);
            // The share of the way done, truncated.
            EXPECT_EQ(p.percent, static_cast<int>(static_cast<double>(initial - p.count) / (initial - target) * 100.0));
            last = p.count;
        }
        EXPECT_EQ(control.progress.front().count, initial);
    }
}

TEST_F(CancellationTest, AnErrorLimitedLoopTellsTheCountAlone) {
    host::Document doc;
    host::PolygonObject* obj = makeGrid(doc, small());
    GridJob job(obj);
    ASSERT_TRUE(job.decimator.initialise(&job.mesh, nullptr));
    TestControl control(INT_MAX, 51);
    EXPECT_TRUE(job.decimator.decimateToError(0.0, &control));
    ASSERT_FALSE(control.progress.empty());
    for (const TestControl::Progress& p : control.progress) EXPECT_EQ(p.percent, -1);
}

}  // namespace
}  // namespace mixtest
