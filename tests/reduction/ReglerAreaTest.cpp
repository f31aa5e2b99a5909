// The error slider, attached to gadget 10013 of the reduction dialog's layout and worked through the
// host's headless dialogs: drags on each wheel, the value's floor at 0, the text, the commands the
// dialog gets, and the picture it draws (with all, some or none of its images).
#include <filesystem>
#include <string>
#include <vector>

#include "host/Dialogs.h"
#include "host/HostHandles.h"
#include "reduction/ReglerArea.h"
#include "sources/HostDialog.h"
#include "sources/HostSettings.h"
#include "tests/mixkit/UnTriagTestSupport.h"

using namespace untritest;

namespace {

constexpr int32_t kSliderGadget = 10013;
constexpr int32_t kLayout = 10001;
constexpr int32_t kPluginId = 1015827;

// A dialog with the reduction layout and a slider on gadget 10013 that records every command.
class SliderDialog : public HostDialog {
public:
    SliderDialog() = default;
    explicit SliderDialog(const char* moduleFolder) : slider(moduleFolder) {}
    int32_t createLayout() override {
        if (!loadLayout(kLayout)) return 0;
        return attachUserArea(kSliderGadget, &slider) ? 1 : 0;
    }
    int32_t command(int32_t gadget, const HstSettings* msg) override {
        const HostSettings m(msg);
        commands.push_back({gadget, m.getBool(host::DLG_MSG_DRAGGING, false), slider.value()});
        return 1;
    }
    struct Command {
        int32_t gadget;
        bool dragging;
        double value;
    };
    ReglerArea slider;
    std::vector<Command> commands;
};

class ReglerAreaTest : public ModuleTest {
protected:
    host::DialogHost& dialogs() { return host::DialogHost::main(); }

    // Drags sideways on a row (pressed at the middle of its frame) by the given moves.
    host::AreaDragResult drag(SliderDialog& dlg, int32_t row, const std::vector<double>& moves) {
        std::vector<host::DragMove> steps;
        for (double dx : moves) steps.push_back({dx, 0.0});
        const int32_t y = dlg.slider.rowTop(row) + dlg.slider.frameHeight() / 2;
        return dialogs().dragUserArea(&dlg, kSliderGadget, ReglerArea::CHANNEL_LEFT, 30.0, y, steps);
    }
    static std::string text(double v) { return ReglerArea::formatValue(v).chars(); }
    static std::string imagePath(int row, int frame) {
        return moduletest::kSourceFolder + "/res/Regler/Regler" + std::to_string(row + 1) + "_" +
               std::to_string(frame + 1) + ".tif";
    }
    // True when the canvas shows the image pixel for pixel at (x, y).
    static bool shows(const host::Bitmap& canvas, const host::Bitmap& image, int x, int y) {
        for (int j = 0; j < image.height(); ++j)
            for (int i = 0; i < image.width(); ++i)
                for (int c = 0; c < 3; ++c)
                    if (canvas.get8(x + i, y + j, c) != image.get8(i, j, image.channels() == 1 ? 0 : c)) return false;
        return true;
    }
    // True when the rectangle is all the host's background.
    static bool blank(const host::Bitmap& canvas, int x, int y, int w, int h) {
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i)
                for (int c = 0; c < 3; ++c)
                    if (canvas.get8(x + i, y + j, c) != host::kAreaBackground[c]) return false;
        return true;
    }
};

TEST_F(ReglerAreaTest, LoadsEveryWheelImageAndAsksForItsSize) {
    SliderDialog dlg;
    EXPECT_EQ(dlg.slider.loadedImages(), ReglerArea::FRAME_COUNT);
    EXPECT_EQ(dlg.slider.frameWidth(), 120);
    EXPECT_EQ(dlg.slider.frameHeight(), 12);
    for (int row = 0; row < ReglerArea::ROWS; ++row) EXPECT_TRUE(dlg.slider.rowLoaded(row));
    ASSERT_EQ(dlg.open(kPluginId), 1);
    // Borders of 1 pixel: 1 + 1 + 120 wide, 1 + 1 + 6 x 12 + 7 high.
    int32_t w = 0, h = 0;
    EXPECT_EQ(dlg.slider.minimumSize(&w, &h), 1);
    EXPECT_EQ(w, 122);
    EXPECT_EQ(h, 81);
    int32_t rect[4] = {};
    ASSERT_TRUE(dlg.gadgetRect(kSliderGadget, rect));
    EXPECT_EQ(rect[2], 122);
    EXPECT_EQ(rect[3], 81);
}

