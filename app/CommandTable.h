// The subcommands of `vexlor`, as one table that main parses and dispatches through: each entry adds
// its subcommand and options to the command line and runs it once parsed.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace app {

// What every command's run gets besides its own options.
struct CommandContext {
    std::string moduleDirOption;  // --module-dir as given; empty: $VEXLOR_MODULE_DIR, else beside vexlor
    int32_t hostVersion = 0;      // the version reported to the module
    std::ostream& out;
    std::ostream& err;

    // The module's folder, resolved.
    std::string moduleDir() const;
};

struct CommandEntry {
    CLI::App* command = nullptr;  // the subcommand, holding its options until the run
    bool loadsModule = true;      // --host-version applies only to commands that load the module
    std::function<int(const CommandContext&)> run;  // the process's exit code
};

// Adds every subcommand to `cli` in the order --help lists them. The entries own the parsed options;
// they must outlive the parse.
std::vector<CommandEntry> addCommands(CLI::App& cli);
// Adds the one subcommand of that name (an entry without a command when there is none), for a front
// end that offers only some of them.
CommandEntry addCommand(CLI::App& cli, const std::string& name);

}  // namespace app
