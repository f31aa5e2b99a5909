// One job on several host worker threads at once. Worker 0 is the calling thread; the others run on
// host threads whose break test is the owner thread's, so a stop asked of the owner reaches every
// worker. A job hands out its work itself (workers take the next piece from a shared counter), so
// a result that each piece writes to places of its own never depends on how many workers there
// were or which did what.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "sources/HostInterface.h"

class WorkerJob {
public:
    virtual ~WorkerJob() = default;
    // Runs on worker `worker` (0 to count − 1) until the job's work is done or abandoned.
    virtual void work(int32_t worker) = 0;
};

// How many workers to run: `wanted` when above 0, else the host's worker thread count; at least 1
// and at most 256.
int32_t workerCount(int32_t wanted);

// Runs job.work(i) for i = 0 to count − 1 and returns when all have returned. Worker 0 runs on the
// calling thread. A worker thread that cannot be made or started is left out (its work is taken by
// the others); the answer is the number of workers that ran.
int32_t runWorkers(WorkerJob& job, int32_t count, HostThreadBase* owner);

// Bytes of a processor's cache line. What two workers write at the same time is kept at least this
// far apart: a worker's scratch ends in a gap of this size, and a count or list header that a
// worker bumps for every item is kept in its own scratch or a local while its block runs and
// stored once at the block's end. Otherwise each write takes the line from the other worker, whose
// next read of its own neighbouring field waits for it to come back.
constexpr int32_t WORKER_LINE_BYTES = 64;

// Runs body(from, to) — or body(from, to, worker) when the body takes the worker's number, to pick
// scratch of its own — over [0, count) in blocks of `block` items that the workers take in turn,
// and answers whether every body answered true; after a false one the other workers stop at their
// next block.
template <typename Body>
class BlockJob final : public WorkerJob {
public:
    BlockJob(int32_t count, int32_t block, const Body& body) : count_(count), block_(block), body_(body) {}
    void work(int32_t worker) override {
        while (!failed_.load(std::memory_order_relaxed)) {
            const int64_t from = static_cast<int64_t>(next_.fetch_add(1)) * block_;
            if (from >= count_) return;
            const int64_t to = from + block_ < count_ ? from + block_ : count_;
            bool ok;
            if constexpr (std::is_invocable_v<const Body&, int32_t, int32_t, int32_t>)
                ok = body_(static_cast<int32_t>(from), static_cast<int32_t>(to), worker);
            else
                ok = body_(static_cast<int32_t>(from), static_cast<int32_t>(to));
            if (!ok) failed_ = true;
        }
    }
    bool ok() const { return !failed_.load(); }

private:
    int32_t count_;
    int32_t block_;
    const Body& body_;
    std::atomic<int32_t> next_{0};
    std::atomic<bool> failed_{false};
};

template <typename Body>
bool forBlocks(int32_t count, int32_t block, int32_t workers, HostThreadBase* owner, const Body& body) {
    if (count <= 0) return true;
    const int32_t blocks = (count - 1) / block + 1;
    BlockJob<Body> job(count, block, body);
    runWorkers(job, workers < blocks ? workers : blocks, owner);
    return job.ok();
}