TEST_F(ReglerAreaTest, TopRowDragOfThreePixelsAddsThirtyThousand) {
    SliderDialog dlg;
    ASSERT_EQ(dlg.open(kPluginId), 1);
    const host::AreaDragResult r = drag(dlg, 5, {3});
    ASSERT_TRUE(r.delivered);
    EXPECT_EQ(r.movesUsed, 1u);
    EXPECT_EQ(dlg.slider.value(), 30000.0);
    EXPECT_EQ(dlg.slider.frameCounter(5), 3);
    EXPECT_STREQ(dlg.slider.text().chars(), "30000.000000");
    // One command while dragging (with the new value), one more when the button comes up.
    ASSERT_EQ(dlg.commands.size(), 2u);
    EXPECT_EQ(dlg.commands[0].gadget, kSliderGadget);
    EXPECT_TRUE(dlg.commands[0].dragging);
    EXPECT_EQ(dlg.commands[0].value, 30000.0);
    EXPECT_EQ(dlg.commands[1].gadget, kSliderGadget);
    EXPECT_FALSE(dlg.commands[1].dragging);
}

TEST_F(ReglerAreaTest, BottomRowDragOfThreePixelsAddsThreeMillionths) {
    SliderDialog dlg;
    ASSERT_EQ(dlg.open(kPluginId), 1);
    drag(dlg, 0, {3});
    EXPECT_NEAR(dlg.slider.value(), 0.000003, 1e-18);
    EXPECT_STREQ(dlg.slider.text().chars(), "0.000003");
    EXPECT_EQ(dlg.slider.frameCounter(0), 0);  // three frames: a full turn

    // The same three pixels one at a time: three dragging commands and the release.
    SliderDialog steps;
    ASSERT_EQ(steps.open(kPluginId + 1), 1);
    drag(steps, 0, {1, 1, 1});
    EXPECT_NEAR(steps.slider.value(), 0.000003, 1e-18);
    EXPECT_STREQ(steps.slider.text().chars(), "0.000003");
    ASSERT_EQ(steps.commands.size(), 4u);
    EXPECT_TRUE(steps.commands[0].dragging);
    EXPECT_TRUE(steps.commands[2].dragging);
    EXPECT_FALSE(steps.commands[3].dragging);
    EXPECT_NEAR(steps.commands[0].value, 0.000001, 1e-18);
    EXPECT_NEAR(steps.commands[1].value, 0.000002, 1e-18);
    EXPECT_EQ(steps.slider.frameCounter(0), 0);
}

TEST_F(ReglerAreaTest, EveryRowAddsItsStepAndTurnsItsWheel) {
    const double steps[ReglerArea::ROWS] = {1e-6, 1e-4, 0.01, 1, 100, 10000};
    for (int row = 0; row < ReglerArea::ROWS; ++row) {
        SliderDialog dlg;
        ASSERT_EQ(dlg.open(kPluginId), 1);
        EXPECT_EQ(ReglerArea::step(row), steps[row]);
        EXPECT_EQ(ReglerArea::framesOf(row), row + 3);
        drag(dlg, row, {2});
        EXPECT_DOUBLE_EQ(dlg.slider.value(), 2 * steps[row]) << row;
        for (int other = 0; other < ReglerArea::ROWS; ++other)
            EXPECT_EQ(dlg.slider.frameCounter(other), other == row ? 2 : 0) << row;
        // Further round than the wheel has frames: the counter runs modulo row + 3, both ways.
        drag(dlg, row, {static_cast<double>(row + 3) + 1});
        EXPECT_EQ(dlg.slider.frameCounter(row), 3 % (row + 3)) << row;
        drag(dlg, row, {-5});
        EXPECT_EQ(dlg.slider.frameCounter(row), ((3 - 5) % (row + 3) + (row + 3)) % (row + 3)) << row;
        EXPECT_NEAR(dlg.slider.value(), (2 + row + 4 - 5) * steps[row], 1e-9 * steps[row]) << row;
    }
}

