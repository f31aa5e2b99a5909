#include "host/studio/MainTasks.h"

namespace host::studio {

bool MainTasks::Job::withdraw() {
    int expected = kQueued;
    if (state_.compare_exchange_strong(expected, kWithdrawn)) return true;
    return expected == kWithdrawn;
}

std::shared_ptr<MainTasks::Job> MainTasks::submit(Task t, std::string what) {
    auto job = std::make_shared<Job>();
    job->task_ = std::move(t);
    job->what_ = std::move(what);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(job);
    }
    cv_.notify_one();
    return job;
}

void MainTasks::post(Task t) { submit(std::move(t), {}); }

int MainTasks::runPending() {
    int n = 0;
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (tasks_.empty()) return n;
            job = std::move(tasks_.front());
            tasks_.pop_front();
            int expected = Job::kQueued;
            if (!job->state_.compare_exchange_strong(expected, Job::kStarted)) continue;  // withdrawn
            running_ = job->what_;
        }
        job->task_();
        job->task_ = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running_.clear();
        }
        ++n;
    }
}

void MainTasks::waitForWork(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !tasks_.empty() || woken_; });
    woken_ = false;
}

void MainTasks::wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    cv_.notify_one();
}

std::string MainTasks::running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

}  // namespace host::studio
