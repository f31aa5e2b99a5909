// What the reduction core asks of whoever runs it: whether to stop, where progress goes, and the
// time that spaces the progress out. The core reaches nothing outside itself for these, so a test
// can run it with a control of its own; the reduction plug-in adapts the host's thread, status bar
// and clock (reduction/HostReductionControl.h).
#pragma once

#include <cstdint>

class ReductionControl {
public:
    virtual ~ReductionControl() = default;

    // Whether the reduction should stop. The set-up workers ask at every 1000th item, several at
    // once, so an answer must be safe from any thread.
    virtual bool stopRequested() = 0;
    // The work goes on without a count to show (the set-up passes, or a loop without a
    // percentage); asked by the set-up workers too.
    virtual void busy() = 0;
    // A loop's reducible points left and, where it shows one, the share of its way done in whole
    // percent (else -1).
    virtual void pointsLeft(int32_t count, int32_t percent) = 0;
    // A loop ended: what the progress showed is cleared.
    virtual void finished() = 0;
    // Milliseconds on a steady clock; the loops ask for a stop and show progress at most every
    // 50 of them.
    virtual int64_t nowMs() = 0;
};