TEST_F(ReglerAreaTest, ValueStopsAtZeroAndTheWheelStaysPut) {
    SliderDialog dlg;
    ASSERT_EQ(dlg.open(kPluginId), 1);
    dlg.slider.setValue(0.5);
    drag(dlg, 3, {-2});  // 0.5 - 2 would be below 0
    EXPECT_EQ(dlg.slider.value(), 0.0);
    EXPECT_EQ(dlg.slider.frameCounter(3), 0);
    ASSERT_EQ(dlg.commands.size(), 2u);
    EXPECT_EQ(dlg.commands[0].value, 0.0);

    drag(dlg, 3, {5, -2});  // 5, then 3: the wheel turns back by 2
    EXPECT_EQ(dlg.slider.value(), 3.0);
    EXPECT_EQ(dlg.slider.frameCounter(3), 3);
    drag(dlg, 4, {-1});  // 3 - 100
    EXPECT_EQ(dlg.slider.value(), 0.0);
    EXPECT_EQ(dlg.slider.frameCounter(4), 0);
    EXPECT_EQ(dlg.slider.frameCounter(3), 3);
    drag(dlg, 0, {-1, -1});
    EXPECT_EQ(dlg.slider.value(), 0.0);
    EXPECT_EQ(dlg.slider.frameCounter(0), 0);

    dlg.slider.setValue(-4.0);
    EXPECT_EQ(dlg.slider.value(), 0.0);
}

TEST_F(ReglerAreaTest, TextShowsSixDecimals) {
    EXPECT_EQ(text(0.0001), "0.000100");
    EXPECT_EQ(text(12.5), "12.500000");
    EXPECT_EQ(text(0.0), "0.000000");
    EXPECT_EQ(text(3.0), "3.000000");
    EXPECT_EQ(text(0.000001), "0.000001");
    EXPECT_EQ(text(123456.25), "123456.250000");
    EXPECT_EQ(text(7.0000004), "7.000000");
    EXPECT_EQ(text(0.9999996), "1.000000");  // rounds up into the whole part
    EXPECT_EQ(text(1e-6 + 1e-6 + 1e-6), "0.000003");
    EXPECT_EQ(text(-2.0), "0.000000");
    SliderDialog dlg;
    dlg.slider.setValue(0.0001);
    EXPECT_STREQ(dlg.slider.text().chars(), "0.000100");
    dlg.slider.setValue(12.5);
    EXPECT_STREQ(dlg.slider.text().chars(), "12.500000");
}

TEST_F(ReglerAreaTest, EachPixelRowOfAWheelTurnsThatWheel) {
    SliderDialog dlg;
    ASSERT_EQ(dlg.open(kPluginId), 1);
    const ReglerArea& s = dlg.slider;
    for (int row = 0; row < ReglerArea::ROWS; ++row) {
        EXPECT_EQ(s.rowAt(s.rowTop(row)), row);
        EXPECT_EQ(s.rowAt(s.rowTop(row) + s.frameHeight() - 1), row);
        EXPECT_EQ(s.rowAt(s.separatorY(row)), row);  // the line below the row
    }
    // The top separator and the borders belong to no wheel.
    EXPECT_EQ(s.rowAt(s.separatorY(6)), ReglerArea::ROWS);
    EXPECT_EQ(s.rowAt(0), ReglerArea::ROWS);
    EXPECT_LT(s.rowAt(80), 0);

    // A press there does nothing and takes no move.
    const host::AreaDragResult r = dialogs().dragUserArea(&dlg, kSliderGadget, ReglerArea::CHANNEL_LEFT, 30.0, 0.0,
                                                          {{4.0, 0.0}});
    EXPECT_TRUE(r.delivered);
    EXPECT_EQ(r.movesUsed, 0u);
    EXPECT_EQ(dlg.slider.value(), 0.0);
    EXPECT_TRUE(dlg.commands.empty());
    // The first pixel of a wheel's frame turns that wheel, not the one above.
    dialogs().dragUserArea(&dlg, kSliderGadget, ReglerArea::CHANNEL_LEFT, 30.0, s.rowTop(3), {{2.0, 0.0}});
    EXPECT_EQ(dlg.slider.value(), 2.0);
}

