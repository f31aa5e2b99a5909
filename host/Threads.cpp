#include "Threads.h"

namespace host {
namespace {
thread_local Thread* tCurrent = nullptr;
}

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
