// Small host services: the console, the millisecond clock, random numbers, number texts and
// file-name helpers.
#pragma once

#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace host {

// Milliseconds since the host started (monotonic).
long long clockMs();

// The console: diagnostic lines on stderr, optionally captured for tests.
class Console {
public:
    void print(const std::string& line);
    void setCapturing(bool on);
    std::vector<std::string> takeCaptured();
    void setQuiet(bool q) { quiet_ = q; }
    // The running host's console (HostServices.h).
    static Console& main();

private:
    std::mutex mutex_;
    bool capturing_ = false;
    bool quiet_ = false;
    std::vector<std::string> captured_;
};

// A seedable random source; the same seed gives the same sequence.
class Random {
public:
    explicit Random(uint32_t seed = 0) : engine_(seed) {}
    void seed(uint32_t s) { engine_.seed(s); }
    // Uniform in [0, 1).
    double nextReal() { return std::generate_canonical<double, 53>(engine_); }

private:
    std::mt19937 engine_;
};

// Decimal texts of numbers, as shown to a user.
std::string numberText(long long value);
// `decimals` < 0 gives the shortest text that reads back to the same value.
std::string numberText(double value, int decimals = -1);

// File names.
namespace filename {
// Joins two parts with one separator ("a" + "b" = "a/b"; an empty part yields the other).
std::string join(const std::string& a, const std::string& b);
// Replaces the suffix ("x.obj", "tif" gives "x.tif"); adds one when there was none.
std::string setSuffix(const std::string& path, const std::string& suffix);
// The suffix without its dot, or "".
std::string suffix(const std::string& path);
// The last path component.
std::string base(const std::string& path);
// The folder part ("" when there is none).
std::string directory(const std::string& path);
inline bool isEmpty(const std::string& path) { return path.empty(); }
}  // namespace filename

}  // namespace host
