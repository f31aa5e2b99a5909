#include "SafeOutput.h"

#include <fcntl.h>
#include <signal.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace host {
namespace {

std::atomic<unsigned> temporaryCounter{0};

std::string errnoText(int err) { return std::strerror(err); }

std::string folderOf(const std::string& path) {
    const std::string folder = fs::path(path).parent_path().string();
    return folder.empty() ? std::string(".") : folder;
}

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISBLK(mode)) return "a block device";
    return "not a regular file";
}

// A closed pipe (SIGPIPE) or a file-size limit (SIGXFSZ) would end the process by signal in the
// middle of a write, leaving the temporary file behind: ignored, each makes write() fail with
// EPIPE or EFBIG, which fails the output like any other write error.
// A handler the program set itself is left alone.
void ignoreWriteSignals() {
    for (int signal : {SIGPIPE, SIGXFSZ}) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) ::signal(signal, SIG_IGN);
    }
}

// The longest name the folder takes (NAME_MAX where it cannot tell).
size_t longestName(const std::string& folder) {
    const long n = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return n > 0 ? static_cast<size_t>(n) : static_cast<size_t>(NAME_MAX);
}

// A chain of links that does not end (a loop, or deeper than the system follows): nothing to write to.
bool endlessLinks(const std::string& resolved) {
    struct stat st{};
    return ::lstat(resolved.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Devices and FIFOs are written where they are; these cannot be written at all.
bool refusedKind(mode_t mode) { return S_ISDIR(mode) || S_ISSOCK(mode) || S_ISBLK(mode); }

}  // namespace

std::string resolvedPath(const std::string& path) {
    std::string p = path;
    // Follows the chain of links by hand so that a link to a file not yet made resolves too.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st{};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(p.c_str(), buffer, sizeof buffer - 1);
        if (n <= 0) break;
        const std::string link(buffer, static_cast<size_t>(n));
        p = link.front() == '/' ? link : (fs::path(p).parent_path() / link).string();
    }
    return p;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa{}, sb{};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::error_code ea, eb;
    const fs::path ca = fs::weakly_canonical(fs::absolute(resolvedPath(a), ea), ea);
    const fs::path cb = fs::weakly_canonical(fs::absolute(resolvedPath(b), eb), eb);
    return !ea && !eb && ca == cb;
}

std::string outputProblem(const std::string& path) {
    if (path.empty()) return "no file name given";
    const std::string target = resolvedPath(path);
    if (endlessLinks(target)) return path + " is a chain of symbolic links that does not end (a loop?)";
    struct stat st{};
    if (::stat(target.c_str(), &st) == 0) {
        if (refusedKind(st.st_mode)) return path + " is " + kindOf(st.st_mode);
        if (::access(target.c_str(), W_OK) != 0) return path + " is not writable";
        if (!S_ISREG(st.st_mode)) return {};  // a device or FIFO, written in place
    }
    const std::string folder = folderOf(target);
    struct stat fst{};
    if (::stat(folder.c_str(), &fst) != 0 || !S_ISDIR(fst.st_mode))
        return path + ": the folder " + folder + " does not exist";
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return path + ": the folder " + folder + " is not writable";
    return {};
}

SafeOutput::~SafeOutput() { abandon(); }

SafeOutput::SafeOutput(SafeOutput&& other) noexcept { *this = std::move(other); }

SafeOutput& SafeOutput::operator=(SafeOutput&& other) noexcept {
    if (this != &other) {
        abandon();
        path_ = std::move(other.path_);
        target_ = std::move(other.target_);
        temporary_ = std::move(other.temporary_);
        fd_ = other.fd_;
        err_ = other.err_;
        inPlace_ = other.inPlace_;
        finished_ = other.finished_;
        keepMode_ = other.keepMode_;
        mode_ = other.mode_;
        uid_ = other.uid_;
        gid_ = other.gid_;
        other.fd_ = -1;
        other.temporary_.clear();
        other.finished_ = false;
    }
    return *this;
}

std::string SafeOutput::failure(const std::string& what, int err) const {
    return path_ + ": " + what + (err ? ": " + errnoText(err) : std::string());
}

