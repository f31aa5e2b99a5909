#include "host/InputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {

const char* fileKindOf(mode_t mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

OpenedInput openRegularFile(const std::string& path) {
    OpenedInput in;
    if (path.find('\0') != std::string::npos) {
        in.err = EINVAL;
        in.why = "the name holds a NUL character";
        return in;
    }
    // O_NONBLOCK: a FIFO without a writer opens at once instead of waiting; O_NOCTTY: a terminal
    // named as input does not become ours.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        in.err = errno;
        in.why = in.err == ENOENT ? std::string("no such file") : std::string(std::strerror(in.err));
        return in;
    }
    if (::fstat(fd, &in.st) != 0) {
        in.err = errno;
        in.why = std::strerror(in.err);
        ::close(fd);
        return in;
    }
    if (!S_ISREG(in.st.st_mode)) {
        in.why = std::string("it is ") + fileKindOf(in.st.st_mode) + ", not a regular file";
        ::close(fd);
        return in;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    in.fd = fd;
    return in;
}

}  // namespace host
