// Clocks for the benchmarks: wall time, and this process's processor time, which on a busy machine
// shows what the work itself costs. Best keeps the shortest of several runs of each.
#pragma once

#include <algorithm>
#include <chrono>
#include <ctime>

namespace bench {

inline double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Best {
    double wall = 1e30, cpu = 1e30;
    double w0 = 0, c0 = 0;
    void start() {
        w0 = seconds();
        c0 = cpuSeconds();
    }
    void stop() {
        wall = std::min(wall, seconds() - w0);
        cpu = std::min(cpu, cpuSeconds() - c0);
    }
};

}  // namespace bench
