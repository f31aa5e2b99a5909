#include "EventQueue.h"

namespace host {

void EventQueue::post(const Event& e) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(e);
    }
    wake_.notify_all();
}

int EventQueue::pump() {
    int n = 0;
    for (;;) {
        Event e;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty()) return n;
            e = queue_.front();
            queue_.pop_front();
        }
        if (handler_) handler_(e);
        ++n;
    }
}

bool EventQueue::pumpUntil(const std::function<bool()>& done, int64_t timeoutMs, const std::function<void()>& idle,
                           int64_t idleEveryMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        pump();
        if (done()) return true;
        if (timeoutMs >= 0 && Clock::now() >= deadline) return false;
        if (idle) idle();
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(idleEveryMs), [&] { return !queue_.empty(); });
    }
}

size_t EventQueue::pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

}  // namespace host
