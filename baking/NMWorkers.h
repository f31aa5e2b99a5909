// The bake's workers: the module's worker jobs (sources/HostWorkers.h) under the baker's names.
#pragma once

#include "sources/HostWorkers.h"

using NMJob = WorkerJob;

// How many workers to run: `wanted` when above 0, else the host's worker thread count.
inline int32_t nmWorkerCount(int32_t wanted) { return workerCount(wanted); }
