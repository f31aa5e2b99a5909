#include "Services.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace host {

long long clockMs() {
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

void Console::print(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (capturing_) {
        captured_.push_back(line);
        return;
    }
    if (!quiet_) std::fprintf(stderr, "%s\n", line.c_str());
}

void Console::setCapturing(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    capturing_ = on;
    if (!on) captured_.clear();
}

std::vector<std::string> Console::takeCaptured() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    out.swap(captured_);
    return out;
}

std::string numberText(long long value) { return std::to_string(value); }

std::string numberText(double value, int decimals) {
    if (!std::isfinite(value)) return std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
    char buf[64];
    if (decimals >= 0) {
        std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
        return buf;
    }
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

namespace filename {

std::string join(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    if (a.back() == '/') return b.front() == '/' ? a + b.substr(1) : a + b;
    return b.front() == '/' ? a + b : a + "/" + b;
}

static size_t suffixDot(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string::npos;
    if (dot == (slash == std::string::npos ? 0 : slash + 1)) return std::string::npos;  // ".hidden"
    return dot;
}

std::string setSuffix(const std::string& path, const std::string& sfx) {
    const size_t dot = suffixDot(path);
    const std::string stem = dot == std::string::npos ? path : path.substr(0, dot);
    return sfx.empty() ? stem : stem + "." + sfx;
}

std::string suffix(const std::string& path) {
    const size_t dot = suffixDot(path);
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

std::string base(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directory(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace filename
}  // namespace host
