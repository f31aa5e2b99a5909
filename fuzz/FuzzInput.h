// The fuzz targets hand the readers a real file, as a user's command would: each input is written
// to one scratch file per process, which the reader then opens. Scratch files live in memory
// (/dev/shm) where there is such a folder, since writing tens of thousands of small files to a disk
// costs far more than reading them; $TMPDIR chooses another folder. They are removed at exit.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A scratch path of this process ending in `suffix` (the same path for the same suffix).
inline std::string fuzzScratchPath(const std::string& suffix) {
    static const std::string stem = [] {
        const char* dir = std::getenv("TMPDIR");
        struct stat st {};
        std::string base = dir && *dir                                                        ? dir
                           : ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) &&
                                     ::access("/dev/shm", W_OK) == 0                         ? "/dev/shm"
                                                                                              : "/tmp";
        return base + "/vexlor_fuzz_" + std::to_string(::getpid());
    }();
    static std::vector<std::string>* made = [] {
        static std::vector<std::string> paths;
        std::atexit([] {
            for (const std::string& p : paths) std::remove(p.c_str());
        });
        return &paths;
    }();
    const std::string path = stem + suffix;
    for (const std::string& p : *made)
        if (p == path) return path;
    made->push_back(path);
    return path;
}

inline std::string fuzzScratchFile(const uint8_t* data, size_t size, const char* suffix) {
    const std::string path = fuzzScratchPath(suffix);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    return path;
}
