// A mesh file read on a thread of its own into a document of its own, so that the main thread keeps
// answering the page while a big file opens and a person can stop waiting for it. The objects join
// the studio's document on the main thread once the read is done.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/Document.h"

namespace host::studio {

class BackgroundRead {
public:
    // Reads `path` into `into` (as top-level objects, listed in `loaded`); false with `error`. Runs on
    // the read's own thread: it must touch nothing but its arguments.
    using Reader = std::function<bool(const std::string& path, Document& into, std::vector<Object*>* loaded,
                                      std::string* error)>;

    // Starts the read at once (`reader` must be set).
    BackgroundRead(std::string path, Reader reader);
    // A read still under way is left to finish on its own thread; what it read is then dropped.
    ~BackgroundRead();
    BackgroundRead(const BackgroundRead&) = delete;
    BackgroundRead& operator=(const BackgroundRead&) = delete;

    const std::string& path() const { return path_; }
    uint64_t bytes() const { return bytes_; }  // the file's size when the read started
    bool done() const;
    // Waits at most `wait` for the read to end; whether it has.
    bool waitFor(std::chrono::milliseconds wait) const;
    double seconds() const;
    // Once done: the document the file was read into and its top-level objects; or null with `error`.
    Document* result(std::vector<Object*>* loaded, std::string* error);

    // Reads left behind that still run: a process must not end normally under them (its static
    // objects would go while they run).
    static int running();

private:
    struct Shared;
    std::string path_;
    std::shared_ptr<Shared> shared_;
    uint64_t bytes_ = 0;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace host::studio
