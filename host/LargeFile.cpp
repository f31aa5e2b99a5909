// Reading whole files into memory and filling large arrays, helped by huge pages.
#include "LargeFile.h"

#include "host/InputFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {

std::string systemError(int err) { return std::strerror(err); }

void preferHugePages(const void* data, size_t bytes) {
    if (bytes < 2 * kHugePage) return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHugePage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
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
