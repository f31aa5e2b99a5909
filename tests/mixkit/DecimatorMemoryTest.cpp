// The decimator when the host refuses memory: initialise fails with the object untouched, and a
// loop stops before the contraction it cannot make whole, leaving a consistent object.
#include <vector>

#include "mixkit/CandidatePool.h"
#include "mixkit/Decimator.h"
#include "tests/mixkit/Invariants.h"
#include "tests/mixkit/MixkitFixture.h"
#include "tests/support/CommandSettings.h"
#include "tests/support/OneWorker.h"

namespace mixtest {
namespace {

using DecimatorMemoryTest = MixkitTest;

GridOptions grid() {
    const GridOptions o = GridOptions::withAllTags(9, 7, 4);
    return o;
}

TEST_F(DecimatorMemoryTest, InitialiseFailsCleanlyAtEveryAllocation) {
    const testsupport::OneWorker oneWorker;
    host::Document doc;
    host::PolygonObject* obj = makeGrid(doc, grid());
    host::PolygonObject before;
    before.copyStateFrom(*obj);
    ModuleSet points(WholeSets(*obj).points), polygons(WholeSets(*obj).polygons);
    int failures = 0;
    for (uint64_t n = 1; n < 2000; ++n) {
        ReductionMesh mesh;
        ASSERT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
        const size_t live = host::memory::liveBlocks();
        bool ok = false;
        {
            Decimator d;
            d.settings.valencePenalty = 10.0;
            console();
            host::memory::failAfter(n);
            ok = d.initialise(&mesh, nullptr);
            host::memory::resetFailures();
            if (!ok) {
                ++failures;
                EXPECT_FALSE(memoryFaults().empty()) << "allocation " << n << " failed silently";
                EXPECT_EQ(differences(*obj, before), "");
            }
        }
        EXPECT_LE(host::memory::liveBlocks(), live);
        if (ok) break;
    }
    // Quadrics, the two list blocks, the heap and the candidate pool's blocks: every one was
    // refused once before initialise got through.
    EXPECT_GT(failures, 10);
}

// The allocations a whole reduction of the grid makes after initialise.
uint64_t loopAllocations() {
    host::Document doc;
    host::PolygonObject* obj = makeGrid(doc, grid());
    ModuleSet points(WholeSets(*obj).points), polygons(WholeSets(*obj).polygons);
    ReductionMesh mesh;
    Decimator d;
    testsupport::commandSettings(d);
    if (!mesh.build(view(obj), points.view(), polygons.view()) || !d.initialise(&mesh, nullptr)) return 0;
    const uint64_t calls = host::memory::allocationCount();
    d.decimateToCount(3, false, nullptr);
    return host::memory::allocationCount() - calls;
}

TEST_F(DecimatorMemoryTest, LoopStopsWholeWhenMemoryRunsOut) {
    const testsupport::OneWorker oneWorker;
    const uint64_t total = loopAllocations();
    ASSERT_GT(total, 8u);
    for (uint64_t n : {uint64_t{1}, uint64_t{2}, uint64_t{5}, total / 2, total}) {
        host::Document doc;
        host::PolygonObject* obj = makeGrid(doc, grid());
        ModuleSet points(WholeSets(*obj).points), polygons(WholeSets(*obj).polygons);
        ReductionMesh mesh;
        ASSERT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
        Shadow shadow(*obj, mesh);
        Decimator d;
        testsupport::commandSettings(d);
        ASSERT_TRUE(d.initialise(&mesh, nullptr));
        const int32_t initial = mesh.reducibleCount();
        console();
        const uint64_t calls = host::memory::allocationCount();
        host::memory::failAfter(n, true);
        const bool ok = d.decimateToCount(3, false, nullptr);
        host::memory::resetFailures();
        ASSERT_LE(n, host::memory::allocationCount() - calls) << "the reduction ended before allocation " << n;
        EXPECT_FALSE(ok) << n;
        EXPECT_FALSE(memoryFaults().empty());
        EXPECT_LT(mesh.reducibleCount(), initial + 1);
        for (int i = 0; i < obj->pointCount(); ++i) shadow.removed[i] = mesh.isReducible(i) == 0;
        // The point sets and maps are not compared here: the shadow did not follow the blends.
        shadow.pointSetBytes.clear();
        shadow.floatMaps.clear();
        EXPECT_EQ(checkMesh(*obj, mesh, shadow), "") << "after failing from allocation " << n;
        EXPECT_EQ(checkDecimator(d), "");
        EXPECT_EQ(checkIslands(*obj, 0.5f), "");
    }
}

// The lists hold candidate numbers: each number leads back to its own candidate across the
// pool's blocks, and a block the host refuses leaves every candidate made before it in place.
TEST_F(DecimatorMemoryTest, CandidateNumbersLeadBackAcrossBlocksAndSurviveARefusedBlock) {
    CandidatePool pool;
    std::vector<EdgeCandidate*> made;
    const int32_t count = 3 * 4096 + 5;  // into a fourth block
    for (int32_t i = 0; i < count; ++i) {
        EdgeCandidate* c = pool.make();
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(pool.made(), i + 1);
        c->v1 = i;
        c->v2 = -i;
        made.push_back(c);
    }
    EXPECT_EQ(pool.made(), count);
    for (int32_t i = 0; i < count; ++i) {
        ASSERT_EQ(pool.at(i), made[i]) << i;
        ASSERT_EQ(pool.at(i)->v1, i);
        ASSERT_EQ(pool.at(i)->v2, -i);
    }
    // Fill the fourth block, then have the fifth refused.
    while (pool.made() % 4096 != 0) ASSERT_NE(pool.make(), nullptr);
    const int32_t before = pool.made();
    console();
    host::memory::failMatching("QSlim", 0);
    EXPECT_EQ(pool.make(), nullptr);
    host::memory::resetFailures();
    EXPECT_EQ(memoryFaults(), std::vector<std::string>{"NO MEMORY: QSlim 64"});
    EXPECT_EQ(pool.made(), before);
    for (int32_t i = 0; i < count; ++i) ASSERT_EQ(pool.at(i)->v1, i);
    // The next block is had again, and numbering goes on where it stopped.
    EdgeCandidate* next = pool.make();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(pool.made(), before + 1);
    EXPECT_EQ(pool.at(before), next);
}

// Room reserved at once is one allocation of several blocks: the numbers still lead back across
// them and on into a block made later; a refused reservation changes nothing.
TEST_F(DecimatorMemoryTest, ReservedCandidatesLeadBackAndARefusedReservationChangesNothing) {
    CandidatePool pool;
    console();
    host::memory::failMatching("QSlim", 0);
    EXPECT_FALSE(pool.reserve(10000));
    host::memory::resetFailures();
    EXPECT_EQ(memoryFaults(), std::vector<std::string>{"NO MEMORY: QSlim 64"});
    EXPECT_EQ(pool.made(), 0);
    ASSERT_TRUE(pool.reserve(2 * 4096 + 1));  // three blocks in one allocation
    std::vector<EdgeCandidate*> made;
    for (int32_t i = 0; i < 4 * 4096 + 3; ++i) {  // through them and into a fourth
        EdgeCandidate* c = pool.make();
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(pool.made(), i + 1);
        c->v1 = i;
        made.push_back(c);
    }
    for (int32_t i = 0; i < pool.made(); ++i) {
        ASSERT_EQ(pool.at(i), made[i]) << i;
        ASSERT_EQ(pool.at(i)->v1, i);
    }
    // The three reserved blocks lie side by side.
    EXPECT_EQ(made[2 * 4096] - made[0], 2 * 4096);
}

TEST_F(DecimatorMemoryTest, CandidatePoolFailureIsReported) {
    host::Document doc;
    host::PolygonObject* obj = makeGrid(doc, grid());
    ModuleSet points(WholeSets(*obj).points), polygons(WholeSets(*obj).polygons);
    ReductionMesh mesh;
    ASSERT_TRUE(mesh.build(view(obj), points.view(), polygons.view()));
    Decimator d;
    console();
    host::memory::failMatching("QSlim", 0);
    EXPECT_FALSE(d.initialise(&mesh, nullptr));
    host::memory::resetFailures();
    EXPECT_EQ(memoryFaults(), std::vector<std::string>{"NO MEMORY: QSlim 64"});
}

}  // namespace
}  // namespace mixtest
