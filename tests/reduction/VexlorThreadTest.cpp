// The worker thread: what it collects, when the target is a share, the figures it reports, both
// passes run on the host's worker thread with their end event, the undo step of the direct pass and
// its take-back on a stop, and a prepare pass that fails part of the way.
#include <atomic>

#include "host/Memory.h"
#include "reduction/VexlorThread.h"
#include "tests/reduction/ReductionTestSupport.h"

using namespace redtest;

namespace {

class VexlorThreadTest : public ReductionTest {};

// Stops the pass once the first item has made `after` contractions, from the host's break test.
class StoppingThread : public VexlorThread {
public:
    explicit StoppingThread(int32_t after) : after_(after) {}
    ~StoppingThread() override { stop(); }
    int32_t testBreak() override {
        if (items.count == 0) return 0;
        const ReductionItem* first = items.items[0];
        if (first->mesh.reducibleCount() > first->startCount - after_) return 0;
        stoppedMidway = true;
        return 1;
    }
    std::atomic<bool> stoppedMidway{false};

private:
    int32_t after_;
};

TEST_F(VexlorThreadTest, CollectsTheSelectedObjectsAndWithTheHierarchyEveryPolygonObjectBelow) {
    host::PolygonObject* parent = makeGrid(doc, {.columns = 3, .rows = 3}, "parent");
    makeGrid(doc, {.columns = 2, .rows = 2}, "first", parent);
    host::PolygonObject* second = makeGrid(doc, {.columns = 4, .rows = 1}, "second", parent);
    makeGrid(doc, {.columns = 1, .rows = 1}, "grandchild", second);
    makeGrid(doc, {.columns = 5, .rows = 5}, "unselected");
    doc.setActive(parent);

    VexlorThread thread;
    thread.collect();
    ASSERT_EQ(thread.items.count, 1);
    EXPECT_EQ(thread.items.items[0]->object.handle(), host::toHandle(parent));
    EXPECT_FALSE(thread.ratioMode());
    EXPECT_EQ(thread.startCount(), 16);

    thread.clear();
    thread.settings.wholeHierarchy = 1;
    thread.collect();
    ASSERT_EQ(thread.items.count, 4);
    const char* names[] = {"parent", "first", "second", "grandchild"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(thread.items.items[i]->object.name().chars(), std::string(names[i])) << i;
    EXPECT_TRUE(thread.ratioMode()) << "several objects share one target";

    // A selected child is reached through its parent only once.
    doc.setActive(second);
    thread.clear();
    thread.collect();
    EXPECT_EQ(thread.items.count, 4);
    thread.settings.wholeHierarchy = 0;
    EXPECT_TRUE(thread.ratioMode()) << "two selected objects";
    thread.clear();
    EXPECT_EQ(thread.items.count, 0);
    EXPECT_EQ(thread.document, nullptr);
}

TEST_F(VexlorThreadTest, WithoutADocumentThereIsNothingToCollectAndAPassOnlyReportsItsEnd) {
    host::setActiveDocument(nullptr);
    VexlorThread thread;
    EXPECT_TRUE(thread.ratioMode());
    thread.collect();
    EXPECT_EQ(thread.items.count, 0);
    EXPECT_EQ(thread.startCount(), 0);
    EXPECT_EQ(thread.currentCount(), 0);
    EXPECT_EQ(thread.averagePercentage(), 100.0);
    EXPECT_EQ(thread.averageError(), 0.0);
    ASSERT_TRUE(thread.startDirect());
    EXPECT_TRUE(waitForEnd());
    EXPECT_EQ(lastEnd.value1, REDUCTION_END_NOTHING);
    EXPECT_EQ(lastEnd.value2, 0);
    EXPECT_EQ(thread.settings.requestedPass, PASS_NONE);
    EXPECT_EQ(thread.settings.completedPass, PASS_NONE);
}

TEST_F(VexlorThreadTest, ADirectPassReducesFinishesAndLeavesOneUndoStep) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 12, .rows = 12});
    doc.setActive(obj);
    const std::unique_ptr<host::Object> before = snapshot(*obj);
    VexlorThread thread;
    thread.collect();
    thread.settings.targetMode = TARGET_COUNT;
    thread.settings.targetCount = 50;
    ASSERT_TRUE(thread.startDirect());
    EXPECT_EQ(thread.settings.requestedPass, PASS_DIRECT);
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(lastEnd.value1, REDUCTION_END_DONE);
    EXPECT_EQ(lastEnd.value2, 1);
    EXPECT_EQ(thread.broken, 0);
    EXPECT_EQ(thread.settings.completedPass, PASS_DIRECT);
    EXPECT_EQ(thread.settings.requestedPass, PASS_NONE);
    EXPECT_EQ(obj->pointCount(), 50);
    EXPECT_EQ(meshFlaw(*obj), "");
    ASSERT_EQ(doc.undoDepth(), 1);
    ASSERT_TRUE(doc.undoLast());
    EXPECT_TRUE(obj->sameStateAs(*before));
}

