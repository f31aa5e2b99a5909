#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "host/Dialogs.h"
#include "host/HostHandles.h"
#include "host/HostTable.h"
#include "host/Object.h"
#include "host/Resources.h"
#include "host/Tags.h"

using host::DialogHost;
using host::DragMove;
using host::Settings;

namespace {

constexpr const char* kLayout = R"(
dialog 500 "Test dialog"
group      501          "Settings"
integer    502 in 501   "Width"
real       503 in 501   "Error"
percent    504 in 501   "Strength"
checkbox   505 in 501   "Smooth"
radiogroup 506 in 501   "Mode"
radio      507 in 506   "First"
radio      508 in 506   "Second"
choice     509 in 501   "Format"
entry      510 in 509   "TIFF"
entry      511 in 509   "BMP"
edittext   512 in 501   "Name"
filename   513 in 501   "File"
color      514 in 501   "Highlight"
button     515 in 501   "Choose..."
droparea   520          "Drop here"
text       521 in 520   "Object"
userarea   530          "Dial"
text       540          "Status"
button     541          @1
text       542          "Later" disabled
)";

const Settings& settingsOf(const HstSettings* s) { return host::asSettings(s); }

// A user area that draws what its test asks and runs the mouse drag loop on a press.
struct TestArea : HostUserAreaBase {
    explicit TestArea(DialogHost& h) : host(h) {}
    DialogHost& host;
    int32_t minW = 40, minH = 30;
    int32_t initAnswer = 1;
    int inits = 0, initValuesCalls = 0, presses = 0;
    int32_t sizedW = -1, sizedH = -1;
    std::function<void(TestArea&)> onDraw;
    bool runDragLoop = true;
    int32_t pressChannel = 0;
    double pressX = 0, pressY = 0, lastX = 0, lastY = 0;
    std::vector<double> dxs, dys;
    bool cancelled = false;

    int32_t init() override {
        ++inits;
        return initAnswer;
    }
    int32_t initValues() override {
        ++initValuesCalls;
        return 1;
    }
    int32_t minimumSize(int32_t* w, int32_t* h) override {
        *w = minW;
        *h = minH;
        return 1;
    }
    void sized(int32_t w, int32_t h) override {
        sizedW = w;
        sizedH = h;
    }
    void draw(int32_t, int32_t, int32_t, int32_t) override {
        if (onDraw) onDraw(*this);
    }
    int32_t inputEvent(const HstSettings* msg) override {
        const Settings& m = settingsOf(msg);
        if (m.getInt(HOST_MSG_ID) != HOST_MSGKIND_INPUT) return 0;
        ++presses;
        pressChannel = m.getInt(HOST_MSG_CHANNEL);
        pressX = m.getReal(HOST_MSG_MOUSE_X);
        pressY = m.getReal(HOST_MSG_MOUSE_Y);
        if (!runDragLoop) return 0;
        host.mouseDragStart(pressChannel, pressX, pressY, 0);
        double dx = 0, dy = 0;
        Settings channels;
        while (host.mouseDrag(&dx, &dy, &channels) == host::DLG_DRAG_CONTINUE) {
            dxs.push_back(dx);
            dys.push_back(dy);
            lastX = channels.getReal(HOST_MSG_MOUSE_X);
            lastY = channels.getReal(HOST_MSG_MOUSE_Y);
            host.areaRedraw(this);
            host.areaNotify(this, true);
        }
        cancelled = host.mouseDragEnd();
        host.areaNotify(this, false);
        return 1;
    }
};

// A dialog on the test layout; it records what the host calls.
struct TestDialog : HostDialogBase {
    explicit TestDialog(DialogHost& h, int32_t layoutId = 500) : host(h), layout(layoutId) {}
    DialogHost& host;
    int32_t layout;
    HostUserAreaBase* area = nullptr;
    int32_t createAnswer = 1, initAnswer = 1, askCloseAnswer = 0;
    bool fill = true;
    std::vector<std::string> calls;
    std::vector<std::pair<int32_t, bool>> commands;  // gadget, dragging
    std::vector<std::pair<int32_t, int32_t>> core;   // id, first value
    int timers = 0, destroyed = 0;
    std::function<void(TestDialog&, int32_t)> onCommand;
    std::function<int32_t(TestDialog&, const Settings&)> onMessage;
    std::function<void(TestDialog&)> onTimer;
    std::function<int32_t(TestDialog&)> onAskClose;

    int32_t createLayout() override {
        calls.push_back("createLayout");
        if (!host.loadLayout(this, layout)) return 0;
        if (area && !host.attachUserArea(this, 530, area)) return 0;
        return createAnswer;
    }
    int32_t initValues() override {
        calls.push_back("initValues");
        if (fill) {
            host.setInt(this, 502, 600, 10, 6400, 1);
            host.setReal(this, 503, 0.5, 0, 9e18, 1, host::HOST_FORMAT_REAL);
            host.setReal(this, 504, 1.0, -9e16, 9e16, 0.01, host::HOST_FORMAT_PERCENT);
            host.setBool(this, 505, true);
            host.setInt(this, 506, 507, INT32_MIN, INT32_MAX, 1);
            host.setInt(this, 509, 511, INT32_MIN, INT32_MAX, 1);
            host.setString(this, 512, "cube");
            host.setColour(this, 514, {{1, 0, 0}, 1.0}, 1.0, 3);
            host.setString(this, 521, "Cube");
            host.setString(this, 540, "Idle");
            host.setString(this, 542, "soon");
            host.setTimer(this, 1000);
        }
        return initAnswer;
    }
    int32_t coreMessage(int32_t id, const HstSettings* msg) override {
        core.push_back({id, settingsOf(msg).getInt(host::DLG_MSG_VALUE1)});
        return 1;
    }
    int32_t command(int32_t gadget, const HstSettings* msg) override {
        commands.push_back({gadget, settingsOf(msg).getBool(host::DLG_MSG_DRAGGING)});
        if (onCommand) onCommand(*this, gadget);
        return 1;
    }
    int32_t askClose() override {
        calls.push_back("askClose");
        return onAskClose ? onAskClose(*this) : askCloseAnswer;
    }
    void timer(const HstSettings*) override {
        ++timers;
        if (onTimer) onTimer(*this);
    }
    void destroyWindow() override { ++destroyed; }
    int32_t message(const HstSettings* msg, HstSettings*) override {
        return onMessage ? onMessage(*this, settingsOf(msg)) : 0;
    }
};

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(res.readStrings("1 \"Bake\"\n", "strings.txt", &error)) << error;
        ASSERT_TRUE(res.readLayout(kLayout, "test.dlg", &error)) << error;
        host.setResources(&res);
        host.setClock([this] { return now; });
    }
    void TearDown() override { host.reset(); }

    host::ResourceSet res;
    DialogHost host;
    int64_t now = 0;
};

int32_t intOf(DialogHost& h, HostDialogBase* d, int32_t g) {
    int32_t v = -12345;
    EXPECT_TRUE(h.getInt(d, g, v)) << g;
    return v;
}

double realOf(DialogHost& h, HostDialogBase* d, int32_t g) {
    double v = -12345;
    EXPECT_TRUE(h.getReal(d, g, v)) << g;
    return v;
}

std::array<int, 3> pixel(const host::Bitmap& b, int x, int y) {
    return {b.get8(x, y, 0), b.get8(x, y, 1), b.get8(x, y, 2)};
}

