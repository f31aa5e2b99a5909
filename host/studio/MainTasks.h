// The main thread's queue of work that other threads hand it (the studio's interface calls).
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace host::studio {

// Work handed to the main thread by other threads. The main thread runs it between its other duties.
class MainTasks {
public:
    using Task = std::function<void()>;

    // A queued task. Whoever comes first decides: the main thread starting it, or its sender
    // withdrawing it (then it never runs).
    class Job {
    public:
        bool started() const { return state_.load() == kStarted; }
        // True when the job will never run (withdrawn now or before); false once it started.
        bool withdraw();

    private:
        friend class MainTasks;
        static constexpr int kQueued = 0, kStarted = 1, kWithdrawn = 2;
        std::atomic<int> state_{kQueued};
        Task task_;
        std::string what_;
    };

    // Queues `t`; `what` names it while it runs (for the busy answers of other calls).
    std::shared_ptr<Job> submit(Task t, std::string what);
    void post(Task t);
    // Runs every queued task that was not withdrawn; returns how many ran.
    int runPending();
    // Waits until a task is queued or `ms` passed.
    void waitForWork(int ms);
    // Wakes a waiting main thread without a task (a stop request, a signal).
    void wake();
    // What the main thread runs now ("" between tasks).
    std::string running() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::shared_ptr<Job>> tasks_;
    std::string running_;
    bool woken_ = false;
};

}  // namespace host::studio
