// The last step of every mesh writer here: the whole file, built in memory, replaces the target.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace host::formats {

// Writes `bytes` to a temporary file beside `path` and renames it over `path`, so that the target is
// either the old file or the whole new one. On failure the temporary file is removed and `error`
// reads "PATH: what went wrong".
bool replaceFileWith(const std::string& path, std::string_view bytes, std::string* error);

// The largest file read whole: the formats count within 32 bits (a .glb's length, tinygltf's sizes).
constexpr uint64_t kMaxInputBytes = uint64_t{2} << 30;

// Reads a whole regular file (a FIFO, a device or a folder is refused without waiting on it); on
// failure `error` reads "PATH: what went wrong".
bool readWholeFile(const std::string& path, std::string& bytes, std::string* error);

}  // namespace host::formats
