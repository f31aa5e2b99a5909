// vexlor: the front end of our host application.
#include <CLI/CLI.hpp>
#include <iostream>

#include "CommandTable.h"
#include "HostSession.h"
#include "TerminalText.h"
#include "sources/HostInterface.h"

namespace {

int run(int argc, char** argv) {
    CLI::App cli{"vexlor: polygon reduction and map baking from the command line"};
    cli.require_subcommand(1);
    cli.fallthrough();  // global options may also follow the subcommand

    std::string moduleDir;
    cli.add_option("--module-dir", moduleDir, "Folder of the module and its res/ (default: $VEXLOR_MODULE_DIR, "
                                              "else the folder of this program)");
    int32_t hostVersion = HOST_INTERFACE_VERSION;
    CLI::Option* hostVersionOption =
        cli.add_option("--host-version", hostVersion, "Host interface version to report to the module")
            ->default_val(HOST_INTERFACE_VERSION);
    const std::vector<app::CommandEntry> commands = app::addCommands(cli);

    CLI11_PARSE(cli, argc, argv);

    for (const app::CommandEntry& command : commands) {
        if (!command.command->parsed()) continue;
        // A version to report to a module that the command never loads would go unused.
        if (hostVersionOption->count() > 0 && !command.loadsModule) {
            std::cerr << "vexlor: --host-version applies to commands that load the module; "
                      << command.command->get_name() << " does not\n";
            return 2;
        }
        app::setReportedHostVersion(hostVersion);
        return command.run({moduleDir, hostVersion, std::cout, std::cerr});
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // An allocation that fails anywhere ends the command with a message rather than an abort.
    const app::EscapedOutput escapedOut(std::cout), escapedErr(std::cerr);
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << "vexlor: out of memory\n";
        return 1;
    }
}