TEST_F(VexlorThreadTest, ADirectPassByRatioGivesEveryObjectItsOwnShare) {
    // 40 x 25 = 1000 and 20 x 10 = 200 points.
    host::PolygonObject* big = makeGrid(doc, {.columns = 39, .rows = 24}, "big");
    host::PolygonObject* small = makeGrid(doc, {.columns = 19, .rows = 9, .x0 = 100.0f}, "small");
    doc.setActive(big);
    doc.setActive(small);
    VexlorThread thread;
    thread.collect();
    ASSERT_TRUE(thread.ratioMode());
    thread.settings.targetMode = TARGET_RATIO;
    thread.settings.targetRatio = 0.5f;
    thread.settings.targetCount = 1000;  // not the base of the ratio
    ASSERT_TRUE(thread.startDirect());
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(big->pointCount(), 500);
    EXPECT_EQ(small->pointCount(), 100);
}

TEST_F(VexlorThreadTest, APreviewFollowsTheRatioOfEachObjectAndReportsTheMeans) {
    host::PolygonObject* big = makeGrid(doc, {.columns = 39, .rows = 24}, "big");
    host::PolygonObject* small = makeGrid(doc, {.columns = 19, .rows = 9, .x0 = 100.0f}, "small");
    doc.setActive(big);
    doc.setActive(small);
    VexlorThread thread;
    thread.collect();
    ASSERT_TRUE(thread.startPrepare());
    ASSERT_TRUE(waitForEnd());
    ASSERT_EQ(thread.settings.completedPass, PASS_PREPARE);
    thread.settings.targetMode = TARGET_RATIO;
    thread.settings.targetRatio = 0.5f;
    thread.seekAll();
    EXPECT_EQ(thread.items.items[0]->currentCount(), 500);
    EXPECT_EQ(thread.items.items[1]->currentCount(), 100);
    EXPECT_EQ(thread.currentCount(), 500);
    EXPECT_EQ(thread.averagePercentage(), 50.0);
    thread.items.items[0]->seekToCount(250, false);
    thread.items.items[1]->seekToCount(200, false);
    EXPECT_EQ(thread.averagePercentage(), (25.0 + 100.0) / 2);
    EXPECT_DOUBLE_EQ(thread.averageError(), (thread.items.items[0]->currentError() + 0.0) / 2);

    // Commit: one undo step holding both objects as they were before the preview.
    thread.settings.targetRatio = 0.25f;
    thread.commit();
    EXPECT_EQ(big->pointCount(), 250);
    EXPECT_EQ(small->pointCount(), 50);
    EXPECT_EQ(meshFlaw(*big), "");
    ASSERT_EQ(doc.undoDepth(), 1);
    ASSERT_TRUE(doc.undoLast());
    EXPECT_EQ(big->pointCount(), 1000);
    EXPECT_EQ(small->pointCount(), 200);
}

TEST_F(VexlorThreadTest, TheUndoStepOfACommitHoldsTheObjectWithItsSmoothingTag) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 10, .rows = 10, .normals = true});
    auto smoothing = std::make_unique<host::SmoothingTag>("smooth");
    smoothing->data.setReal(host::SMOOTHING_ANGLE, 0.5);
    obj->addTag(std::move(smoothing));
    doc.setActive(obj);
    const std::unique_ptr<host::Object> before = snapshot(*obj);
    VexlorThread thread;
    thread.collect();
    ASSERT_TRUE(thread.startPrepare());
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(obj->tag(host::TAG_SMOOTHING), nullptr);
    thread.settings.targetMode = TARGET_COUNT;
    thread.settings.targetCount = 30;
    thread.seekAll();
    thread.commit();
    EXPECT_EQ(obj->pointCount(), 30);
    EXPECT_NE(obj->tag(host::TAG_SMOOTHING), nullptr);
    ASSERT_TRUE(doc.undoLast());
    EXPECT_TRUE(obj->sameStateAs(*before));
}

