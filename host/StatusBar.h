// The status bar. Progress goes to stderr: one updating line on a terminal, at most one plain line
// a second otherwise, nothing when quiet. Safe to call from worker threads.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace host {

class StatusBar {
public:
    explicit StatusBar(FILE* out = stderr);

    void setQuiet(bool q) { quiet_ = q; }
    // For tests: every shown line is also kept here, and plain lines are not rate-limited.
    void setRecording(bool r) { recording_ = r; }

    void bar(int percent);
    void text(const std::string& t);
    void spin();
    void clear();

    // What the bar shows now, as one line ("" when cleared), and its percentage (-1: no bar). Taken
    // under the bar's lock: the studio reads them while a worker writes them.
    std::string line() const;
    int percent() const;
    const std::vector<std::string>& recorded() const { return recordedLines_; }

    // The running host's status bar (HostServices.h).
    static StatusBar& main();

private:
    void show();                      // called with mutex_ held
    std::string composeLine() const;  // called with mutex_ held

    FILE* out_;
    mutable std::mutex mutex_;
    bool quiet_ = false;
    bool terminal_;
    bool recording_ = false;
    int percent_ = -1;  // -1: no bar
    int spinner_ = -1;  // -1: no spinner
    std::string text_;
    long long lastPlainMs_ = -1000000;
    size_t shownWidth_ = 0;
    std::vector<std::string> recordedLines_;
};

}  // namespace host
