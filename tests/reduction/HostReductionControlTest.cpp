// The reduction core's control on the host: stops through the thread's break test (the host's stop
// flag included), progress on the status bar in the order the bar's line reads.
#include "host/StatusBar.h"
#include "reduction/HostReductionControl.h"
#include "sources/HostThread.h"
#include "tests/reduction/ReductionTestSupport.h"

namespace redtest {
namespace {

using HostReductionControlTest = ReductionTest;

// A host thread whose own break test gives a fixed answer.
class Answering : public HostThread {
public:
    explicit Answering(int32_t answer) : answer_(answer) {}
    ~Answering() override { stop(); }
    int32_t testBreak() override { return answer_; }
    void main() override {}

private:
    int32_t answer_;
};

TEST_F(HostReductionControlTest, StopsWhenTheThreadOrTheHostSaysSo) {
    EXPECT_FALSE(HostReductionControl(nullptr).stopRequested());
    Answering no(0), yes(1), stopped(0);
    stopped.end(false);  // the host's stop flag, not the thread's own test
    EXPECT_FALSE(HostReductionControl(&no).stopRequested());
    EXPECT_TRUE(HostReductionControl(&yes).stopRequested());
    EXPECT_TRUE(HostReductionControl(&stopped).stopRequested());
}

TEST_F(HostReductionControlTest, ProgressGoesToTheStatusBar) {
    host::StatusBar& bar = host::StatusBar::main();
    bar.setQuiet(true);
    HostReductionControl control(nullptr);
    struct Step {
        int32_t count, percent;  // count < 0: busy; percent -2: finished
        const char* line;
    };
    const Step steps[] = {
        {1234, 40, "[########............] 40% 1234"},
        {0, -2, ""},
        {77, -1, "77"},  // no percentage: the count alone
        {-1, 0, "[|] 77"},
        {0, -2, ""},
    };
    for (const Step& s : steps) {
        if (s.percent == -2)
            control.finished();
        else if (s.count < 0)
            control.busy();
        else
            control.pointsLeft(s.count, s.percent);
        EXPECT_EQ(bar.line(), s.line);
    }
    bar.setQuiet(false);
}

}  // namespace
}  // namespace redtest
