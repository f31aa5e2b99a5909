#include "host/studio/BackgroundRead.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace host::studio {

namespace {
std::atomic<int> gRunning{0};
}

struct BackgroundRead::Shared {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    bool ok = false;
    Document doc;
    std::vector<Object*> loaded;
    std::string error;
};

BackgroundRead::BackgroundRead(std::string path, Reader reader)
    : path_(std::move(path)), shared_(std::make_shared<Shared>()), start_(std::chrono::steady_clock::now()) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path_, ec);
    bytes_ = ec ? 0 : size;
    ++gRunning;
    // The thread owns its share: a read left behind frees what it read when it ends.
    std::thread([shared = shared_, path = path_, reader = std::move(reader)] {
        std::vector<Object*> loaded;
        std::string error;
        bool ok = false;
        try {
            ok = reader(path, shared->doc, &loaded, &error);
        } catch (const std::bad_alloc&) {
            error = "not enough memory to read " + path;
        } catch (const std::exception& e) {
            error = "cannot read " + path + ": " + e.what();
        }
        {
            std::lock_guard<std::mutex> lock(shared->m);
            shared->ok = ok;
            shared->loaded = std::move(loaded);
            shared->error = std::move(error);
            shared->done = true;
        }
        shared->cv.notify_all();
        --gRunning;
    }).detach();
}

BackgroundRead::~BackgroundRead() = default;

bool BackgroundRead::done() const {
    std::lock_guard<std::mutex> lock(shared_->m);
    return shared_->done;
}

bool BackgroundRead::waitFor(std::chrono::milliseconds wait) const {
    std::unique_lock<std::mutex> lock(shared_->m);
    return shared_->cv.wait_for(lock, wait, [&] { return shared_->done; });
}

double BackgroundRead::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

Document* BackgroundRead::result(std::vector<Object*>* loaded, std::string* error) {
    std::lock_guard<std::mutex> lock(shared_->m);
    if (!shared_->done) {
        if (error) *error = path_ + " is still being read";
        return nullptr;
    }
    if (!shared_->ok) {
        if (error) *error = shared_->error;
        return nullptr;
    }
    if (loaded) *loaded = shared_->loaded;
    return &shared_->doc;
}

int BackgroundRead::running() { return gRunning.load(); }

}  // namespace host::studio
