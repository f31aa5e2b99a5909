// Host worker threads: a main routine on a new std::thread, and a break test that turns true once
// someone asked the thread to stop (or the owner's own test says so).
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace host {

class Thread {
public:
    using Main = std::function<void(Thread&)>;
    using BreakTest = std::function<bool()>;

    explicit Thread(Main main, BreakTest extraBreakTest = {});
    ~Thread();  // asks the thread to stop and waits for it
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts the main routine on a new thread; false when it is still running.
    bool start();
    bool isRunning() const { return running_.load(); }
    // Asks the thread to stop; with `wait`, returns when it has ended.
    void end(bool wait = true);
    // Waits for the main routine to return.
    void wait();
    // True once a stop was asked, or when the extra break test says so.
    bool testBreak() const;

    // The host thread the caller runs on, or null on a thread the host did not start.
    static Thread* current();

private:
    Main main_;
    BreakTest extra_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stop_{false};
    std::mutex joinMutex_;
};

// How many worker threads a module should run side by side for one task: the number of processor
// cores unless set (values below 1 go back to that default).
int workerThreadCount();
void setWorkerThreadCount(int count);

// Runs work(i) for i in [0, count) side by side: the first on the calling thread, the others on
// threads of their own (or on the calling thread after the first, when no thread can be had). An
// exception that work(i) throws is kept in failures[i], for the caller to throw again.
template <class Work>
void runSideBySide(int count, std::vector<std::exception_ptr>& failures, const Work& work) {
    failures.assign(static_cast<size_t>(count > 0 ? count : 0), nullptr);
    if (count <= 0) return;
    auto guarded = [&](int i) {
        try {
            work(i);
        } catch (...) {
            failures[static_cast<size_t>(i)] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    int started = 1;
    try {
        for (; started < count; ++started) threads.emplace_back(guarded, started);
    } catch (const std::exception&) {
        // No more threads: the work left is done here.
    }
    guarded(0);
    for (int i = started; i < count; ++i) guarded(i);
    for (std::thread& t : threads) t.join();
}

}  // namespace host