TEST_F(ReglerAreaTest, WheelChannelOnlyRefreshesAndNotifies) {
    SliderDialog dlg;
    ASSERT_EQ(dlg.open(kPluginId), 1);
    dlg.slider.setValue(1.5);
    const int before = dialogs().gadget(&dlg, kSliderGadget)->redrawRequests;
    const host::AreaDragResult r = dialogs().dragUserArea(&dlg, kSliderGadget, ReglerArea::CHANNEL_WHEEL, 30.0,
                                                          dlg.slider.rowTop(5), {{3.0, 0.0}});
    EXPECT_EQ(r.answer, 1);
    EXPECT_EQ(r.movesUsed, 0u);
    EXPECT_EQ(dlg.slider.value(), 1.5);
    EXPECT_EQ(dialogs().gadget(&dlg, kSliderGadget)->redrawRequests, before + 1);
    ASSERT_EQ(dlg.commands.size(), 1u);
    EXPECT_FALSE(dlg.commands[0].dragging);
    // The right button is not the slider's.
    const host::AreaDragResult right =
        dialogs().dragUserArea(&dlg, kSliderGadget, 2, 30.0, dlg.slider.rowTop(5), {{3.0, 0.0}});
    EXPECT_EQ(right.answer, 0);
    EXPECT_EQ(dlg.slider.value(), 1.5);
    EXPECT_EQ(dlg.commands.size(), 1u);
}

TEST_F(ReglerAreaTest, InitClearsTheValueAndTheWheels) {
    SliderDialog dlg;
    ASSERT_EQ(dlg.open(kPluginId), 1);
    drag(dlg, 2, {2});
    ASSERT_EQ(dlg.slider.frameCounter(2), 2);
    EXPECT_EQ(dlg.slider.init(), 1);
    EXPECT_EQ(dlg.slider.value(), 0.0);
    EXPECT_EQ(dlg.slider.frameCounter(2), 0);
}

TEST_F(ReglerAreaTest, DrawsSeparatorsAndTheCurrentFrames) {
    SliderDialog dlg;
    ASSERT_EQ(dlg.open(kPluginId), 1);
    drag(dlg, 1, {1});  // row 1 shows its second frame
    drag(dlg, 5, {-2});  // nothing: the value would go below 0
    drag(dlg, 4, {6});   // row 4: 6 of 7 frames
    const host::Bitmap canvas = dialogs().renderUserArea(&dlg, kSliderGadget);
    ASSERT_EQ(canvas.width(), 122);
    ASSERT_EQ(canvas.height(), 81);
    const ReglerArea& s = dlg.slider;
    for (int i = 0; i <= ReglerArea::ROWS; ++i) {
        const int y = s.separatorY(i);
        for (int x : {1, 60, 120}) {
            // The fourth from the bottom (between steps 0.01 and 1) is dark red, the others black.
            EXPECT_EQ(canvas.get8(x, y, 0), i == 3 ? 128 : 0) << i << " " << x;
            EXPECT_EQ(canvas.get8(x, y, 1), 0) << i;
            EXPECT_EQ(canvas.get8(x, y, 2), 0) << i;
        }
    }
    EXPECT_EQ(s.separatorY(0), 79);
    EXPECT_EQ(s.separatorY(6), 1);
    // The border.
    EXPECT_EQ(canvas.get8(0, 40, 0), host::kAreaBorder[0]);
    EXPECT_EQ(canvas.get8(121, 40, 0), host::kAreaBorder[0]);
    // Each row shows the frame its counter names.
    const int expectedFrame[ReglerArea::ROWS] = {0, 1, 0, 0, 6, 0};
    for (int row = 0; row < ReglerArea::ROWS; ++row) {
        host::Bitmap image;
        ASSERT_TRUE(image.load(imagePath(row, expectedFrame[row])));
        EXPECT_TRUE(shows(canvas, image, 1, s.rowTop(row))) << "row " << row;
    }
    // The frames differ, so the comparison above tells them apart.
    host::Bitmap first;
    ASSERT_TRUE(first.load(imagePath(1, 0)));
    EXPECT_FALSE(shows(canvas, first, 1, s.rowTop(1)));
}

