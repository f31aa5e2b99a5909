#include "host/formats/FileOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace host::formats {
namespace {

std::atomic<unsigned> gTempCounter{0};

bool fail(std::string* error, const std::string& path, const std::string& what) {
    if (error) *error = path + ": " + what;
    return false;
}

}  // namespace

bool replaceFileWith(const std::string& path, std::string_view bytes, std::string* error) {
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(gTempCounter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return fail(error, path, std::string("cannot create a temporary file beside it: ") + std::strerror(errno));
    const char* p = bytes.data();
    size_t left = bytes.size();
    std::string problem;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            problem = std::string("cannot write: ") + std::strerror(errno);
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (::close(fd) != 0 && problem.empty()) problem = std::string("cannot write: ") + std::strerror(errno);
    if (problem.empty() && ::rename(temp.c_str(), path.c_str()) != 0)
        problem = std::string("cannot replace the file: ") + std::strerror(errno);
    if (!problem.empty()) {
        ::unlink(temp.c_str());
        return fail(error, path, problem);
    }
    return true;
}

bool readWholeFile(const std::string& path, std::string& bytes, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(error, path, std::string("cannot open: ") + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(error, path, "not a regular file");
    }
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (got != bytes.size()) return fail(error, path, "cannot read the whole file");
    return true;
}

}  // namespace host::formats