bool SafeOutput::open(const std::string& path, std::string* error) {
    abandon();
    path_ = path;
    target_ = resolvedPath(path);
    err_ = 0;
    inPlace_ = finished_ = keepMode_ = false;
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (path.empty()) return fail("no file name given");
    ignoreWriteSignals();
    if (endlessLinks(target_))
        return fail(path_ + ": cannot write: a chain of symbolic links that does not end (a loop?)");

    struct stat st{};
    if (::stat(target_.c_str(), &st) == 0) {
        if (refusedKind(st.st_mode)) return fail(path_ + ": cannot write: it is " + kindOf(st.st_mode));
        if (!S_ISREG(st.st_mode)) {
            // A character device or a FIFO takes the data where it is.
            fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
            if (fd_ < 0) return fail(failure("cannot open for writing", errno));
            inPlace_ = true;
            return true;
        }
        keepMode_ = true;
        mode_ = st.st_mode & 07777;
        uid_ = st.st_uid;
        gid_ = st.st_gid;
    }

    // The temporary file sits beside the target so that the rename stays within one file system.
    const fs::path target(target_);
    const std::string folder = folderOf(target_);
    // ".NAME.part-PID-N", with NAME shortened where the whole would not fit the folder's longest
    // name: a target whose own name fits must not fail for its temporary's.
    const std::string name = target.filename().string();
    const std::string tail = ".part-" + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        const std::string suffix = tail + std::to_string(temporaryCounter++);
        const size_t room = longestName(folder) - std::min(longestName(folder), suffix.size() + 1);
        // Built by appending: GCC 12 warns falsely (-Wrestrict) on "." + name.substr(...) when optimising.
        std::string file = ".";
        file.append(name, 0, room);
        file += suffix;
        temporary_ = (fs::path(folder) / file).string();
        // 0666 less the umask, as any new file gets.
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        const int err = errno;
        temporary_.clear();
        if (err == ENOENT) return fail(path_ + ": the folder " + folder + " does not exist");
        if (err == ENOTDIR) return fail(path_ + ": " + folder + " is not a folder");
        return fail(failure("cannot create a file in " + folder, err));
    }
    if (keepMode_) {
        if (::fchown(fd_, uid_, gid_) != 0) {
            // Another owner's file becomes ours; its permissions still carry over.
        }
        ::fchmod(fd_, mode_);
    }
    return true;
}

bool SafeOutput::write(const void* data, size_t size) {
    if (fd_ < 0) {
        failed(EBADF);
        return false;
    }
    const char* p = static_cast<const char*>(data);
    while (size > 0 && err_ == 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            failed(errno);
        } else if (n == 0) {
            failed(EIO);
        } else {
            p += n;
            size -= static_cast<size_t>(n);
        }
    }
    return err_ == 0;
}

bool SafeOutput::finish(std::string* error) {
    if (finished_) return true;
    if (fd_ < 0) {
        if (error) *error = path_ + ": the file was not opened";
        return false;
    }
    int err = err_;
    // A device may not take fsync; its data went out with each write.
    if (err == 0 && ::fsync(fd_) != 0 && !(inPlace_ && (errno == EINVAL || errno == EROFS))) err = errno;
    if (::close(fd_) != 0 && err == 0 && errno != EINTR) err = errno;
    fd_ = -1;
    if (err != 0) {
        err_ = err;
        if (error) *error = failure("cannot write", err);
        abandon();
        return false;
    }
    finished_ = true;
    return true;
}

bool SafeOutput::commit(std::string* error) {
    if (!finish(error)) return false;
    if (inPlace_) {
        finished_ = false;
        return true;
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int err = errno;
        if (error) *error = failure("cannot put the file in place", err);
        abandon();
        return false;
    }
    temporary_.clear();
    finished_ = false;
    // The rename itself is made durable with the folder.
    const int folder = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

void SafeOutput::abandon() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    finished_ = false;
}

bool writeTextFile(const std::string& path, const std::string& text, std::string* error) {
    SafeOutput out;
    if (!out.open(path, error)) return false;
    out.write(text.data(), text.size());
    return out.commit(error);
}

}  // namespace host