const std::array<int, 3> kBg = {host::kAreaBackground[0], host::kAreaBackground[1], host::kAreaBackground[2]};
const std::array<int, 3> kBorder = {host::kAreaBorder[0], host::kAreaBorder[1], host::kAreaBorder[2]};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Opening and closing

TEST_F(Dialogs, OpenCreatesTheLayoutThenInitialisesAndKeepsThePluginId) {
    TestDialog d(host);
    ASSERT_TRUE(host.open(&d, 1016396));
    EXPECT_EQ(d.calls, (std::vector<std::string>{"createLayout", "initValues"}));
    EXPECT_TRUE(host.isOpen(&d));
    EXPECT_EQ(host.pluginIdOf(&d), 1016396);
    EXPECT_EQ(host.layoutIdOf(&d), 500);
    EXPECT_EQ(host.dialogOf(1016396), &d);
    EXPECT_EQ(host.dialogOf(1), nullptr);
    EXPECT_EQ(host.openDialogs(), std::vector<HostDialogBase*>{&d});
    // Opening an open dialog brings it up again without building it anew.
    EXPECT_TRUE(host.open(&d, 1016396));
    EXPECT_EQ(d.calls.size(), 2u);
}

TEST_F(Dialogs, OpenFailsWhenCreateLayoutOrInitValuesFails) {
    TestDialog missing(host, 777);  // no such layout: createLayout answers 0
    EXPECT_FALSE(host.open(&missing, 1));
    EXPECT_FALSE(host.isOpen(&missing));
    EXPECT_EQ(missing.calls, std::vector<std::string>{"createLayout"});

    TestDialog refused(host);
    refused.createAnswer = 0;
    EXPECT_FALSE(host.open(&refused, 1));
    EXPECT_FALSE(host.isOpen(&refused));
    EXPECT_EQ(refused.calls, std::vector<std::string>{"createLayout"});

    TestDialog badInit(host);
    badInit.initAnswer = 0;
    EXPECT_FALSE(host.open(&badInit, 1));
    EXPECT_FALSE(host.isOpen(&badInit));
    EXPECT_EQ(badInit.destroyed, 0);

    host.setResources(nullptr);  // no resources: no layout loads
    TestDialog noRes(host);
    EXPECT_FALSE(host.open(&noRes, 1));
    EXPECT_TRUE(host.openDialogs().empty());
    EXPECT_FALSE(host.open(nullptr, 1));
}

TEST_F(Dialogs, CloseAsksTheDialogAndClosesOnlyWhenItAgrees) {
    TestDialog d(host);
    ASSERT_TRUE(host.open(&d, 1));
    d.askCloseAnswer = 1;
    EXPECT_FALSE(host.close(&d));
    EXPECT_TRUE(host.isOpen(&d));
    EXPECT_EQ(d.destroyed, 0);
    d.askCloseAnswer = 0;
    EXPECT_TRUE(host.close(&d));
    EXPECT_FALSE(host.isOpen(&d));
    EXPECT_EQ(d.destroyed, 1);
    EXPECT_EQ(d.calls.back(), "askClose");
    // A closed dialog takes no more input.
    EXPECT_FALSE(host.setByUser(&d, 502, 100));
    EXPECT_FALSE(host.press(&d, 541));
    EXPECT_FALSE(host.close(&d));
    EXPECT_TRUE(d.commands.empty());
}

TEST_F(Dialogs, ModuleCloseSkipsAskCloseAndForgetCallsNothing) {
    TestDialog a(host), b(host);
    ASSERT_TRUE(host.open(&a, 1));
    ASSERT_TRUE(host.open(&b, 2));
    host.closeByModule(&a);
    EXPECT_FALSE(host.isOpen(&a));
    EXPECT_EQ(a.destroyed, 1);
    EXPECT_EQ(a.calls, (std::vector<std::string>{"createLayout", "initValues"}));
    host.forget(&b);
    EXPECT_FALSE(host.isOpen(&b));
    EXPECT_EQ(b.destroyed, 0);
    EXPECT_EQ(b.calls.size(), 2u);
}

TEST_F(Dialogs, ADialogThatClosesItselfWhileHandlingACallIsLeftAlone) {
    TestDialog d(host);
    d.onCommand = [&](TestDialog& self, int32_t) { host.closeByModule(&self); };
    ASSERT_TRUE(host.open(&d, 1));
    EXPECT_TRUE(host.press(&d, 541));
    EXPECT_FALSE(host.isOpen(&d));
    EXPECT_EQ(d.destroyed, 1);

    TestDialog e(host);
    e.onAskClose = [&](TestDialog& self) {
        host.closeByModule(&self);
        return 1;
    };
    ASSERT_TRUE(host.open(&e, 1));
    EXPECT_TRUE(host.close(&e));
    EXPECT_EQ(e.destroyed, 1);
}

// ---------------------------------------------------------------------------------------------
// Values, limits and clamping

TEST_F(Dialogs, ProgramSetsAreClampedToTheLimitsTheyGive) {
    TestDialog d(host);
    ASSERT_TRUE(host.open(&d, 1));
    EXPECT_EQ(intOf(host, &d, 502), 600);
    EXPECT_TRUE(host.setInt(&d, 502, 5, 10, 6400, 1));
    EXPECT_EQ(intOf(host, &d, 502), 10);
    EXPECT_TRUE(host.setInt(&d, 502, 7000, 10, 6400, 1));
    EXPECT_EQ(intOf(host, &d, 502), 6400);
    EXPECT_TRUE(host.setReal(&d, 503, -3.0, 0.0, 9e18, 1.0, host::HOST_FORMAT_REAL));
    EXPECT_EQ(realOf(host, &d, 503), 0.0);
    EXPECT_TRUE(host.setReal(&d, 504, 9e17, -9e16, 9e16, 0.01, host::HOST_FORMAT_PERCENT));
    EXPECT_EQ(realOf(host, &d, 504), 9e16);
    EXPECT_EQ(host.gadget(&d, 504)->valueText(), "9e+18 %");
    // Refused: NaN, and values for gadgets that cannot show them.
    EXPECT_FALSE(host.setReal(&d, 503, std::nan(""), 0, 1, 1, 0));
    EXPECT_EQ(realOf(host, &d, 503), 0.0);
    EXPECT_FALSE(host.setBool(&d, 502, true));
    EXPECT_FALSE(host.setReal(&d, 505, 1.0, 0, 1, 1, 0));
    EXPECT_FALSE(host.setInt(&d, 540, 3, 0, 9, 1));
    EXPECT_FALSE(host.setFilename(&d, 505, "/x"));
    EXPECT_FALSE(host.setInt(&d, 999, 1, 0, 9, 1));
    EXPECT_FALSE(host.setInt(nullptr, 502, 1, 0, 9, 1));
}

