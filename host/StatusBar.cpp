#include "StatusBar.h"

#include <unistd.h>

#include "Services.h"

namespace host {

StatusBar::StatusBar(FILE* out) : out_(out), terminal_(out && isatty(fileno(out))) {}

void StatusBar::bar(int percent) {
    std::lock_guard<std::mutex> lock(mutex_);
    percent_ = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
    spinner_ = -1;
    show();
}

void StatusBar::text(const std::string& t) {
    std::lock_guard<std::mutex> lock(mutex_);
    text_ = t;
    show();
}

void StatusBar::spin() {
    std::lock_guard<std::mutex> lock(mutex_);
    spinner_ = (spinner_ + 1) % 4;
    percent_ = -1;
    show();
}

void StatusBar::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    percent_ = -1;
    spinner_ = -1;
    text_.clear();
    if (!quiet_ && terminal_ && out_ && shownWidth_ > 0) {
        std::fprintf(out_, "\r%*s\r", static_cast<int>(shownWidth_), "");
        std::fflush(out_);
    }
    shownWidth_ = 0;
    lastPlainMs_ = -1000000;
}

std::string StatusBar::line() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return composeLine();
}

int StatusBar::percent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return percent_;
}

std::string StatusBar::composeLine() const {
    std::string s;
    if (percent_ >= 0) {
        const int filled = percent_ / 5;
        s.reserve(32);
        s += '[';
        s.append(static_cast<size_t>(filled), '#');
        s.append(static_cast<size_t>(20 - filled), '.');
        s += "] ";
        s += std::to_string(percent_);
        s += '%';
    } else if (spinner_ >= 0) {
        static const char kFrames[] = {'|', '/', '-', '\\'};
        s = std::string("[") + kFrames[spinner_] + "]";
    }
    if (!text_.empty()) s += (s.empty() ? "" : " ") + text_;
    return s;
}

void StatusBar::show() {
    const std::string l = composeLine();
    if (recording_) recordedLines_.push_back(l);
    if (quiet_ || !out_ || l.empty()) return;
    if (terminal_) {
        const size_t pad = shownWidth_ > l.size() ? shownWidth_ - l.size() : 0;
        std::fprintf(out_, "\r%s%*s", l.c_str(), static_cast<int>(pad), "");
        std::fflush(out_);
        shownWidth_ = l.size();
        return;
    }
    const long long now = clockMs();
    if (!recording_ && now - lastPlainMs_ < 1000) return;
    lastPlainMs_ = now;
    std::fprintf(out_, "%s\n", l.c_str());
    std::fflush(out_);
}

}  // namespace host
