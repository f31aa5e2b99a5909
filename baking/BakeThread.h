// BakeThread: the worker thread of the baking dialog. It carries the settings record that the
// dialog fills before each start, runs the bake on it, leaves the outcome in the record's status
// text and tells the dialog that it has ended by posting the message OMBRIN_ID.
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
    // with 1 after a successful bake and 0 otherwise.
    void main() override;

    // The outcome of the last bake that ended: 1 success, 0 failure or stop, -1 none yet.
    int32_t lastResult() const { return lastResult_.load(); }
    // Where the last bake's time went.
    const NormalMapperStats& stats() const { return mapper_.stats(); }

    BakeSettings settings;

private:
    NormalMapper mapper_;
    std::atomic<int32_t> lastResult_{-1};
};