TEST_F(Dialogs, UserEntriesAreClampedAndSentAsCommands) {
    TestDialog d(host);
    ASSERT_TRUE(host.open(&d, 1));
    ASSERT_TRUE(host.setInt(&d, 502, 600, 10, 6400, 1));
    EXPECT_TRUE(host.setByUser(&d, 502, 5));
    EXPECT_EQ(intOf(host, &d, 502), 10);
    EXPECT_TRUE(host.setByUser(&d, 502, 9999));
    EXPECT_EQ(intOf(host, &d, 502), 6400);
    EXPECT_TRUE(host.setByUser(&d, 502, 12.6));  // an integer field rounds
    EXPECT_EQ(intOf(host, &d, 502), 13);
    EXPECT_TRUE(host.enter(&d, 502, " 77 "));
    EXPECT_EQ(intOf(host, &d, 502), 77);
    EXPECT_FALSE(host.enter(&d, 502, "77x"));
    EXPECT_FALSE(host.setByUser(&d, 502, std::numeric_limits<double>::infinity()));
    EXPECT_EQ(intOf(host, &d, 502), 77);
    EXPECT_EQ(d.commands,
              (std::vector<std::pair<int32_t, bool>>{{502, false}, {502, false}, {502, false}, {502, false}}));

    EXPECT_TRUE(host.setByUser(&d, 503, 2.5));
    EXPECT_EQ(realOf(host, &d, 503), 2.5);
    EXPECT_TRUE(host.setByUser(&d, 503, -1.0));
    EXPECT_EQ(realOf(host, &d, 503), 0.0);

    // A percent field takes what a person types in percent.
    EXPECT_TRUE(host.enter(&d, 504, "50 %"));
    EXPECT_DOUBLE_EQ(realOf(host, &d, 504), 0.5);
    EXPECT_TRUE(host.enter(&d, 504, "250"));
    EXPECT_DOUBLE_EQ(realOf(host, &d, 504), 2.5);
    EXPECT_EQ(host.gadget(&d, 504)->valueText(), "250 %");
    EXPECT_FALSE(host.enter(&d, 504, "%"));

    EXPECT_TRUE(host.enter(&d, 505, "off"));
    bool smooth = true;
    ASSERT_TRUE(host.getBool(&d, 505, smooth));
    EXPECT_FALSE(smooth);
    EXPECT_FALSE(host.setByUser(&d, 505, 2));  // a check box is on or off
    EXPECT_TRUE(host.enter(&d, 509, "tiff"));
    EXPECT_EQ(intOf(host, &d, 509), 510);
    EXPECT_TRUE(host.enter(&d, 512, "sphere"));
    EXPECT_TRUE(host.enter(&d, 514, "0.25 2 -1 0.5"));
    host::Colour c;
    ASSERT_TRUE(host.getColour(&d, 514, c));
    EXPECT_EQ(c.rgb, (host::Vec3{0.25, 1.0, 0.0}));
    EXPECT_EQ(c.brightness, 0.5);
    EXPECT_FALSE(host.enter(&d, 514, "1 2"));
    EXPECT_FALSE(host.setByUser(&d, 540, "text"));  // static text takes no input
    EXPECT_FALSE(host.setByUser(&d, 999, 1));
}

TEST_F(Dialogs, AnEmptyRangeKeepsTheProgramValueAndRefusesEntries) {
    TestDialog d(host);
    ASSERT_TRUE(host.open(&d, 1));
    // A count field from 1 to 0 (nothing to count) shows the 0 it was given.
    EXPECT_TRUE(host.setInt(&d, 502, 0, 1, 0, 1));
    EXPECT_EQ(intOf(host, &d, 502), 0);
    EXPECT_FALSE(host.setByUser(&d, 502, 3));
    EXPECT_EQ(intOf(host, &d, 502), 0);
    EXPECT_TRUE(d.commands.empty());
}

TEST_F(Dialogs, GadgetsReadBackAcrossKinds) {
    TestDialog d(host);
    ASSERT_TRUE(host.open(&d, 1));
    EXPECT_EQ(realOf(host, &d, 502), 600.0);
    ASSERT_TRUE(host.setReal(&d, 503, -2.7, -10, 10, 1, 0));
    EXPECT_EQ(intOf(host, &d, 503), -2);  // truncated
    EXPECT_EQ(intOf(host, &d, 505), 1);
    EXPECT_EQ(intOf(host, &d, 506), 507);
    EXPECT_EQ(intOf(host, &d, 509), 511);
    std::string s;
    ASSERT_TRUE(host.getString(&d, 509, s));
    EXPECT_EQ(s, "BMP");
    ASSERT_TRUE(host.getString(&d, 506, s));
    EXPECT_EQ(s, "First");
    ASSERT_TRUE(host.getString(&d, 504, s));
    EXPECT_EQ(s, "100 %");
    ASSERT_TRUE(host.getString(&d, 541, s));
    EXPECT_EQ(s, "Bake");
    EXPECT_TRUE(host.setString(&d, 541, "Stop"));
    ASSERT_TRUE(host.getString(&d, 541, s));
    EXPECT_EQ(s, "Stop");
    // Text into a number field is read as a person would type it, within the limits.
    EXPECT_TRUE(host.setString(&d, 502, "8"));
    EXPECT_EQ(intOf(host, &d, 502), 10);
    EXPECT_FALSE(host.setString(&d, 502, "eight"));
    EXPECT_TRUE(host.setString(&d, 509, "TIFF"));
    EXPECT_EQ(intOf(host, &d, 509), 510);
    EXPECT_FALSE(host.setString(&d, 509, "PNG"));
    EXPECT_TRUE(host.setFilename(&d, 513, "/maps/normal.tif"));
    ASSERT_TRUE(host.getFilename(&d, 513, s));
    EXPECT_EQ(s, "/maps/normal.tif");
    EXPECT_FALSE(host.getFilename(&d, 502, s));
    bool b = false;
    EXPECT_FALSE(host.getBool(&d, 513, b));
    int32_t i = 0;
    EXPECT_FALSE(host.getInt(&d, 513, i));
    EXPECT_FALSE(host.getInt(&d, 999, i));
    // Colours and brightness are clamped to what the gadget shows.
    EXPECT_TRUE(host.setColour(&d, 514, {{2.0, -1.0, 0.5}, 3.0}, 1.0, 3));
    host::Colour c;
    ASSERT_TRUE(host.getColour(&d, 514, c));
    EXPECT_EQ(c.rgb, (host::Vec3{1.0, 0.0, 0.5}));
    EXPECT_EQ(c.brightness, 1.0);
    EXPECT_FALSE(host.getColour(&d, 502, c));
}

// ---------------------------------------------------------------------------------------------
// Enabled state and commands

TEST_F(Dialogs, ADisabledGroupRefusesInputToEverythingInside) {
    TestDialog d(host);
    ASSERT_TRUE(host.open(&d, 1));
    ASSERT_TRUE(host.enable(&d, 501, false));
    EXPECT_FALSE(host.usable(&d, 501));
    EXPECT_FALSE(host.usable(&d, 502));
    EXPECT_FALSE(host.usable(&d, 507));  // two levels down
    EXPECT_TRUE(host.usable(&d, 541));
    EXPECT_TRUE(host.gadget(&d, 502)->enabled);  // its own state is untouched

    EXPECT_FALSE(host.setByUser(&d, 502, 100));
    EXPECT_EQ(intOf(host, &d, 502), 600);
    EXPECT_FALSE(host.enter(&d, 512, "x"));
    EXPECT_FALSE(host.press(&d, 515));
    EXPECT_FALSE(host.press(&d, 505));
    EXPECT_FALSE(host.press(&d, 508));
    EXPECT_FALSE(host.choose(&d, 509, 510));
    EXPECT_TRUE(d.commands.empty());
    // The program still sets values inside a disabled group.
    EXPECT_TRUE(host.setInt(&d, 502, 700, 10, 6400, 1));
    EXPECT_EQ(intOf(host, &d, 502), 700);

    EXPECT_TRUE(host.press(&d, 541));
    host.enable(&d, 501, true);
    EXPECT_TRUE(host.setByUser(&d, 502, 100));
    EXPECT_EQ(intOf(host, &d, 502), 100);
    EXPECT_EQ(d.commands, (std::vector<std::pair<int32_t, bool>>{{541, false}, {502, false}}));

    // A gadget can be disabled on its own, or start disabled by its layout.
    host.enable(&d, 506, false);
    EXPECT_FALSE(host.press(&d, 507));
    EXPECT_TRUE(host.usable(&d, 505));
    EXPECT_FALSE(host.usable(&d, 542));
    host.enable(&d, 542, true);
    EXPECT_TRUE(host.usable(&d, 542));
    EXPECT_FALSE(host.enable(&d, 999, true));
}

