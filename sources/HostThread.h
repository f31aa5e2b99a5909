// Base of the module's worker threads. The host makes its thread record when the object is built
// and drops it (after asking the thread to stop and waiting for it) when the object goes. A derived
// class whose main uses its own fields must stop the thread in its own destructor (stop()), before
// those fields are gone.
#pragma once

#include "sources/HostInterface.h"

class HostThread : public HostThreadBase {
public:
    HostThread();
    ~HostThread() override;
    HostThread(const HostThread&) = delete;
    HostThread& operator=(const HostThread&) = delete;

    // Runs main on a new host thread; false when it could not start (or still runs).
    bool start();
    bool isRunning();
    // Asks the thread to stop; with `wait`, returns once it has ended.
    void end(bool wait = true);
    void wait();
    // Asks for a stop and waits (when running).
    void stop() {
        if (isRunning()) end(true);
    }
    // True once a stop was asked (or this object's own test says so); for main's polls.
    bool breakRequested();
};
