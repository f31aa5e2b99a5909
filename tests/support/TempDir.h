// A fresh folder under the system's temporary folder for one test, removed with everything in it
// when the test ends.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>

namespace testsupport {

class TempDir {
public:
    explicit TempDir(const std::string& prefix) {
        path_ = std::filesystem::temp_directory_path() /
                (prefix + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    size_t entries() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(path_),
                                                 std::filesystem::directory_iterator()));
    }

private:
    std::filesystem::path path_;
    static inline int counter_ = 0;
};

}  // namespace testsupport