TEST_F(Dialogs, PressesAndChoicesReachCommandWithTheirGadget) {
    TestDialog d(host);
    ASSERT_TRUE(host.open(&d, 1));
    EXPECT_TRUE(host.press(&d, 541));
    EXPECT_TRUE(host.choose(&d, 509, 510));
    EXPECT_EQ(intOf(host, &d, 509), 510);
    EXPECT_FALSE(host.choose(&d, 509, 999));
    EXPECT_FALSE(host.choose(&d, 509, 507));  // a radio of another group
    EXPECT_FALSE(host.choose(&d, 502, 510));  // not a choice
    EXPECT_TRUE(host.press(&d, 508));         // a radio selects itself in its group
    EXPECT_EQ(intOf(host, &d, 506), 508);
    EXPECT_TRUE(host.press(&d, 505));  // a check box toggles
    bool on = true;
    ASSERT_TRUE(host.getBool(&d, 505, on));
    EXPECT_FALSE(on);
    EXPECT_FALSE(host.press(&d, 502));  // a number field is no button
    EXPECT_EQ(d.commands,
              (std::vector<std::pair<int32_t, bool>>{{541, false}, {509, false}, {506, false}, {505, false}}));
}

// ---------------------------------------------------------------------------------------------
// Timers and events

TEST_F(Dialogs, TimersFireAtTheirPeriod) {
    TestDialog d(host);
    ASSERT_TRUE(host.open(&d, 1));  // sets a 1000 ms timer at time 0
    EXPECT_EQ(host.timerPeriod(&d), 1000);
    EXPECT_EQ(host.tick(999), 0);
    EXPECT_EQ(d.timers, 0);
    EXPECT_EQ(host.tick(1000), 1);
    EXPECT_EQ(host.tick(1500), 0);
    EXPECT_EQ(host.tick(2000), 1);
    EXPECT_EQ(d.timers, 2);
    // A late tick runs the timer once, and the period keeps its phase.
    EXPECT_EQ(host.tick(5500), 1);
    EXPECT_EQ(host.tick(5999), 0);
    EXPECT_EQ(host.tick(6000), 1);
    EXPECT_EQ(d.timers, 4);
    now = 6200;
    host.setTimer(&d, 250);  // restarting counts from now
    EXPECT_EQ(host.tick(6449), 0);
    EXPECT_EQ(host.tick(6450), 1);
    host.setTimer(&d, 0);
    EXPECT_EQ(host.tick(100000), 0);
    EXPECT_EQ(d.timers, 5);
}

TEST_F(Dialogs, ATimerThatClosesDialogsLeavesTheOthersRunning) {
    TestDialog a(host), b(host), c(host);
    a.onTimer = [&](TestDialog&) {
        host.closeByModule(&a);
        host.forget(&b);
    };
    ASSERT_TRUE(host.open(&a, 1));
    ASSERT_TRUE(host.open(&b, 2));
    ASSERT_TRUE(host.open(&c, 3));
    EXPECT_EQ(host.tick(1000), 2);  // a and c; b was forgotten before its turn
    EXPECT_EQ(a.timers, 1);
    EXPECT_EQ(b.timers, 0);
    EXPECT_EQ(c.timers, 1);
    EXPECT_EQ(host.openDialogs(), std::vector<HostDialogBase*>{&c});
}

TEST_F(Dialogs, SpecialEventsReachEveryDialogAndMessagesTheirPlugin) {
    TestDialog a(host), b(host);
    ASSERT_TRUE(host.open(&a, 1015827));
    ASSERT_TRUE(host.open(&b, 1016396));
    std::vector<int32_t> observed;
    host.setEventObserver([&](const host::Event& e) { observed.push_back(e.id); });

    host.deliver({host::Event::Kind::Special, 1015827, 3, 0, nullptr});
    EXPECT_EQ(a.core, (std::vector<std::pair<int32_t, int32_t>>{{1015827, 3}}));
    EXPECT_EQ(b.core, (std::vector<std::pair<int32_t, int32_t>>{{1015827, 3}}));

    host.deliver({host::Event::Kind::DialogMessage, 1016396, 5, 0, nullptr});
    EXPECT_EQ(a.core.size(), 1u);
    EXPECT_EQ(b.core.back(), (std::pair<int32_t, int32_t>{1016396, 5}));
    host.deliver({host::Event::Kind::DialogMessage, 42, 1, 0, nullptr});  // nobody's
    host.deliver({host::Event::Kind::DialogMessage, 1016396, 6, 0, &a});  // to one dialog
    EXPECT_EQ(a.core.back(), (std::pair<int32_t, int32_t>{1016396, 6}));
    EXPECT_EQ(b.core.size(), 2u);
    EXPECT_EQ(observed, (std::vector<int32_t>{1015827, 1016396, 42, 1016396}));

    // From a worker thread through a queue pumped on this thread.
    host::EventQueue q;
    q.setHandler([&](const host::Event& e) { host.deliver(e); });
    std::thread worker([&] { q.post({host::Event::Kind::Special, 77, 8, 9, nullptr}); });
    worker.join();
    EXPECT_EQ(a.core.size(), 2u);  // nothing before the pump
    EXPECT_EQ(q.pump(), 1);
    EXPECT_EQ(a.core.back(), (std::pair<int32_t, int32_t>{77, 8}));
    EXPECT_EQ(b.core.back(), (std::pair<int32_t, int32_t>{77, 8}));
}

// ---------------------------------------------------------------------------------------------
// Layout, drag-and-drop, file chooser

