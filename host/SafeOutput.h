// Writing an output file without losing what was there.
//
// Every writer of the host (meshes, images, text) goes through SafeOutput:
// - a new file or an existing regular file is written to a temporary file in the same folder,
//   flushed to disk and renamed over the target only when everything was written; a replaced file
//   keeps its permissions (and its owner where we may set it);
// - a symbolic link is followed: the file it ends at is replaced, the link stays;
// - a character device or a FIFO (/dev/null, a pipe a reader waits on) is written in place, and a
//   failed write there (/dev/full) fails the write;
// - a folder, a socket or a block device is refused with a message naming it, and so a chain of
//   links that does not end;
// - a closed pipe or a file-size limit fails the write with a message (SIGPIPE and SIGXFSZ are
//   ignored from the first open on, where the program has not handled them itself);
// - the temporary's name is ".NAME.part-PID-N", NAME shortened where the whole would be longer
//   than the folder's longest name.
// A SafeOutput that is dropped before commit() removes its temporary file and leaves the target
// exactly as it was.
#pragma once

#include <cstddef>
#include <string>

namespace host {

class SafeOutput {
public:
    SafeOutput() = default;
    ~SafeOutput();
    SafeOutput(SafeOutput&& other) noexcept;
    SafeOutput& operator=(SafeOutput&& other) noexcept;
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    // Opens `path` for writing; false with `error` set ("PATH: why") when it cannot be written.
    bool open(const std::string& path, std::string* error);

    // The descriptor to write to (-1 when not open). Writers that close what they are handed get a
    // dup() of it.
    int fd() const { return fd_; }

    // Writes every byte; false (and the error kept for finish()) when the system refused.
    bool write(const void* data, size_t size);
    // Records a write error met by a writer working on fd() itself (an errno value).
    void failed(int err) {
        if (err_ == 0) err_ = err;
    }

    // Flushes the data to disk and closes the file; the target is still untouched. False with
    // `error` set when anything written so far failed.
    bool finish(std::string* error);
    // Puts the written file in place (finishing it first when needed). After a failure nothing of
    // this output is left behind and the target is as it was.
    bool commit(std::string* error);
    // Drops what was written; the target stays as it was.
    void abandon();

    // The path as given, and the file that will be replaced (symbolic links resolved).
    const std::string& path() const { return path_; }
    const std::string& target() const { return target_; }
    // True when the target is a device or FIFO that is written in place.
    bool inPlace() const { return inPlace_; }

private:
    std::string failure(const std::string& what, int err) const;

    std::string path_, target_, temporary_;
    int fd_ = -1;
    int err_ = 0;
    bool inPlace_ = false, finished_ = false, keepMode_ = false;
    unsigned mode_ = 0, uid_ = 0, gid_ = 0;
};

// Writes `text` to `path` through a SafeOutput.
bool writeTextFile(const std::string& path, const std::string& text, std::string* error);

// The file a path ends at, symbolic links followed (also when the last one points at nothing yet).
std::string resolvedPath(const std::string& path);

// True when both paths name one file: the same device and inode when both exist, else the same
// path once symbolic links, "." and ".." are resolved.
bool sameFile(const std::string& a, const std::string& b);

// Why `path` cannot be written as an output ("" when it can): its folder missing or not writable,
// the path a folder, a socket or a block device, or an existing file that is not writable.
std::string outputProblem(const std::string& path);

}  // namespace host
