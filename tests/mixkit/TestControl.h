// A reduction control for the core's tests: it counts the stop questions and answers yes from a
// chosen one on (or once `stop` is set, from any thread), keeps the progress it is told, and runs a
// clock that moves by `tick` milliseconds at each reading, so that the loops' polls fall where a
// test wants them without waiting.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>
#include <vector>

#include "mixkit/ReductionControl.h"

namespace mixtest {

class TestControl final : public ReductionControl {
public:
    explicit TestControl(int stopAfter = INT_MAX, int64_t tick = 0) : stopAfter_(stopAfter), tick_(tick) {}

    bool stopRequested() override { return ++questions > stopAfter_.load() || stop.load(); }
    void busy() override { ++busyCalls; }
    void pointsLeft(int32_t count, int32_t percent) override { progress.push_back({count, percent}); }
    void finished() override { ++finishedCalls; }
    int64_t nowMs() override { return clock_ += tick_; }

    // From the next question on, the answer is yes.
    void answerYesFromNow() { stopAfter_ = questions.load(); }

    struct Progress {
        int32_t count, percent;
    };
    std::atomic<int> questions{0};
    std::atomic<int> busyCalls{0};
    std::atomic<bool> stop{false};
    // Told by the loop, on its own thread.
    std::vector<Progress> progress;
    int finishedCalls = 0;

private:
    std::atomic<int> stopAfter_;
    const int64_t tick_;
    std::atomic<int64_t> clock_{0};
};

}  // namespace mixtest