TEST_F(Dialogs, GadgetsAreStackedInRowsAndContainersSpanTheirChildren) {
    TestArea area(host);
    TestDialog d(host);
    d.area = &area;
    ASSERT_TRUE(host.open(&d, 1));
    using host::Rect;
    auto rect = [&](int32_t id) {
        Rect r;
        EXPECT_TRUE(host.gadgetRect(&d, id, r)) << id;
        return r;
    };
    // 8 px margin, 20 px rows, 12 px indent per level, 320 px wide.
    EXPECT_EQ(rect(501), (Rect{8, 8, 304, 260}));  // header + 12 rows inside
    EXPECT_EQ(rect(502), (Rect{20, 28, 292, 20}));
    EXPECT_EQ(rect(506), (Rect{20, 108, 292, 60}));  // radio group and its two radios
    EXPECT_EQ(rect(507), (Rect{32, 128, 280, 20}));
    EXPECT_EQ(rect(509), (Rect{20, 168, 292, 20}));  // its entries take no row
    EXPECT_EQ(rect(510), (Rect{}));
    EXPECT_EQ(rect(520), (Rect{8, 268, 304, 40}));
    EXPECT_EQ(rect(521), (Rect{20, 288, 292, 20}));
    EXPECT_EQ(rect(530), (Rect{8, 308, 40, 30}));  // the area's minimum size
    EXPECT_EQ(rect(541), (Rect{8, 358, 304, 20}));
    Rect r;
    EXPECT_FALSE(host.gadgetRect(&d, 999, r));

    // A wide area widens the dialog, and every full-width row with it.
    TestArea wide(host);
    wide.minW = 400;
    TestDialog e(host);
    e.area = &wide;
    ASSERT_TRUE(host.open(&e, 2));
    ASSERT_TRUE(host.gadgetRect(&e, 530, r));
    EXPECT_EQ(r, (Rect{8, 308, 400, 30}));
    ASSERT_TRUE(host.gadgetRect(&e, 502, r));
    EXPECT_EQ(r, (Rect{20, 28, 388, 20}));
}

TEST_F(Dialogs, DropsDeliverPointerPayloadAndFinishedFlagAndRecordTheCursor) {
    TestDialog d(host);
    struct Seen {
        double x = 0, y = 0;
        bool finished = false;
        int32_t kind = 0;
        std::vector<std::pair<void*, int32_t>> items;
    } seen;
    d.onMessage = [&](TestDialog& self, const Settings& m) {
        seen.kind = m.getInt(HOST_MSG_ID);
        seen.x = m.getReal(HOST_MSG_MOUSE_X);
        seen.y = m.getReal(HOST_MSG_MOUSE_Y);
        seen.finished = m.getBool(HOST_MSG_DRAG_FINISHED);
        seen.items.clear();
        for (int32_t i = 0; i < DialogHost::dragItemCount(m); ++i) {
            int32_t kind = 0;
            void* item = DialogHost::dragItem(m, i, &kind);
            seen.items.push_back({item, kind});
        }
        host::Rect area;
        host.gadgetRect(&self, 520, area);
        const bool over = seen.y > area.y && seen.y < area.y + area.h;
        host.setDragCursor(&self, !over ? 8 : seen.items.size() == 1 ? 19 : 5);
        return 1;
    };
    ASSERT_TRUE(host.open(&d, 1));
    host::PolygonObject cube("Cube");
    host::UVWTag uvw;
    const std::vector<host::DragItem> one = {host::DragItem::object(&cube)};
    const std::vector<host::DragItem> two = {host::DragItem::object(&cube), host::DragItem::tag(&uvw)};

    host::DropResult r = host.drop(&d, 520, one, false);
    EXPECT_TRUE(r.delivered);
    EXPECT_EQ(r.answer, 1);
    EXPECT_EQ(r.cursor, 19);
    EXPECT_EQ(seen.kind, HOST_MSGKIND_DRAG_RECEIVE);
    EXPECT_EQ(seen.x, 8 + 304 / 2.0);  // the centre of the drop area
    EXPECT_EQ(seen.y, 268 + 40 / 2.0);
    EXPECT_FALSE(seen.finished);
    ASSERT_EQ(seen.items.size(), 1u);
    EXPECT_EQ(seen.items[0].first, static_cast<void*>(host::toHandle(static_cast<host::Object*>(&cube))));
    EXPECT_EQ(seen.items[0].second, HOST_DRAG_OBJECT);

    r = host.drop(&d, 520, two, true);
    EXPECT_EQ(r.cursor, 5);
    EXPECT_TRUE(seen.finished);
    ASSERT_EQ(seen.items.size(), 2u);
    EXPECT_EQ(seen.items[1].first, static_cast<void*>(host::toHandle(static_cast<host::Tag*>(&uvw))));
    EXPECT_EQ(seen.items[1].second, HOST_DRAG_TAG);
    int32_t kind = -1;
    Settings empty;
    EXPECT_EQ(DialogHost::dragItem(empty, 0, &kind), nullptr);
    EXPECT_EQ(kind, 0);

    r = host.dropAt(&d, 100, 5, one, false);  // above every gadget
    EXPECT_TRUE(r.delivered);
    EXPECT_EQ(r.cursor, 8);
    EXPECT_EQ(seen.x, 100);
    EXPECT_EQ(seen.y, 5);

    // A disabled drop area takes nothing: the dialog is not asked.
    seen = {};
    host.enable(&d, 520, false);
    r = host.drop(&d, 520, one, true);
    EXPECT_FALSE(r.delivered);
    EXPECT_EQ(r.cursor, 0);
    EXPECT_EQ(seen.kind, 0);
    EXPECT_FALSE(host.drop(&d, 999, one, true).delivered);
}

TEST_F(Dialogs, TheFileChooserAnswersFromItsScript) {
    host.queueFileAnswer("/maps/normal.tif");
    host.queueFileAnswer("cancel");
    std::string path = "/doc/diffmap.tif";
    EXPECT_TRUE(host.chooseFile(path, true, "Normal map"));
    EXPECT_EQ(path, "/maps/normal.tif");
    EXPECT_FALSE(host.chooseFile(path, false, "Bump map"));
    EXPECT_EQ(path, "/maps/normal.tif");
    EXPECT_FALSE(host.chooseFile(path, false, "Again"));  // nothing queued: cancelled
    ASSERT_EQ(host.fileRequests().size(), 3u);
    EXPECT_TRUE(host.fileRequests()[0].forSave);
    EXPECT_EQ(host.fileRequests()[0].title, "Normal map");
    EXPECT_EQ(host.fileRequests()[0].proposed, "/doc/diffmap.tif");
    EXPECT_EQ(host.fileRequests()[0].answer, "/maps/normal.tif");
    EXPECT_FALSE(host.fileRequests()[1].forSave);
    EXPECT_EQ(host.fileRequests()[1].answer, "");
}

// ---------------------------------------------------------------------------------------------
// User areas

TEST_F(Dialogs, UserAreasAreInitialisedSizedAndGivenACanvas) {
    TestArea area(host);
    TestDialog d(host);
    d.area = &area;
    ASSERT_TRUE(host.open(&d, 1));
    EXPECT_EQ(area.inits, 1);
    EXPECT_EQ(area.initValuesCalls, 1);
    EXPECT_EQ(area.sizedW, 40);
    EXPECT_EQ(area.sizedH, 30);
    int32_t w = 0, h = 0;
    EXPECT_TRUE(host.areaSize(&area, w, h));
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 30);
    const host::Bitmap canvas = host.renderUserArea(&d, 530);
    ASSERT_EQ(canvas.width(), 40);
    ASSERT_EQ(canvas.height(), 30);
    EXPECT_EQ(pixel(canvas, 0, 0), kBg);
    EXPECT_EQ(pixel(canvas, 39, 29), kBg);
    EXPECT_EQ(host.renderUserArea(&d, 502).width(), 0);  // not an area
    EXPECT_FALSE(host.attachUserArea(&d, 502, &area));   // only user-area gadgets take one

    // An area whose init fails is not attached, and the dialog does not open.
    TestArea bad(host);
    bad.initAnswer = 0;
    TestDialog e(host);
    e.area = &bad;
    EXPECT_FALSE(host.open(&e, 1));
    EXPECT_FALSE(host.areaSize(&bad, w, h));
}

