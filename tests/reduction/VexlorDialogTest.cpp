// The reduction dialog worked through the host's headless dialogs as a person would: the target
// field by the number of objects, the slider and the error field, the settings gadgets, the buttons'
// captions and states through a pass and a preview, commit and stop by the start button, and closing
// during a preview.
#include <string>

#include "host/Dialogs.h"
#include "host/Resources.h"
#include "reduction/VexlorDialog.h"
#include "tests/reduction/ReductionTestSupport.h"

using namespace redtest;

namespace {

class VexlorDialogTest : public ReductionTest {
protected:
    host::DialogHost& dialogs() { return host::DialogHost::main(); }
    void open(VexlorDialog& dlg) { ASSERT_NE(dlg.open(VEXLOR_ID), 0); }
    const host::Gadget& gadget(VexlorDialog& dlg, int32_t id) {
        const host::Gadget* g = dialogs().gadget(&dlg, id);
        EXPECT_NE(g, nullptr) << id;
        static const host::Gadget none;
        return g ? *g : none;
    }
    std::string caption(VexlorDialog& dlg, int32_t id) { return gadget(dlg, id).label; }
    std::string text(int32_t id) { return dialogs().resources()->string(id); }
    bool usable(VexlorDialog& dlg, int32_t id) { return dialogs().usable(&dlg, id); }
    // Drags sideways on a slider row by `pixels`, pressed in the middle of its frame.
    void dragRow(VexlorDialog& dlg, int32_t row, double pixels) {
        const int32_t y = dlg.slider.rowTop(row) + dlg.slider.frameHeight() / 2;
        const host::AreaDragResult r =
            dialogs().dragUserArea(&dlg, IDC_VEXLOR_REGLER, ReglerArea::CHANNEL_LEFT, 20.0, y, {{pixels, 0.0}});
        EXPECT_TRUE(r.delivered);
    }
    // The buttons in one of the thread's states: idle, running, preview.
    void expectIdle(VexlorDialog& dlg) {
        EXPECT_EQ(caption(dlg, IDC_VEXLOR_PREPARE), text(STR_VEXLOR_PREPARE));
        EXPECT_TRUE(usable(dlg, IDC_VEXLOR_PREPARE));
        EXPECT_EQ(caption(dlg, IDC_VEXLOR_START), text(STR_VEXLOR_START));
        EXPECT_TRUE(usable(dlg, IDC_VEXLOR_START));
        EXPECT_TRUE(usable(dlg, IDC_VEXLOR_TARGET));
        EXPECT_FALSE(usable(dlg, IDC_VEXLOR_FINISH_LEVEL));
    }
    void expectRunning(VexlorDialog& dlg) {
        EXPECT_EQ(caption(dlg, IDC_VEXLOR_START), text(STR_VEXLOR_STOP));
        EXPECT_TRUE(usable(dlg, IDC_VEXLOR_START));
        EXPECT_FALSE(gadget(dlg, IDC_VEXLOR_SETTINGS).enabled);
        for (int32_t id : {IDC_VEXLOR_HIERARCHY, IDC_VEXLOR_PREPARE, IDC_VEXLOR_TARGET, IDC_VEXLOR_REGLER,
                           IDC_VEXLOR_ERROR, IDC_VEXLOR_CHECKS, IDC_VEXLOR_VALENCE, IDC_VEXLOR_FINISH_LEVEL})
            EXPECT_FALSE(usable(dlg, id)) << id;
    }
    void expectPreview(VexlorDialog& dlg) {
        EXPECT_EQ(caption(dlg, IDC_VEXLOR_PREPARE), text(STR_VEXLOR_PREPARED));
        EXPECT_FALSE(usable(dlg, IDC_VEXLOR_PREPARE));
        EXPECT_EQ(caption(dlg, IDC_VEXLOR_START), text(STR_VEXLOR_START));
        EXPECT_TRUE(usable(dlg, IDC_VEXLOR_START));
        EXPECT_TRUE(usable(dlg, IDC_VEXLOR_TARGET));
        EXPECT_TRUE(usable(dlg, IDC_VEXLOR_FINISH_LEVEL));
    }
};

TEST_F(VexlorDialogTest, OneObjectShowsAPointCountAndTheDefaults) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 10, .rows = 10});
    doc.setActive(obj);
    VexlorDialog dlg;
    open(dlg);
    const host::Gadget& target = gadget(dlg, IDC_VEXLOR_TARGET);
    EXPECT_TRUE(target.integer);
    EXPECT_FALSE(target.isPercent());
    EXPECT_EQ(target.number, 121);
    EXPECT_EQ(target.min, 1);
    EXPECT_EQ(target.max, 121);
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_WEIGHTING).number, IDC_VEXLOR_WEIGHT_AREA);
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_BOUNDARY_WEIGHT).number, 1000.0);
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_COMPACTNESS).number, 100.0);
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_FLIP).number, 100.0);
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_VALENCE).number, 10.0);
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_VALENCE).max, 2147483647.0);
    EXPECT_TRUE(gadget(dlg, IDC_VEXLOR_CHECKS).flag);
    EXPECT_FALSE(gadget(dlg, IDC_VEXLOR_HIERARCHY).flag);
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_ERROR).number, 0.0);
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_ERROR).max, 9.0e18);
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_INFO).text, text(STR_VEXLOR_INFO));
    EXPECT_EQ(dlg.thread.settings.targetMode, TARGET_ERROR);
    EXPECT_EQ(dlg.thread.settings.targetCount, 121);
    expectIdle(dlg);

    // A count typed in is the target; above the count it is held at the count.
    EXPECT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_TARGET, "40"));
    EXPECT_EQ(dlg.thread.settings.targetMode, TARGET_COUNT);
    EXPECT_EQ(dlg.thread.settings.targetCount, 40);
    EXPECT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_TARGET, "500"));
    EXPECT_EQ(dlg.thread.settings.targetCount, 121);
    EXPECT_TRUE(dialogs().close(&dlg));
}

