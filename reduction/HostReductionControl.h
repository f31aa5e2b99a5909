// The reduction core's control on the host: stops through a host thread's break test (the host's
// stop flag included), progress on the host's status bar, time from the host's clock.
#pragma once

#include <cstdint>

#include "mixkit/ReductionControl.h"
#include "sources/HostInterface.h"

class HostReductionControl final : public ReductionControl {
public:
    // `thread`: whose break test is asked (null: never stop; progress is still shown).
    explicit HostReductionControl(HostThreadBase* thread) : thread_(thread) {}

    bool stopRequested() override;
    void busy() override;
    // The bar at the percentage (when there is one), then the count as the status text.
    void pointsLeft(int32_t count, int32_t percent) override;
    void finished() override;
    int64_t nowMs() override;

private:
    HostThreadBase* thread_;
};
