#include "CommandRun.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <mutex>
#include <sstream>

#include "app/BakeCommandLine.h"
#include "app/ReduceCommandLine.h"
#include "app/RenderCommandLine.h"
#include "host/StatusBar.h"

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
    app::ReduceOptions reduce;
    app::LodOptions lod;
    app::BakeOptions bake;
    app::RenderOptions render;
    CLI::App* reduceCmd = app::addReduceCommand(cli, reduce);
    CLI::App* lodCmd = app::addLodCommand(cli, lod);
    CLI::App* bakeCmd = app::addBakeCommand(cli, bake);
    CLI::App* renderCmd = app::addRenderCommand(cli, render);

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
    if (reduceCmd->parsed()) result.exitCode = app::runReduce(moduleDir, reduce, out, err);
    else if (lodCmd->parsed()) result.exitCode = app::runLod(moduleDir, lod, out, err);
    else if (bakeCmd->parsed()) result.exitCode = app::runBake(moduleDir, bake, out, err);
    else if (renderCmd->parsed()) result.exitCode = app::runRender(moduleDir, render, out, err);
    sigaction(SIGINT, &saved, nullptr);
    result.out = out.str();
    result.err = err.str();
    return result;
}

}  // namespace pyvexlor