TEST_F(VexlorDialogTest, TwoObjectsShowAPercentage) {
    host::PolygonObject* a = makeGrid(doc, {.columns = 10, .rows = 10}, "a");
    host::PolygonObject* b = makeGrid(doc, {.columns = 4, .rows = 4, .x0 = 30.0f}, "b");
    doc.setActive(a);
    doc.setActive(b);
    VexlorDialog dlg;
    open(dlg);
    const host::Gadget& target = gadget(dlg, IDC_VEXLOR_TARGET);
    EXPECT_TRUE(target.isPercent());
    EXPECT_EQ(target.number, 1.0);
    EXPECT_EQ(target.valueText(), "100 %");
    EXPECT_EQ(target.max, 1.0);
    EXPECT_EQ(dlg.thread.items.count, 2);
    EXPECT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_TARGET, "30 %"));
    EXPECT_EQ(dlg.thread.settings.targetMode, TARGET_RATIO);
    EXPECT_FLOAT_EQ(dlg.thread.settings.targetRatio, 0.3f);
    // With the hierarchy, one object with a polygon object below it shares too.
    doc.clearActive();
    doc.remove(b);
    makeGrid(doc, {.columns = 2, .rows = 2, .x0 = 30.0f}, "child", a);
    doc.setActive(a);
    EXPECT_TRUE(dialogs().setByUser(&dlg, IDC_VEXLOR_HIERARCHY, false));
    EXPECT_FALSE(gadget(dlg, IDC_VEXLOR_TARGET).isPercent());
    EXPECT_TRUE(dialogs().setByUser(&dlg, IDC_VEXLOR_HIERARCHY, true));
    EXPECT_TRUE(gadget(dlg, IDC_VEXLOR_TARGET).isPercent());
    EXPECT_EQ(dlg.thread.items.count, 2);
    EXPECT_TRUE(dialogs().close(&dlg));
}

TEST_F(VexlorDialogTest, TheSliderSetsTheErrorLimitAndItsTextShowsSixDecimals) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 6, .rows = 6});
    doc.setActive(obj);
    VexlorDialog dlg;
    open(dlg);
    dragRow(dlg, 5, 3.0);
    EXPECT_EQ(dlg.thread.settings.errorLimit, 30000.0);
    EXPECT_EQ(dlg.thread.settings.targetMode, TARGET_ERROR);
    EXPECT_EQ(dlg.slider.text().chars(), std::string("30000.000000"));
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_ERROR).number, 30000.0);
    dragRow(dlg, 5, -4.0);  // never below 0
    EXPECT_EQ(dlg.thread.settings.errorLimit, 0.0);
    dragRow(dlg, 0, 3.0);
    EXPECT_NEAR(dlg.thread.settings.errorLimit, 0.000003, 1e-15);
    EXPECT_EQ(dlg.slider.text().chars(), std::string("0.000003"));
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_ERROR).number, 0.000003);
    dragRow(dlg, 1, 1.0);
    EXPECT_EQ(dlg.slider.text().chars(), std::string("0.000103"));
    // Typed into the error field, the slider follows.
    EXPECT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_ERROR, "12.5"));
    EXPECT_EQ(dlg.thread.settings.errorLimit, 12.5);
    EXPECT_EQ(dlg.slider.value(), 12.5);
    EXPECT_EQ(dlg.slider.text().chars(), std::string("12.500000"));
    // Without a preview the target field shows the object's points, the level it stands at.
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_TARGET).number, 49);
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_TARGET).min, -2147483647.0);
    EXPECT_TRUE(dialogs().close(&dlg));
}

