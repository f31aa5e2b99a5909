// How a command that runs a plan says it failed: one line "vexlor COMMAND: message" on the error
// stream, exit status 1; and the status of a run that Ctrl-C ended.
#pragma once

#include <ostream>
#include <string>

namespace app {

// The exit status of a run stopped by Ctrl-C (128 + SIGINT, as shells report it).
constexpr int kInterruptedExit = 130;

class CommandFailure {
public:
    CommandFailure(std::ostream& err, const char* command) : err_(err), command_(command) {}
    int operator()(const std::string& message) const {
        err_ << "vexlor " << command_ << ": " << message << "\n";
        return 1;
    }

private:
    std::ostream& err_;
    const char* command_;
};

}  // namespace app