TEST_F(Dialogs, AreaDrawingProducesTheExpectedPixels) {
    TestArea area(host);
    host::Bitmap tile;
    ASSERT_TRUE(tile.init(2, 2, 3, 8));
    tile.setPixel(0, 0, 10, 20, 30);
    tile.setPixel(1, 0, 40, 50, 60);
    tile.setPixel(0, 1, 70, 80, 90);
    tile.setPixel(1, 1, 100, 110, 120);
    area.onDraw = [&](TestArea& a) {
        host.areaClear(&a, 0, 0, 39, 29);
        host.areaSetPen(&a, 1.0, 0.0, 0.0);
        host.areaDrawLine(&a, 2, 3, 9, 3);            // horizontal
        host.areaDrawLine(&a, 0, 10, 4, 14);          // diagonal
        host.areaDrawLine(&a, 30, 20, -1000000, 20);  // runs off the canvas
        host.areaSetPen(&a, 0.0, 0.5, 1.0);
        host.areaDrawLine(&a, 35, 25, 35, 25);                       // one point
        host.areaDrawBitmap(&a, tile, 0, 0, 2, 2, 20, 10, 4, 4, 0);  // doubled
        host.areaDrawBitmap(&a, tile, 1, 1, 1, 1, 38, 27, 5, 5, 0);  // clipped at the edge
        host.areaDrawBorder(&a, 1);
    };
    TestDialog d(host);
    d.area = &area;
    ASSERT_TRUE(host.open(&d, 1));
    const host::Bitmap c = host.renderUserArea(&d, 530);
    ASSERT_EQ(c.width(), 40);
    const std::array<int, 3> red = {255, 0, 0};
    for (int x = 2; x <= 9; ++x) EXPECT_EQ(pixel(c, x, 3), red) << x;
    EXPECT_EQ(pixel(c, 1, 3), kBg);
    EXPECT_EQ(pixel(c, 10, 3), kBg);
    for (int k = 0; k <= 4; ++k) EXPECT_EQ(pixel(c, k + 0, 10 + k), k == 0 ? kBorder : red) << k;
    EXPECT_EQ(pixel(c, 2, 11), kBg);
    EXPECT_EQ(pixel(c, 5, 15), kBg);
    for (int x = 1; x <= 30; ++x) EXPECT_EQ(pixel(c, x, 20), red) << x;
    EXPECT_EQ(pixel(c, 31, 20), kBg);
    EXPECT_EQ(pixel(c, 35, 25), (std::array<int, 3>{0, 128, 255}));
    EXPECT_EQ(pixel(c, 34, 25), kBg);
    // The 2x2 tile drawn 4x4: each source pixel covers 2x2 target pixels.
    EXPECT_EQ(pixel(c, 20, 10), (std::array<int, 3>{10, 20, 30}));
    EXPECT_EQ(pixel(c, 21, 11), (std::array<int, 3>{10, 20, 30}));
    EXPECT_EQ(pixel(c, 22, 10), (std::array<int, 3>{40, 50, 60}));
    EXPECT_EQ(pixel(c, 20, 12), (std::array<int, 3>{70, 80, 90}));
    EXPECT_EQ(pixel(c, 23, 13), (std::array<int, 3>{100, 110, 120}));
    EXPECT_EQ(pixel(c, 24, 10), kBg);
    EXPECT_EQ(pixel(c, 20, 14), kBg);
    EXPECT_EQ(pixel(c, 38, 27), (std::array<int, 3>{100, 110, 120}));
    // The border: one pixel all round.
    EXPECT_EQ(pixel(c, 0, 0), kBorder);
    EXPECT_EQ(pixel(c, 39, 15), kBorder);
    EXPECT_EQ(pixel(c, 20, 29), kBorder);
    EXPECT_EQ(pixel(c, 1, 1), kBg);
    EXPECT_EQ(DialogHost::borderWidth(0), 0);
    EXPECT_EQ(DialogHost::borderWidth(1), 1);
    EXPECT_EQ(DialogHost::borderWidth(2), 2);
}

TEST_F(Dialogs, BitmapsBlendWithTheirAlphaWhenAsked) {
    TestArea area(host);
    host::Bitmap rgba, grey;
    ASSERT_TRUE(rgba.init(1, 1, 4, 8));
    rgba.set8(0, 0, 0, 200);
    rgba.set8(0, 0, 1, 100);
    rgba.set8(0, 0, 2, 0);
    rgba.set8(0, 0, 3, 128);
    ASSERT_TRUE(grey.init(1, 1, 1, 8));
    grey.set8(0, 0, 0, 77);
    area.onDraw = [&](TestArea& a) {
        host.areaClear(&a, 0, 0, 39, 29);
        host.areaDrawBitmap(&a, rgba, 0, 0, 1, 1, 5, 5, 1, 1, host::HOST_BLIT_ALPHA);
        host.areaDrawBitmap(&a, rgba, 0, 0, 1, 1, 6, 5, 1, 1, 0);
        host.areaDrawBitmap(&a, grey, 0, 0, 1, 1, 7, 5, 1, 1, host::HOST_BLIT_ALPHA);
    };
    TestDialog d(host);
    d.area = &area;
    ASSERT_TRUE(host.open(&d, 1));
    const host::Bitmap c = host.renderUserArea(&d, 530);
    // (source * 128 + background 192 * 127 + 127) / 255 per channel.
    EXPECT_EQ(pixel(c, 5, 5), (std::array<int, 3>{196, 146, 96}));
    EXPECT_EQ(pixel(c, 6, 5), (std::array<int, 3>{200, 100, 0}));
    EXPECT_EQ(pixel(c, 7, 5), (std::array<int, 3>{77, 77, 77}));
}

TEST_F(Dialogs, TheMouseDragLoopDeliversTheScriptedSteps) {
    TestArea area(host);
    TestDialog d(host);
    d.area = &area;
    ASSERT_TRUE(host.open(&d, 1));
    host::AreaDragResult r = host.dragUserArea(&d, 530, 1, 5, 6, {{3, 0}, {-2, 0}, {7, 1}});
    EXPECT_TRUE(r.delivered);
    EXPECT_EQ(r.answer, 1);
    EXPECT_EQ(r.movesUsed, 3u);
    EXPECT_EQ(area.pressChannel, 1);
    EXPECT_EQ(area.pressX, 5);
    EXPECT_EQ(area.pressY, 6);
    EXPECT_EQ(area.dxs, (std::vector<double>{3, -2, 7}));
    EXPECT_EQ(area.dys, (std::vector<double>{0, 0, 1}));
    EXPECT_EQ(area.lastX, 13);
    EXPECT_EQ(area.lastY, 7);
    EXPECT_FALSE(area.cancelled);
    // Each step told the dialog with the dragging flag; the release without it.
    EXPECT_EQ(d.commands, (std::vector<std::pair<int32_t, bool>>{{530, true}, {530, true}, {530, true}, {530, false}}));
    EXPECT_EQ(host.gadget(&d, 530)->redrawRequests, 3);

    area.dxs.clear();
    r = host.dragUserArea(&d, 530, 1, 0, 0, {{1, 0}}, true);
    EXPECT_EQ(area.dxs, std::vector<double>{1});
    EXPECT_TRUE(area.cancelled);

    // An area that runs no loop leaves no moves behind for the next drag.
    area.runDragLoop = false;
    r = host.dragUserArea(&d, 530, 1, 0, 0, {{1, 0}, {2, 0}});
    EXPECT_TRUE(r.delivered);
    EXPECT_EQ(r.movesUsed, 0u);
    EXPECT_EQ(host.scriptedMovesLeft(), 0u);

    host.enable(&d, 530, false);
    const int presses = area.presses;
    EXPECT_FALSE(host.dragUserArea(&d, 530, 1, 0, 0, {{1, 0}}).delivered);
    EXPECT_EQ(area.presses, presses);
    EXPECT_FALSE(host.dragUserArea(&d, 502, 1, 0, 0, {}).delivered);
}

