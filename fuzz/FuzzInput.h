// The fuzz targets hand the readers a real file, as a user's command would: each input is written
// to one scratch file per process, which the reader then opens.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

inline std::string fuzzScratchFile(const uint8_t* data, size_t size, const char* suffix) {
    static const std::string path = [suffix] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/vexlor_fuzz_" + std::to_string(::getpid()) + suffix;
    }();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    return path;
}