TEST_F(ReglerAreaTest, MissingImagesLeaveTheirRowsEmpty) {
    moduletest::TempFolder folder;
    const std::filesystem::path images = folder.res() / "Regler";
    std::filesystem::create_directories(images);
    // Rows 0 and 1 whole, row 2 only its first two frames; nothing above.
    for (int row = 0; row < 3; ++row)
        for (int frame = 0; frame < (row < 2 ? row + 3 : 2); ++frame)
            std::filesystem::copy_file(imagePath(row, frame),
                                       images / std::filesystem::path(imagePath(row, frame)).filename());
    // Row 4's images are there, but loading stopped before them.
    std::filesystem::copy_file(imagePath(4, 0), images / std::filesystem::path(imagePath(4, 0)).filename());

    SliderDialog dlg(folder.str().c_str());
    EXPECT_EQ(dlg.slider.loadedImages(), 3 + 4 + 2);
    EXPECT_TRUE(dlg.slider.rowLoaded(0));
    EXPECT_TRUE(dlg.slider.rowLoaded(1));
    for (int row = 2; row < ReglerArea::ROWS; ++row) EXPECT_FALSE(dlg.slider.rowLoaded(row));
    ASSERT_EQ(dlg.open(kPluginId), 1);
    drag(dlg, 2, {2});  // the wheel of row 2 is not shown, but it still works
    EXPECT_DOUBLE_EQ(dlg.slider.value(), 0.02);
    const host::Bitmap canvas = dialogs().renderUserArea(&dlg, kSliderGadget);
    ASSERT_EQ(canvas.height(), 81);
    const ReglerArea& s = dlg.slider;
    host::Bitmap image;
    ASSERT_TRUE(image.load(imagePath(0, 0)));
    EXPECT_TRUE(shows(canvas, image, 1, s.rowTop(0)));
    for (int row = 2; row < ReglerArea::ROWS; ++row) EXPECT_TRUE(blank(canvas, 1, s.rowTop(row), 120, 12)) << row;
    EXPECT_EQ(canvas.get8(60, s.separatorY(3), 0), 128);
}

TEST_F(ReglerAreaTest, NoImagesAtAllStillGivesAWorkingSlider) {
    moduletest::TempFolder folder;
    SliderDialog dlg(folder.str().c_str());
    EXPECT_EQ(dlg.slider.loadedImages(), 0);
    ASSERT_EQ(dlg.open(kPluginId), 1);
    int32_t w = 0, h = 0;
    dlg.slider.minimumSize(&w, &h);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 9);
    // A row is only the separator below it: y = 2 is the line under row 5, y = 3 under row 4.
    EXPECT_EQ(dlg.slider.rowAt(2), 5);
    EXPECT_EQ(dlg.slider.rowAt(3), 4);
    const host::AreaDragResult r =
        dialogs().dragUserArea(&dlg, kSliderGadget, ReglerArea::CHANNEL_LEFT, 0.0, 3.0, {{2.0, 0.0}});
    EXPECT_EQ(r.movesUsed, 1u);
    EXPECT_EQ(dlg.slider.value(), 200.0);
    const host::Bitmap canvas = dialogs().renderUserArea(&dlg, kSliderGadget);
    EXPECT_EQ(canvas.width(), 2);
    EXPECT_EQ(canvas.height(), 9);
}

}  // namespace