TEST_F(Dialogs, AViewDragWithoutAnAreaUsesTheSameScript) {
    double dx = 9, dy = 9;
    EXPECT_EQ(host.mouseDrag(&dx, &dy, nullptr), host::DLG_DRAG_RELEASED);  // no drag started
    EXPECT_EQ(dx, 0);
    host.scriptDrag({{1, 2}, {-4, 0.5}});
    ASSERT_TRUE(host.mouseDragStart(1, 100, 50, 0));
    Settings ch;
    EXPECT_EQ(host.mouseDrag(&dx, &dy, &ch), host::DLG_DRAG_CONTINUE);
    EXPECT_EQ(dx, 1);
    EXPECT_EQ(dy, 2);
    EXPECT_EQ(ch.getInt(HOST_MSG_CHANNEL), 1);
    EXPECT_EQ(host.mouseDrag(&dx, &dy, &ch), host::DLG_DRAG_CONTINUE);
    EXPECT_EQ(ch.getReal(HOST_MSG_MOUSE_X), 97);
    EXPECT_EQ(ch.getReal(HOST_MSG_MOUSE_Y), 52.5);
    EXPECT_EQ(host.mouseDrag(&dx, &dy, &ch), host::DLG_DRAG_RELEASED);
    EXPECT_EQ(dx, 0);
    EXPECT_FALSE(host.mouseDragEnd());

    // A loop left early: the button is up, the moves it did not take are gone.
    host.scriptDrag({{1, 0}, {2, 0}, {3, 0}});
    host.mouseDragStart(1, 0, 0, 0);
    EXPECT_EQ(host.mouseDrag(&dx, &dy, nullptr), host::DLG_DRAG_CONTINUE);
    EXPECT_FALSE(host.mouseDragEnd());
    EXPECT_EQ(host.scriptedMovesLeft(), 0u);
    EXPECT_EQ(host.mouseDrag(&dx, &dy, nullptr), host::DLG_DRAG_RELEASED);
}

// ---------------------------------------------------------------------------------------------
// Reading the dialog back

