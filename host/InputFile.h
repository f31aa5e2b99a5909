// Opening a file to read without ever waiting on it.
//
// open() of a FIFO waits for a writer, and a read of a device may never end: every input of the
// host is opened with O_NONBLOCK, looked at with fstat() and kept only when it is a regular file.
// Blocking reads are restored on the descriptor handed back.
#pragma once

#include <sys/stat.h>

#include <string>

namespace host {

struct OpenedInput {
    int fd = -1;          // -1 when refused
    struct stat st {};    // of the opened file
    int err = 0;          // the system's error number when open() failed (ENOENT for a missing file)
    std::string why;      // what is wrong, without the path: "no such file", "it is a FIFO, not a regular file"
};

// Opens `path` for reading; the caller closes fd.
OpenedInput openRegularFile(const std::string& path);

// What kind of file a mode is, for messages ("a FIFO", "a folder", "a device", "a socket").
const char* fileKindOf(mode_t mode);

}  // namespace host
