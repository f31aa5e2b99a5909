// The dialog and user-area helpers, driven through the host's headless dialogs with the reduction
// dialog's real layout: gadget values, limits, enabling, commands, and drawing into a user area.
#include <string>
#include <vector>

#include "ModuleTestSupport.h"
#include "host/Dialogs.h"
#include "sources/HostDialog.h"
#include "sources/HostUserArea.h"

using namespace moduletest;

namespace {

// Draws a black diagonal, a red horizontal line and the pic.tif object cell.
class PictureArea : public HostUserArea {
public:
    int32_t init() override {
        icon.load(HostFilename(modulePath()) + "res" + "pic.tif");
        return 1;
    }
    int32_t minimumSize(int32_t* w, int32_t* h) override {
        *w = 40;
        *h = 30;
        return 1;
    }
    void draw(int32_t x1, int32_t y1, int32_t x2, int32_t y2) override {
        clear(x1, y1, x2, y2);
        setPen(0, 0, 0);
        drawLine(0, 0, 9, 9);
        setPen(1, 0, 0);
        drawLine(0, 20, 39, 20);
        drawBitmap(icon, 0, 0, 24, 24, 12, 0, 24, 24);
        int32_t w = 0, h = 0;
        size(w, h);
        seenWidth = w;
        seenHeight = h;
    }
    HostBitmap icon;
    int32_t seenWidth = 0, seenHeight = 0;
};

class TestDialog : public HostDialog {
public:
    int32_t createLayout() override {
        if (!loadLayout(10001)) return 0;
        return attachUserArea(10013, &area) ? 1 : 0;
    }
    int32_t initValues() override {
        setInt(10011, 50, 1, 100, 1);
        setReal(10014, 0.25, 0.0, 9.0e18, 1.0, HOST_FORMAT_REAL);
        setBool(10003, true);
        enable(10017, false);
        return 1;
    }
    int32_t command(int32_t gadget, const HstSettings*) override {
        commands.push_back(gadget);
        return 1;
    }
    PictureArea area;
    std::vector<int32_t> commands;
};

class HostDialogTest : public ModuleFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        startModule(kSourceFolder);
        ASSERT_EQ(message(1), 1);
    }
};

TEST_F(HostDialogTest, GadgetHelpersReachTheHostForThisDialog) {
    auto& host = host::DialogHost::main();
    TestDialog dialog;
    ASSERT_EQ(dialog.open(12345), 1);
    EXPECT_TRUE(host.isOpen(&dialog));
    EXPECT_EQ(host.pluginIdOf(&dialog), 12345);

    int32_t target = 0;
    ASSERT_TRUE(dialog.getInt(10011, target));
    EXPECT_EQ(target, 50);
    double error = 0;
    ASSERT_TRUE(dialog.getReal(10014, error));
    EXPECT_EQ(error, 0.25);
    bool whole = false;
    ASSERT_TRUE(dialog.getBool(10003, whole));
    EXPECT_TRUE(whole);
    EXPECT_FALSE(host.usable(&dialog, 10017));
    EXPECT_TRUE(host.usable(&dialog, 10016));

    // A value outside the limits is clamped, as the gadget would.
    dialog.setInt(10011, 500, 1, 100, 1);
    ASSERT_TRUE(dialog.getInt(10011, target));
    EXPECT_EQ(target, 100);
    // A person's entry reaches command() with the gadget.
    ASSERT_TRUE(host.setByUser(&dialog, 10011, 7));
    EXPECT_EQ(dialog.commands, std::vector<int32_t>{10011});
    ASSERT_TRUE(dialog.getInt(10011, target));
    EXPECT_EQ(target, 7);

    dialog.setPercent(10016, 0.5, 0.0, 1.0, 0.01);
    EXPECT_EQ(host.gadget(&dialog, 10016)->valueText(), "50 %");

    HostString text("caption");
    dialog.setString(10002, text);
    HostString back;
    ASSERT_TRUE(dialog.getString(10002, back));
    EXPECT_STREQ(back.chars(), "caption");

    int32_t missing = 3;
    EXPECT_FALSE(dialog.getInt(4711, missing));
    EXPECT_EQ(missing, 3);

    int32_t rect[4] = {0, 0, 0, 0};
    ASSERT_TRUE(dialog.gadgetRect(10013, rect));
    EXPECT_EQ(rect[2], 40);
    EXPECT_EQ(rect[3], 30);
    dialog.setTimer(1000);
    EXPECT_EQ(host.timerPeriod(&dialog), 1000);
}

TEST_F(HostDialogTest, UserAreaDrawsThroughTheHost) {
    auto& host = host::DialogHost::main();
    TestDialog dialog;
    ASSERT_EQ(dialog.open(12346), 1);
    const host::Bitmap canvas = host.renderUserArea(&dialog, 10013);
    ASSERT_EQ(canvas.width(), 40);
    ASSERT_EQ(canvas.height(), 30);
    EXPECT_EQ(dialog.area.seenWidth, 40);
    EXPECT_EQ(dialog.area.seenHeight, 30);
    // The diagonal is black, the horizontal line red, the background the host's.
    EXPECT_EQ(canvas.get8(5, 5, 0), 0);
    EXPECT_EQ(canvas.get8(5, 5, 1), 0);
    EXPECT_EQ(canvas.get8(3, 20, 0), 255);
    EXPECT_EQ(canvas.get8(3, 20, 1), 0);
    EXPECT_EQ(canvas.get8(1, 28, 0), host::kAreaBackground[0]);
    // The copied cell shows pic.tif's pixels at the area's offset.
    host::Bitmap pic;
    ASSERT_TRUE(pic.load(kSourceFolder + "/res/pic.tif"));
    for (int y : {2, 10, 15})
        for (int x : {3, 8, 14})
            for (int c = 0; c < 3; ++c) EXPECT_EQ(canvas.get8(12 + x, y, c), pic.get8(x, y, c)) << x << "," << y;
}

TEST_F(HostDialogTest, DestroyedDialogIsForgotten) {
    auto& host = host::DialogHost::main();
    {
        TestDialog dialog;
        ASSERT_EQ(dialog.open(12347), 1);
        EXPECT_NE(host.dialogOf(12347), nullptr);
    }
    EXPECT_EQ(host.dialogOf(12347), nullptr);
    EXPECT_TRUE(host.openDialogs().empty());
}

}  // namespace
