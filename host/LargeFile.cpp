// Reading whole files into memory and filling large arrays, helped by huge pages.
#include "LargeFile.h"

#include "host/InputFile.h"
#include "host/Threads.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <vector>

namespace host {

namespace {
// Page faults of one block side by side on at most this many threads.
constexpr int kMostPopulateThreads = 4;
}  // namespace

std::string systemError(int err) { return std::strerror(err); }

void preferHugePages(const void* data, size_t bytes) {
    if (bytes < kHugePage) return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHugePage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void populatePages(void* data, size_t bytes) {
    if (bytes < 2 * kHugePage) return;
    // Whole pages only; each thread's share starts on a huge-page boundary, so that no huge page is
    // split between two threads.
    constexpr uintptr_t kPage = 4096;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(data) & ~(kPage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kPage - 1);
    const uintptr_t hugePages = (end - begin) / kHugePage;
    int threads = workerThreadCount();
    if (threads > kMostPopulateThreads) threads = kMostPopulateThreads;
    if (static_cast<uintptr_t>(threads) > hugePages) threads = static_cast<int>(hugePages);
    auto cut = [&](int i) {
        if (i == 0) return begin;
        if (i == threads) return end;
        return (begin + (end - begin) / threads * i) & ~(kHugePage - 1);
    };
    std::vector<std::exception_ptr> failures;  // madvise throws nothing
    runSideBySide(threads, failures, [&](int i) {
        const uintptr_t from = cut(i), to = cut(i + 1);
        if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
    });
}

TextBuffer allocateText(size_t bytes) {
    if (bytes < 2 * kHugePage) return TextBuffer(static_cast<char*>(std::malloc(bytes)));
    const size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    char* p = static_cast<char*>(std::aligned_alloc(kHugePage, rounded));
    if (p) ::madvise(p, rounded, MADV_HUGEPAGE);
    return TextBuffer(p);
}

bool loadBytes(const std::string& path, size_t padding, TextBuffer& buffer, size_t& size, std::string* error) {
    auto setError = [&](const std::string& what) {
        if (error) *error = path + ": " + what;
        return false;
    };
    const OpenedInput in = openRegularFile(path);
    if (in.fd < 0) {
        if (in.err == ENOENT) return setError("no such file");
        return setError("cannot read: " + in.why);
    }
    const int fd = in.fd;
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    const struct stat& st = in.st;
    // One byte more than the file, so that the read that finds its end needs no bigger buffer (a
    // file that grows while it is read makes the buffer grow).
    size_t capacity = static_cast<size_t>(st.st_size) + 1;
    if (capacity < 4096) capacity = 4096;
    buffer = allocateText(capacity + padding);
    if (!buffer) return setError("cannot read: out of memory");
    // The file's size as it was opened: the buffer is written to that end (one that grows while it
    // is read moves to a bigger buffer, which gets its pages as it is written).
    populatePages(buffer.get(), capacity + padding);
    size = 0;
    for (;;) {
        if (size == capacity) {
            const size_t grown = capacity * 2;
            TextBuffer bigger = allocateText(grown + padding);
            if (!bigger) return setError("cannot read: out of memory");
            std::memcpy(bigger.get(), buffer.get(), size);
            buffer = std::move(bigger);
            capacity = grown;
        }
        const ssize_t n = ::read(fd, buffer.get() + size, capacity - size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return setError("cannot read: " + systemError(errno));
        }
        if (n == 0) break;
        size += static_cast<size_t>(n);
    }
    if (size == 0) return setError("file is empty");
    std::memset(buffer.get() + size, '\n', padding);
    return true;
}

}  // namespace host
