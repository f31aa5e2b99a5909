#include "sources/HostWorkers.h"

#include <cstddef>

#include "sources/HostMemory.h"
#include "sources/HostThread.h"
#include "sources/Module.h"
#include "sources/Stack.h"

namespace {

constexpr const char* kTag = "HostWorkers";
constexpr int32_t kMaxWorkers = 256;

class WorkerThread : public HostThread {
public:
    WorkerThread(WorkerJob& job, int32_t index, HostThreadBase* owner) : job_(job), index_(index), owner_(owner) {}
    ~WorkerThread() override { stop(); }
    void main() override { job_.work(index_); }
    int32_t testBreak() override { return owner_ != nullptr ? moduleApi()->threadTestBreak(owner_) : 0; }

private:
    WorkerJob& job_;
    int32_t index_;
    HostThreadBase* owner_;
};

}  // namespace

int32_t workerCount(int32_t wanted) {
    int32_t count = wanted;
    if (count <= 0) {
        const HostApi* api = moduleApi();
        // Hosts whose table ends before this entry run everything on one thread.
        const bool known = api != nullptr &&
                           api->size >= static_cast<int32_t>(offsetof(HostApi, workerThreadCount) + sizeof(void*)) &&
                           api->workerThreadCount != nullptr;
        count = known ? api->workerThreadCount() : 1;
    }
    if (count < 1) count = 1;
    if (count > kMaxWorkers) count = kMaxWorkers;
    return count;
}

int32_t runWorkers(WorkerJob& job, int32_t count, HostThreadBase* owner) {
    if (count < 1) count = 1;
    Stack<WorkerThread*> threads;
    if (count > 1 && !threads.reserve(count - 1)) count = 1;
    for (int32_t i = 1; i < count; ++i) {
        WorkerThread* t = hostNew<WorkerThread>(kTag, __LINE__, job, threads.count + 1, owner);
        if (t == nullptr) break;
        if (!t->start()) {
            hostDelete(t);
            break;
        }
        threads.push(t);
    }
    job.work(0);
    for (WorkerThread* t : threads) {
        t->wait();
        hostDelete(t);
    }
    return threads.count + 1;
}
