// NMWorkers: one job on several host worker threads at once. Worker 0 is the calling thread; the
// others run on host threads whose break test is the owner thread's, so a stop asked of the bake
// reaches every worker. The job hands out its work itself (workers take the next piece from a
// shared counter), so the result never depends on how many workers there were or which did what.
#pragma once

#include <cstdint>

#include "sources/HostInterface.h"

class NMJob {
public:
    virtual ~NMJob() = default;
    // Runs on worker `worker` (0 to count − 1) until the job's work is done or abandoned.
    virtual void work(int32_t worker) = 0;
};

// How many workers to run: `wanted` when above 0, else the host's worker thread count; at least 1
// and at most 256.
int32_t nmWorkerCount(int32_t wanted);

// Runs job.work(i) for i = 0 to count − 1 and returns when all have returned. Worker 0 runs on the
// calling thread. A worker thread that cannot be made or started is left out (its work is taken by
// the others); the answer is the number of workers that ran.
int32_t runWorkers(NMJob& job, int32_t count, HostThreadBase* owner);