TEST_F(VexlorDialogTest, TheSettingsGadgetsReachTheSettings) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 6, .rows = 6});
    doc.setActive(obj);
    VexlorDialog dlg;
    open(dlg);
    const struct {
        int32_t radio, policy;
    } weightings[] = {{IDC_VEXLOR_WEIGHT_ANGLE, 2}, {IDC_VEXLOR_WEIGHT_AVERAGE, 3},
                      {IDC_VEXLOR_WEIGHT_AREA_AVERAGE, 4}, {IDC_VEXLOR_WEIGHT_AREA, 1}};
    for (const auto& w : weightings) {
        EXPECT_TRUE(dialogs().choose(&dlg, IDC_VEXLOR_WEIGHTING, w.radio));
        EXPECT_EQ(dlg.thread.settings.weightingPolicy, w.policy);
    }
    EXPECT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_BOUNDARY_WEIGHT, "250"));
    EXPECT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_COMPACTNESS, "7.5"));
    EXPECT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_FLIP, "3"));
    EXPECT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_VALENCE, "4"));
    EXPECT_EQ(dlg.thread.settings.boundaryWeight, 250.0);
    EXPECT_EQ(dlg.thread.settings.compactnessPenalty, 7.5);
    EXPECT_EQ(dlg.thread.settings.flipPenalty, 3.0);
    EXPECT_EQ(dlg.thread.settings.valencePenalty, 4.0);
    EXPECT_FALSE(dialogs().enter(&dlg, IDC_VEXLOR_FLIP, "-1") && dlg.thread.settings.flipPenalty < 0);
    // The checks switch the penalty fields.
    EXPECT_TRUE(dialogs().setByUser(&dlg, IDC_VEXLOR_CHECKS, false));
    EXPECT_EQ(dlg.thread.settings.useChecks, 0);
    for (int32_t id : {IDC_VEXLOR_COMPACTNESS, IDC_VEXLOR_FLIP, IDC_VEXLOR_VALENCE}) EXPECT_FALSE(usable(dlg, id));
    EXPECT_TRUE(usable(dlg, IDC_VEXLOR_BOUNDARY_WEIGHT));
    EXPECT_TRUE(dialogs().setByUser(&dlg, IDC_VEXLOR_CHECKS, true));
    for (int32_t id : {IDC_VEXLOR_COMPACTNESS, IDC_VEXLOR_FLIP, IDC_VEXLOR_VALENCE}) EXPECT_TRUE(usable(dlg, id));
    // Each change collects the objects afresh and starts the target over.
    EXPECT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_TARGET, "20"));
    EXPECT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_FLIP, "5"));
    EXPECT_EQ(dlg.thread.settings.targetMode, TARGET_ERROR);
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_TARGET).number, 49);
    EXPECT_TRUE(dialogs().close(&dlg));
}

TEST_F(VexlorDialogTest, StartReducesDirectlyAndTheButtonsFollowThePass) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 12, .rows = 12});
    doc.setActive(obj);
    VexlorDialog dlg;
    open(dlg);
    ASSERT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_TARGET, "30"));
    ASSERT_TRUE(dialogs().press(&dlg, IDC_VEXLOR_START));
    expectRunning(dlg);
    EXPECT_FALSE(dialogs().enter(&dlg, IDC_VEXLOR_TARGET, "50")) << "refused while the pass runs";
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(obj->pointCount(), 30);
    EXPECT_EQ(doc.undoDepth(), 1);
    // The reduced object was collected again.
    expectIdle(dlg);
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_TARGET).max, 30);
    EXPECT_EQ(dlg.thread.settings.completedPass, PASS_NONE);
    EXPECT_EQ(dlg.thread.startCount(), 30);
    EXPECT_TRUE(dialogs().close(&dlg));
}

TEST_F(VexlorDialogTest, StartDuringAPassStopsItAndTheObjectStaysAsItWas) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 100, .rows = 100});
    doc.setActive(obj);
    const std::unique_ptr<host::Object> before = snapshot(*obj);
    VexlorDialog dlg;
    open(dlg);
    ASSERT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_TARGET, "10"));
    ASSERT_TRUE(dialogs().press(&dlg, IDC_VEXLOR_START));
    ASSERT_TRUE(dialogs().press(&dlg, IDC_VEXLOR_START));  // now the stop button
    ASSERT_TRUE(waitForEnd());
    EXPECT_TRUE(obj->sameStateAs(*before));
    EXPECT_EQ(doc.undoDepth(), 0);
    expectIdle(dlg);
    EXPECT_TRUE(dialogs().close(&dlg));
}

