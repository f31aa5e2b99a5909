#include "host/formats/FileOutput.h"

#include "host/InputFile.h"
#include "host/SafeOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host::formats {
namespace {

bool fail(std::string* error, const std::string& path, const std::string& what) {
    if (error) *error = path + ": " + what;
    return false;
}

}  // namespace

bool replaceFileWith(const std::string& path, std::string_view bytes, std::string* error) {
    // The host's one way of replacing an output: links followed, devices written in place, the
    // old file's mode kept, nothing half-written left behind.
    SafeOutput file;
    if (!file.open(path, error)) return false;
    if (!file.write(bytes.data(), bytes.size())) {
        file.finish(error);
        return false;
    }
    return file.commit(error);
}

bool readWholeFile(const std::string& path, std::string& bytes, std::string* error) {
    const OpenedInput in = openRegularFile(path);
    if (in.fd < 0) return fail(error, path, in.err ? "cannot open: " + in.why : in.why);
    const int fd = in.fd;
    if (static_cast<uint64_t>(in.st.st_size) > kMaxInputBytes) {
        ::close(fd);
        return fail(error, path, "the file is larger than " + std::to_string(kMaxInputBytes >> 30) +
                                     " GiB, more than we read");
    }
    bytes.resize(static_cast<size_t>(in.st.st_size));
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