TEST_F(VexlorThreadTest, TheAveragePercentageOfOneItemAt250Of1000Is25) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 39, .rows = 24});
    doc.setActive(obj);
    VexlorThread thread;
    thread.collect();
    EXPECT_EQ(thread.averagePercentage(), 100.0);
    ASSERT_TRUE(thread.startPrepare());
    ASSERT_TRUE(waitForEnd());
    thread.items.items[0]->seekToCount(250, false);
    EXPECT_EQ(thread.averagePercentage(), 25.0);
    thread.revertAll();
}

TEST_F(VexlorThreadTest, ADirectPassStoppedHalfWayLeavesEveryObjectAsItWas) {
    host::PolygonObject* first = makeGrid(doc, {.columns = 140, .rows = 140, .normals = true}, "first");
    host::PolygonObject* second = makeGrid(doc, {.columns = 10, .rows = 10, .x0 = 200.0f}, "second");
    doc.setActive(first);
    doc.setActive(second);
    const std::unique_ptr<host::Object> firstBefore = snapshot(*first);
    const std::unique_ptr<host::Object> secondBefore = snapshot(*second);
    StoppingThread thread(300);
    thread.collect();
    thread.settings.targetMode = TARGET_RATIO;
    thread.settings.targetRatio = 0.05f;
    ASSERT_TRUE(thread.startDirect());
    ASSERT_TRUE(waitForEnd());
    EXPECT_TRUE(thread.stoppedMidway) << "the stop came after some contractions";
    EXPECT_EQ(lastEnd.value1, REDUCTION_END_STOPPED);
    EXPECT_EQ(lastEnd.value2, 2);
    EXPECT_EQ(thread.broken, 1);
    EXPECT_EQ(thread.undoOpen, 0);
    EXPECT_EQ(thread.settings.completedPass, PASS_NONE);
    EXPECT_EQ(doc.undoDepth(), 0);
    EXPECT_TRUE(first->sameStateAs(*firstBefore));
    EXPECT_TRUE(second->sameStateAs(*secondBefore));
}

TEST_F(VexlorThreadTest, APreparePassThatFailsAtItsSecondItemPutsTheFirstBackAndStillEnds) {
    host::PolygonObject* a = makeGrid(doc, {.columns = 8, .rows = 8}, "a");
    host::PolygonObject* b = makeGrid(doc, {.columns = 8, .rows = 8, .x0 = 20.0f}, "b");
    host::PolygonObject* c = makeGrid(doc, {.columns = 8, .rows = 8, .x0 = 40.0f}, "c");
    for (host::PolygonObject* o : {a, b, c}) doc.setActive(o);
    const std::unique_ptr<host::Object> aBefore = snapshot(*a);
    const std::unique_ptr<host::Object> cBefore = snapshot(*c);
    VexlorThread thread;
    thread.collect();
    ASSERT_EQ(thread.items.count, 3);
    // The second item has lost its object.
    const HostPolygonObject kept = thread.items.items[1]->object;
    thread.items.items[1]->object = HostPolygonObject();
    ASSERT_TRUE(thread.startPrepare());
    ASSERT_TRUE(waitForEnd());
    thread.items.items[1]->object = kept;
    EXPECT_EQ(lastEnd.value1, REDUCTION_END_FAILED);
    EXPECT_EQ(lastEnd.value2, 3);
    EXPECT_EQ(thread.broken, 1);
    EXPECT_EQ(thread.settings.completedPass, PASS_NONE);
    EXPECT_EQ(thread.settings.requestedPass, PASS_NONE);
    EXPECT_TRUE(a->sameStateAs(*aBefore));
    EXPECT_TRUE(c->sameStateAs(*cBefore)) << "the third item was not reached";
}

TEST_F(VexlorThreadTest, ItemsThatCannotBeMadeAreLeftOut) {
    host::PolygonObject* a = makeGrid(doc, {.columns = 4, .rows = 4}, "a");
    auto camera = std::make_unique<host::Object>(host::OBJECT_CAMERA, "camera");
    host::Object* cam = doc.insert(std::move(camera));
    doc.setActive(cam);
    doc.setActive(a);
    VexlorThread thread;
    thread.collect();
    EXPECT_EQ(thread.items.count, 1);
    thread.clear();
    // Out of memory for the items: none is made, nothing is left over.
    host::memory::failMatching(ReductionItem::sourceTag, 0);
    thread.collect();
    host::memory::resetFailures();
    EXPECT_EQ(thread.items.count, 0);
    EXPECT_FALSE(memoryFaults().empty());
}

}  // namespace
