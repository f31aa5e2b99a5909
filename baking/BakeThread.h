// BakeThread: the worker thread of the baking dialog. It carries the settings record that the
// dialog fills before each start, runs the bake on it, keeps its outcome, shows it in the record's
// status text and posts it as the value of the message OMBRIN_ID, which tells the dialog (and
// whoever waits for the bake) that it has ended.
#pragma once

#include <atomic>
#include <cstdint>

#include "baking/BakeSettings.h"
#include "baking/NormalMapper.h"
#include "sources/HostThread.h"
#include "sources/ResourceIds.h"

class BakeThread : public HostThread {
public:
    // Settings at their starting values, with a random generator for the occlusion directions.
    BakeThread();
    // Stops a running bake and waits for it before the settings go.
    ~BakeThread() override;

    // Runs the bake; the status text becomes BAKE_TEXT_DONE or BAKE_TEXT_FAILED; posts OMBRIN_ID
    // with the outcome (BAKE_END_DONE, BAKE_END_STOPPED or BAKE_END_FAILED).
    void main() override;

    // The outcome of the last bake that ended (BAKE_END_...), -1 none yet.
    int32_t lastResult() const { return lastResult_.load(); }
    // Where the last bake's time went.
    const NormalMapperStats& stats() const { return mapper_.stats(); }

    BakeSettings settings;

private:
    NormalMapper mapper_;
    std::atomic<int32_t> lastResult_{-1};
};