TEST_F(Dialogs, RenderShowsLabelsValuesAndDisabledGadgets) {
    TestArea area(host);
    TestDialog d(host);
    d.area = &area;
    ASSERT_TRUE(host.open(&d, 1));
    host.enable(&d, 503, false);
    EXPECT_EQ(host.render(&d),
              "Test dialog\n"
              "  Settings:\n"
              "    Width: 600\n"
              "    Error: 0.5 (disabled)\n"
              "    Strength: 100 %\n"
              "    [x] Smooth\n"
              "    Mode:\n"
              "      (*) First\n"
              "      ( ) Second\n"
              "    Format: BMP\n"
              "    Name: cube\n"
              "    File: (none)\n"
              "    Highlight: colour 1 0 0, brightness 100 %\n"
              "    [Choose...]\n"
              "  Drop here: [drop here]\n"
              "    Object: Cube\n"
              "  Dial: [area 40 x 30]\n"
              "  Status: Idle\n"
              "  [Bake]\n"
              "  Later: soon (disabled)\n");
    host.enable(&d, 501, false);
    host.setBool(&d, 505, false);
    const std::string text = host.render(&d);
    EXPECT_NE(text.find("  Settings: (disabled)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("    [ ] Smooth (disabled)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("      (*) First (disabled)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  [Bake]\n"), std::string::npos) << text;
    EXPECT_EQ(host.render(nullptr), "");
}

// ---------------------------------------------------------------------------------------------
// The module's own layouts

TEST_F(Dialogs, TheBakingLayoutKeepsStopUsableAndSeparatesItsDropAreas) {
    std::string error;
    auto moduleRes = host::ResourceSet::open(VEXLOR_SOURCE_DIR, &error);
    ASSERT_NE(moduleRes, nullptr) << error;
    host.setResources(moduleRes.get());
    TestDialog d(host, 10023);
    d.fill = false;
    d.onMessage = [](TestDialog&, const Settings&) { return 1; };
    ASSERT_TRUE(host.open(&d, 1016396));

    host::Rect high, low;
    ASSERT_TRUE(host.gadgetRect(&d, 10026, high));
    ASSERT_TRUE(host.gadgetRect(&d, 10034, low));
    EXPECT_GE(high.h, 5 * 20);          // header and its four gadgets
    EXPECT_GE(low.y, high.y + high.h);  // no pointer row is over both
    EXPECT_TRUE(host.drop(&d, 10026, {}, false).delivered);
    // The settings group ends with the displacement group, whose own children end it.
    host::Rect settings, lastButton;
    ASSERT_TRUE(host.gadgetRect(&d, 10024, settings));
    ASSERT_TRUE(host.gadgetRect(&d, 10099, lastButton));
    EXPECT_EQ(settings.y + settings.h, lastButton.y + lastButton.h);

    const std::string idle = host.render(&d);
    EXPECT_NE(idle.find("Bit depth: 8 bits (disabled)"), std::string::npos) << idle;
    EXPECT_NE(idle.find("Supersampling: 1 x 1\n"), std::string::npos) << idle;
    EXPECT_NE(idle.find("  [Bake]\n"), std::string::npos) << idle;

    // While baking, the settings group is off and only the stop button (and the texts) remain.
    host.enable(&d, 10024, false);
    for (int32_t id : {10026, 10031, 10033, 10040, 10042, 10061, 10063, 10064, 10085, 10099})
        EXPECT_FALSE(host.usable(&d, id)) << id;
    EXPECT_TRUE(host.usable(&d, 10104));
    EXPECT_FALSE(host.drop(&d, 10026, {}, true).delivered);
    EXPECT_FALSE(host.setByUser(&d, 10040, 800));
    EXPECT_TRUE(host.press(&d, 10104));
    host.setResources(&res);
}

// ---------------------------------------------------------------------------------------------
// Through the host table

namespace {

// A dialog that reaches the host only through the table, as the module does.
struct ApiDialog : HostDialogBase {
    const HostApi* api = host::hostApi();
    std::vector<std::pair<int32_t, int32_t>> core;
    int32_t createLayout() override { return api->dlgLoadLayout(this, 500); }
    int32_t initValues() override {
        api->dlgSetInt(this, 502, 5, 10, 6400, 1);
        api->dlgSetTimer(this, 1000);
        return 1;
    }
    int32_t coreMessage(int32_t id, const HstSettings* msg) override {
        core.push_back({id, settingsOf(msg).getInt(host::DLG_MSG_VALUE1)});
        return 1;
    }
};

}  // namespace

TEST_F(Dialogs, TheTableEntriesReachTheMainDialogHost) {
    DialogHost& main = DialogHost::main();
    const host::ResourceSet* previous = main.resources();
    main.reset();
    main.setResources(&res);
    const HostApi* api = host::hostApi();
    ASSERT_NE(api->dlgOpen, nullptr);
    ASSERT_NE(api->mouseDragEnd, nullptr);

    ApiDialog d;
    ASSERT_EQ(api->dlgOpen(&d, 42, -1, -1, 0, 0), 1);
    EXPECT_TRUE(main.isOpen(&d));
    int32_t i = 0;
    ASSERT_EQ(api->dlgGetInt(&d, 502, &i), 1);
    EXPECT_EQ(i, 10);  // 5 in a 10..6400 field
    EXPECT_EQ(api->dlgGetInt(&d, 999, &i), 0);
    EXPECT_EQ(api->dlgGetInt(&d, 502, nullptr), 0);

    double r = 0;
    ASSERT_EQ(api->dlgSetReal(&d, 504, 0.25, 0, 1, 0.01, host::HOST_FORMAT_PERCENT), 1);
    ASSERT_EQ(api->dlgGetReal(&d, 504, &r), 1);
    EXPECT_EQ(r, 0.25);
    HstString in{"hello"}, out{""};
    ASSERT_EQ(api->dlgSetString(&d, 512, &in), 1);
    ASSERT_EQ(api->dlgGetString(&d, 512, &out), 1);
    EXPECT_EQ(out.text, "hello");
    ASSERT_EQ(api->dlgGetString(&d, 504, &out), 1);
    EXPECT_EQ(out.text, "25 %");
    HstFilename fin{"/a/b.tif"}, fout{""};
    ASSERT_EQ(api->dlgSetFilename(&d, 513, &fin), 1);
    ASSERT_EQ(api->dlgGetFilename(&d, 513, &fout), 1);
    EXPECT_EQ(fout.path, "/a/b.tif");
    int32_t b = 0;
    ASSERT_EQ(api->dlgSetBool(&d, 505, 1), 1);
    ASSERT_EQ(api->dlgGetBool(&d, 505, &b), 1);
    EXPECT_EQ(b, 1);
    const double colour[3] = {0.5, 2.0, 0.0};
    ASSERT_EQ(api->dlgSetColor(&d, 514, colour, 0.75, 1.0, 3), 1);
    double back[3] = {}, brightness = 0;
    ASSERT_EQ(api->dlgGetColor(&d, 514, back, &brightness), 1);
    EXPECT_EQ(back[1], 1.0);
    EXPECT_EQ(brightness, 0.75);
    ASSERT_EQ(api->dlgEnable(&d, 501, 0), 1);
    EXPECT_FALSE(main.usable(&d, 502));
    int32_t rect[4] = {};
    ASSERT_EQ(api->dlgGadgetRect(&d, 541, rect), 1);
    EXPECT_EQ((std::array<int32_t, 4>{rect[0], rect[1], rect[2], rect[3]}),
              (std::array<int32_t, 4>{8, 348, 304, 20}));  // the empty area gadget is one row
    EXPECT_EQ(main.timerPeriod(&d), 1000);

    // Events posted through the table reach the dialog when the main queue is pumped.
    api->specialEvent(1015827, 4, 0);
    api->postMessage(42, 9);
    api->postMessage(43, 1);
    host::EventQueue::main().pump();
    EXPECT_EQ(d.core, (std::vector<std::pair<int32_t, int32_t>>{{1015827, 4}, {42, 9}}));

    // Drag payloads, the file chooser and the mouse loop.
    Settings msg;
    msg.setInt(host::DLG_MSG_DRAG_COUNT, 1);
    int dummy = 0;
    msg.setLink(host::DLG_MSG_DRAG_ITEMS, &dummy);
    msg.setInt(host::DLG_MSG_DRAG_ITEMS + 1, HOST_DRAG_TAG);
    EXPECT_EQ(api->dragItemCount(host::wrapSettings(msg)), 1);
    int32_t kind = 0;
    EXPECT_EQ(api->dragItem(host::wrapSettings(msg), 0, &kind), &dummy);
    EXPECT_EQ(kind, HOST_DRAG_TAG);
    EXPECT_EQ(api->dragItem(host::wrapSettings(msg), 1, &kind), nullptr);
    main.queueFileAnswer("/out/gimap.tif");
    HstFilename chosen{"/doc/gimap.tif"};
    EXPECT_EQ(api->fileChoose(&chosen, 1, "Occlusion map"), 1);
    EXPECT_EQ(chosen.path, "/out/gimap.tif");
    EXPECT_EQ(api->fileChoose(&chosen, 1, "Occlusion map"), 0);
    EXPECT_EQ(chosen.path, "/out/gimap.tif");
    main.scriptDrag({{2, 0}}, true);
    ASSERT_EQ(api->mouseDragStart(1, 0, 0, 0), 1);
    double dx = 0, dy = 0;
    EXPECT_EQ(api->mouseDrag(&dx, &dy, nullptr), 3);
    EXPECT_EQ(dx, 2);
    EXPECT_EQ(api->mouseDrag(&dx, &dy, nullptr), host::DLG_DRAG_CANCELLED);
    EXPECT_EQ(api->mouseDragEnd(), 1);

    api->dlgClose(&d);
    EXPECT_FALSE(main.isOpen(&d));
    api->dlgForget(&d);
    main.reset();
    main.setResources(previous);
}

TEST_F(Dialogs, UserAreaEntriesOfTheTableDrawIntoTheCanvas) {
    DialogHost& main = DialogHost::main();
    const host::ResourceSet* previous = main.resources();
    main.reset();
    main.setResources(&res);
    const HostApi* api = host::hostApi();
    HstBitmap tile;
    ASSERT_TRUE(tile.bitmap.init(1, 1, 3, 8));
    tile.bitmap.setPixel(0, 0, 1, 2, 3);
    TestArea area(main);
    area.onDraw = [&](TestArea& a) {
        int32_t w = 0, h = 0;
        api->uaSize(&a, &w, &h);
        api->uaClear(&a, 0, 0, w - 1, h - 1);
        api->uaSetPen(&a, 0, 1, 0);
        api->uaDrawLine(&a, 0, h - 1, w - 1, h - 1);
        api->uaDrawBitmap(&a, &tile, 0, 0, 1, 1, 3, 3, 2, 2, 0);
        int32_t border[4] = {};
        api->uaBorderSize(&a, 2, border);
        EXPECT_EQ(border[0], 2);
    };
    TestDialog d(main);
    d.area = &area;
    ASSERT_TRUE(main.open(&d, 1));
    api->uaRedraw(&area);
    EXPECT_EQ(main.gadget(&d, 530)->redrawRequests, 1);
    EXPECT_EQ(main.gadget(&d, 530)->drawCount, 1);
    const host::Bitmap c = main.renderUserArea(&d, 530);
    EXPECT_EQ(pixel(c, 0, 29), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(pixel(c, 39, 29), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(pixel(c, 4, 4), (std::array<int, 3>{1, 2, 3}));
    EXPECT_EQ(pixel(c, 5, 5), kBg);
    api->uaNotify(&area, 1);
    EXPECT_EQ(d.commands.back(), (std::pair<int32_t, bool>{530, true}));
    main.forget(&d);
    main.reset();
    main.setResources(previous);
}
