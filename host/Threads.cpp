#include "Threads.h"

namespace host {
namespace {
thread_local Thread* tCurrent = nullptr;
std::atomic<int> gWorkerThreads{0};  // 0: the number of cores
}  // namespace

int workerThreadCount() {
    const int set = gWorkerThreads.load();
    if (set > 0) return set;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int>(cores) : 1;
}
void setWorkerThreadCount(int count) { gWorkerThreads.store(count > 0 ? count : 0); }

Thread::Thread(Main main, BreakTest extraBreakTest) : main_(std::move(main)), extra_(std::move(extraBreakTest)) {}

Thread::~Thread() { end(true); }

bool Thread::start() {
    std::lock_guard<std::mutex> lock(joinMutex_);
    if (running_.load()) return false;
    if (thread_.joinable()) thread_.join();  // the previous run has returned
    stop_ = false;
    running_ = true;
    thread_ = std::thread([this] {
        tCurrent = this;
        if (main_) main_(*this);
        tCurrent = nullptr;
        running_ = false;
    });
    return true;
}

void Thread::end(bool waitForIt) {
    stop_ = true;
    if (waitForIt) wait();
}

void Thread::wait() {
    std::lock_guard<std::mutex> lock(joinMutex_);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool Thread::testBreak() const { return stop_.load() || (extra_ && extra_()); }

Thread* Thread::current() { return tCurrent; }

}  // namespace host
