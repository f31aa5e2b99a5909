#include "CommandRun.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <mutex>
#include <sstream>

#include "app/CommandTable.h"
#include "host/StatusBar.h"
#include "sources/HostInterface.h"

namespace pyvexlor {
namespace {
std::atomic<bool> gShowProgress{false};
}

void showProgress(bool on) { gShowProgress = on; }

std::string CommandResult::message() const {
    std::string last;
    std::istringstream lines(err);
    std::string line;
    while (std::getline(lines, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        size_t cr = line.find_last_of('\r');  // the status bar's progress overwrites itself
        if (cr != std::string::npos) line = line.substr(cr + 1);
        if (!line.empty()) last = line;
    }
    return last.empty() ? "the command failed (exit status " + std::to_string(exitCode) + ")" : last;
}

CommandResult runCommand(const std::string& moduleDir, const std::vector<std::string>& args) {
    static std::mutex oneAtATime;
    std::lock_guard<std::mutex> lock(oneAtATime);

    CLI::App cli{"vexlor"};
    cli.require_subcommand(1);
    std::vector<app::CommandEntry> commands;
    for (const char* name : {"reduce", "lod", "bake", "render"}) commands.push_back(app::addCommand(cli, name));

    CommandResult result;
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
    try {
        cli.parse(reversed);
    } catch (const CLI::ParseError& e) {
        result.exitCode = 1;
        result.err = std::string("vexlor ") + args[0] + ": " + e.what() + "\n";
        return result;
    }

    // The session puts its own Ctrl-C handler in and the default one back when it ends; the
    // interpreter's handler must be there again afterwards.
    struct sigaction saved {};
    sigaction(SIGINT, nullptr, &saved);
    std::ostringstream out, err;
    host::StatusBar::main().setQuiet(!gShowProgress);
    for (const app::CommandEntry& command : commands)
        if (command.command->parsed()) result.exitCode = command.run({moduleDir, HOST_INTERFACE_VERSION, out, err});
    sigaction(SIGINT, &saved, nullptr);
    result.out = out.str();
    result.err = err.str();
    return result;
}

}  // namespace pyvexlor
