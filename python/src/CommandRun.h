// Runs one of vexlor's commands inside this process, from the same arguments the command line takes,
// so that a Python call and `vexlor ...` parse, check and work alike.
#pragma once

#include <string>
#include <vector>

namespace pyvexlor {

struct CommandResult {
    int exitCode = 0;  // as the program's: 0 done, 1 refused or failed, 130 stopped
    std::string out, err;
    // The command's message for a failure: the last line of what it printed to stderr.
    std::string message() const;
};

// args[0] is the command (reduce, lod, bake, render); the module comes from `moduleDir`. Calls are
// taken one at a time (the host keeps one document and one dialog host per process); the caller's
// SIGINT handler is put back afterwards.
CommandResult runCommand(const std::string& moduleDir, const std::vector<std::string>& args);

// Whether the engine's progress line shows on stderr while a command runs (off: a library call prints
// nothing of its own).
void showProgress(bool on);

}  // namespace pyvexlor