TEST_F(VexlorDialogTest, APreviewFollowsTheTargetAndStartCommitsIt) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 12, .rows = 12});
    doc.setActive(obj);
    VexlorDialog dlg;
    open(dlg);
    ASSERT_TRUE(dialogs().press(&dlg, IDC_VEXLOR_PREPARE));
    expectRunning(dlg);
    ASSERT_TRUE(waitForEnd());
    expectPreview(dlg);
    // The end event seeks to the dialog's target: error 0, where no contraction is free here.
    EXPECT_EQ(dlg.thread.currentCount(), 169);

    ASSERT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_TARGET, "60"));
    EXPECT_EQ(dlg.thread.currentCount(), 60);
    const double errorAt60 = dlg.thread.averageError();
    EXPECT_GT(errorAt60, 0.0);
    EXPECT_EQ(dlg.thread.settings.errorLimit, errorAt60) << "the error follows the count";
    // The slider moves the level; the target field follows it.
    dragRow(dlg, 0, 1.0);
    EXPECT_EQ(dlg.thread.settings.targetMode, TARGET_ERROR);
    EXPECT_EQ(gadget(dlg, IDC_VEXLOR_TARGET).number, dlg.thread.currentCount());
    EXPECT_GE(dlg.thread.averageError(), 0.0);
    ASSERT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_TARGET, "45"));
    EXPECT_EQ(dlg.thread.currentCount(), 45);

    // A look at the finished level, then on along the history.
    ASSERT_TRUE(dialogs().press(&dlg, IDC_VEXLOR_FINISH_LEVEL));
    EXPECT_EQ(obj->pointCount(), 45);
    EXPECT_EQ(meshFlaw(*obj), "");
    ASSERT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_TARGET, "40"));
    EXPECT_EQ(obj->pointCount(), 169) << "the unfinished level is back, its removed points unused";

    ASSERT_TRUE(dialogs().press(&dlg, IDC_VEXLOR_START));
    EXPECT_EQ(obj->pointCount(), 40);
    EXPECT_EQ(meshFlaw(*obj), "");
    EXPECT_EQ(doc.undoDepth(), 1);
    expectIdle(dlg);
    EXPECT_EQ(dlg.thread.startCount(), 40);
    EXPECT_TRUE(dialogs().close(&dlg));
}

TEST_F(VexlorDialogTest, ClosingDuringAPreviewPutsEveryObjectBack) {
    host::PolygonObject* a = makeGrid(doc, {.columns = 10, .rows = 10, .normals = true}, "a");
    host::PolygonObject* b = makeGrid(doc, {.columns = 6, .rows = 6, .group = true, .x0 = 30.0f}, "b");
    b->addTag(std::make_unique<host::SmoothingTag>("smooth"));
    doc.setActive(a);
    doc.setActive(b);
    const std::unique_ptr<host::Object> aBefore = snapshot(*a), bBefore = snapshot(*b);
    VexlorDialog dlg;
    open(dlg);
    ASSERT_TRUE(dialogs().press(&dlg, IDC_VEXLOR_PREPARE));
    ASSERT_TRUE(waitForEnd());
    ASSERT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_TARGET, "35 %"));
    ASSERT_TRUE(dialogs().press(&dlg, IDC_VEXLOR_FINISH_LEVEL));
    EXPECT_FALSE(a->sameStateAs(*aBefore));
    EXPECT_TRUE(dialogs().close(&dlg));
    EXPECT_TRUE(a->sameStateAs(*aBefore));
    EXPECT_TRUE(b->sameStateAs(*bBefore));
    EXPECT_EQ(dlg.thread.items.count, 0);
}

TEST_F(VexlorDialogTest, ChangingASettingDuringAPreviewPutsTheObjectsBackFirst) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 10, .rows = 10});
    doc.setActive(obj);
    const std::unique_ptr<host::Object> before = snapshot(*obj);
    VexlorDialog dlg;
    open(dlg);
    ASSERT_TRUE(dialogs().press(&dlg, IDC_VEXLOR_PREPARE));
    ASSERT_TRUE(waitForEnd());
    ASSERT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_TARGET, "30"));
    ASSERT_TRUE(dialogs().enter(&dlg, IDC_VEXLOR_BOUNDARY_WEIGHT, "10"));
    EXPECT_TRUE(obj->sameStateAs(*before));
    expectIdle(dlg);
    EXPECT_EQ(dlg.thread.settings.completedPass, PASS_NONE);
    EXPECT_TRUE(dialogs().close(&dlg));
}

TEST_F(VexlorDialogTest, AMissingLayoutRefusesToOpen) {
    VexlorDialog dlg;
    host::DialogHost::main().setResources(nullptr);
    EXPECT_EQ(dlg.open(VEXLOR_ID), 0);
    EXPECT_FALSE(dialogs().isOpen(&dlg));
}

}  // namespace
