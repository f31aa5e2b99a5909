// Runs the module's worker jobs on the calling thread alone while in scope. An allocation sweep
// refuses the n-th allocation of a run it counted once; with several workers, which allocation comes
// n-th depends on how the threads interleave, and a refused worker thread is not a failure at all.
// The sweeps on several workers, with those outcomes allowed for, are the parallel set-up's own tests.
#pragma once

#include "host/Threads.h"

namespace testsupport {

class OneWorker {
public:
    OneWorker() { host::setWorkerThreadCount(1); }
    ~OneWorker() { host::setWorkerThreadCount(0); }
    OneWorker(const OneWorker&) = delete;
    OneWorker& operator=(const OneWorker&) = delete;
};

}  // namespace testsupport
