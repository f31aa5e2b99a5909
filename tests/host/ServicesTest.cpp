#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "host/EventQueue.h"
#include "host/Services.h"
#include "host/StatusBar.h"
#include "host/Threads.h"

TEST(Threads, StopFromOutsideTurnsTheBreakTestTrue) {
    std::atomic<bool> sawBreak{false};
    std::atomic<int> loops{0};
    host::Thread t([&](host::Thread& self) {
        EXPECT_EQ(host::Thread::current(), &self);
        while (!self.testBreak()) {
            ++loops;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        sawBreak = true;
    });
    EXPECT_FALSE(t.testBreak());
    ASSERT_TRUE(t.start());
    EXPECT_FALSE(t.start());  // already running
    while (loops.load() < 3) std::this_thread::yield();
    EXPECT_TRUE(t.isRunning());
    t.end(true);
    EXPECT_TRUE(sawBreak.load());
    EXPECT_FALSE(t.isRunning());
    EXPECT_EQ(host::Thread::current(), nullptr);
}

TEST(Threads, RestartClearsTheStopRequestAndExtraTestBreaks) {
    std::atomic<bool> extra{false};
    std::atomic<int> runs{0};
    host::Thread t([&](host::Thread& self) {
        EXPECT_FALSE(self.testBreak());
        ++runs;
    },
                   [&] { return extra.load(); });
    ASSERT_TRUE(t.start());
    t.wait();
    t.end();
    ASSERT_TRUE(t.start());
    t.wait();
    EXPECT_EQ(runs.load(), 2);
    extra = true;
    EXPECT_TRUE(t.testBreak());
}

TEST(EventQueue, WorkerEventsAreDeliveredOnThePumpingThread) {
    host::EventQueue q;
    std::vector<int> seen;
    const auto mainId = std::this_thread::get_id();
    q.setHandler([&](const host::Event& e) {
        EXPECT_EQ(std::this_thread::get_id(), mainId);
        seen.push_back(e.id);
    });
    std::thread worker([&] {
        q.post({host::Event::Kind::Special, 1015827, 0, 0, nullptr});
        q.post({host::Event::Kind::DialogMessage, 1016396, 1, 2, nullptr});
    });
    EXPECT_TRUE(q.pumpUntil([&] { return seen.size() == 2; }, 5000));
    worker.join();
    EXPECT_EQ(seen, (std::vector<int>{1015827, 1016396}));
    EXPECT_FALSE(q.pumpUntil([] { return false; }, 20));
    EXPECT_EQ(q.pending(), 0u);
}

TEST(StatusBar, ShowsBarTextAndSpinnerAndClears) {
    host::StatusBar bar(nullptr);
    bar.setRecording(true);
    bar.bar(45);
    bar.text("12000 points");
    EXPECT_EQ(bar.line(), "[#########...........] 45% 12000 points");
    bar.bar(140);
    EXPECT_EQ(bar.percent(), 100);
    bar.spin();
    EXPECT_EQ(bar.line(), "[|] 12000 points");
    bar.spin();
    EXPECT_EQ(bar.line(), "[/] 12000 points");
    bar.clear();
    EXPECT_EQ(bar.line(), "");
    EXPECT_EQ(bar.recorded().size(), 5u);
}

TEST(Console, CapturesLines) {
    host::Console c;
    c.setCapturing(true);
    c.print("NO MEMORY: Stack 218");
    c.print("second");
    EXPECT_EQ(c.takeCaptured(), (std::vector<std::string>{"NO MEMORY: Stack 218", "second"}));
    EXPECT_TRUE(c.takeCaptured().empty());
}

TEST(Services, NumberTexts) {
    EXPECT_EQ(host::numberText(-42LL), "-42");
    EXPECT_EQ(host::numberText(0.1), "0.1");
    EXPECT_EQ(host::numberText(2.5, 3), "2.500");
    EXPECT_EQ(host::numberText(1.0 / 3.0, 6), "0.333333");
}

TEST(Services, FileNames) {
    namespace fn = host::filename;
    EXPECT_EQ(fn::join("res", "VXIcon.tif"), "res/VXIcon.tif");
    EXPECT_EQ(fn::join("res/", "/x"), "res/x");
    EXPECT_EQ(fn::join("", "x"), "x");
    EXPECT_EQ(fn::setSuffix("out/map.obj", "tif"), "out/map.tif");
    EXPECT_EQ(fn::setSuffix("out.d/map", "tga"), "out.d/map.tga");
    EXPECT_EQ(fn::setSuffix(".hidden", "bmp"), ".hidden.bmp");
    EXPECT_EQ(fn::suffix("a/b.TIF"), "TIF");
    EXPECT_EQ(fn::suffix("a.b/c"), "");
    EXPECT_EQ(fn::base("a/b/c.obj"), "c.obj");
    EXPECT_EQ(fn::directory("a/b/c.obj"), "a/b");
    EXPECT_EQ(fn::directory("/c.obj"), "/");
    EXPECT_TRUE(fn::isEmpty(""));
}

TEST(Services, RandomIsSeededAndInRange) {
    host::Random a(7), b(7);
    for (int i = 0; i < 100; ++i) {
        const double x = a.nextReal();
        EXPECT_EQ(x, b.nextReal());
        EXPECT_GE(x, 0.0);
        EXPECT_LT(x, 1.0);
    }
    const long long t0 = host::clockMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(host::clockMs(), t0 + 4);
}
