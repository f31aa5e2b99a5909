// Ctrl-C and the host session: a Ctrl-C pressed before the work starts waiting (while the input
// loads) still stops it.
#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "app/HostSession.h"

TEST(HostSessionInterrupt, CtrlCWhileLoadingStopsTheWorkWhenItStartsWaiting) {
    std::string error;
    std::unique_ptr<app::HostSession> session = app::HostSession::start(VEXLOR_BIN_DIR, &error);
    ASSERT_TRUE(session) << error;
    std::raise(SIGINT);  // as if pressed during the file's load
    bool stopPressed = false;
    EXPECT_FALSE(session->waitFor([&] { return stopPressed; }, [&] { stopPressed = true; }));
    EXPECT_TRUE(stopPressed);
    // A new session starts with no Ctrl-C pending.
    session.reset();
    session = app::HostSession::start(VEXLOR_BIN_DIR, &error);
    ASSERT_TRUE(session) << error;
    int polls = 0;
    EXPECT_TRUE(session->waitFor([&] { return ++polls > 3; }, [] {}));
}
