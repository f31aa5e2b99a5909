#include "CommandTable.h"

#include <CLI/CLI.hpp>
#include <memory>

#include "BakeOptions.h"
#include "BakeRun.h"
#include "BatchCommand.h"
#include "BrushCommandLine.h"
#include "ConvertCommand.h"
#include "InfoCommand.h"
#include "PluginsCommand.h"
#include "ReduceOptions.h"
#include "ReduceRun.h"
#include "RenderCommandLine.h"
#include "ShowDialogCommand.h"
#include "StudioCommand.h"

namespace app {
namespace {

// An entry whose options live as long as the entry: `add` registers them with the subcommand, `run`
// gets them parsed.
template <class Options, class Run>
CommandEntry entry(CLI::App& cli, CLI::App* (*add)(CLI::App&, Options&), Run run, bool loadsModule = true) {
    auto options = std::make_shared<Options>();
    CommandEntry e;
    e.command = add(cli, *options);
    e.loadsModule = loadsModule;
    e.run = [options, run](const CommandContext& c) { return run(*options, c); };
    return e;
}

// A command whose options are checked into a plan before its run: a problem is reported with the
// command's name and ends the process with 1.
template <class Options, class Plan>
CommandEntry planned(CLI::App& cli, const char* name, CLI::App* (*add)(CLI::App&, Options&),
                     std::string (*plan)(const Options&, Plan&),
                     int (*run)(const std::string&, const Plan&, std::ostream&, std::ostream&)) {
    return entry(cli, add, [name, plan, run](const Options& o, const CommandContext& c) {
        Plan checked;
        if (const std::string problem = plan(o, checked); !problem.empty()) {
            c.err << "vexlor " << name << ": " << problem << "\n";
            return 1;
        }
        return run(c.moduleDir(), checked, c.out, c.err);
    });
}

struct InfoOptions {
    std::vector<std::string> files;
};
CLI::App* addInfo(CLI::App& cli, InfoOptions& o) {
    CLI::App* info = cli.add_subcommand("info", "Print a summary of each object of mesh files");
    info->add_option("files", o.files, "Mesh files (.obj, .glb, .gltf, .fbx, .ply, .stl, .dae, .3ds)")->required();
    return info;
}

struct NoOptions {};
CLI::App* addPlugins(CLI::App& cli, NoOptions&) {
    return cli.add_subcommand("plugins", "Load the module and list its plug-ins in registration order");
}

struct ShowDialogOptions {
    std::string command;
    std::vector<std::string> files;
};
CLI::App* addShowDialog(CLI::App& cli, ShowDialogOptions& o) {
    CLI::App* show =
        cli.add_subcommand("show-dialog", "Open a command's dialog over mesh files (all objects selected) and print it");
    show->add_option("command", o.command, "reduce or bake")->required();
    show->add_option("files", o.files, "Mesh files to load first");
    return show;
}

CommandEntry info(CLI::App& cli) {
    return entry(
        cli, addInfo, [](const InfoOptions& o, const CommandContext& c) { return runInfo(o.files, c.out, c.err); },
        false);
}
CommandEntry plugins(CLI::App& cli) {
    return entry(cli, addPlugins, [](const NoOptions&, const CommandContext& c) {
        return runPlugins(c.moduleDir(), c.hostVersion, c.out, c.err);
    });
}
CommandEntry showDialog(CLI::App& cli) {
    return entry(cli, addShowDialog, [](const ShowDialogOptions& o, const CommandContext& c) {
        return runShowDialog(c.moduleDir(), o.command, o.files, c.out, c.err);
    });
}
CommandEntry bake(CLI::App& cli) { return planned(cli, "bake", addBakeCommand, planBake, runBake); }
CommandEntry reduce(CLI::App& cli) { return planned(cli, "reduce", addReduceCommand, planReduce, runReduce); }
CommandEntry lod(CLI::App& cli) { return planned(cli, "lod", addLodCommand, planLod, runLod); }
CommandEntry convert(CLI::App& cli) {
    return entry(
        cli, addConvertCommand,
        [](const ConvertOptions& o, const CommandContext& c) { return runConvert(o, c.out, c.err); }, false);
}
CommandEntry brush(CLI::App& cli) {
    return entry(cli, addBrushCommand, [](const BrushOptions& o, const CommandContext& c) {
        return runBrush(c.moduleDir(), o, c.out, c.err);
    });
}
CommandEntry render(CLI::App& cli) {
    return entry(cli, addRenderCommand, [](const RenderOptions& o, const CommandContext& c) {
        return runRender(c.moduleDir(), o, c.out, c.err);
    });
}
CommandEntry studio(CLI::App& cli) {
    return entry(cli, addStudioCommand, [](const StudioOptions& o, const CommandContext& c) {
        return runStudio(c.moduleDir(), o, c.out, c.err);
    });
}
CommandEntry batch(CLI::App& cli) {
    // A batch hands the option on to its jobs as given, not resolved.
    return entry(cli, addBatchCommand, [](const BatchOptions& o, const CommandContext& c) {
        return runBatch(c.moduleDirOption, o, c.out, c.err);
    });
}

// Every command by name, in the order --help lists them.
struct Registration {
    const char* name;
    CommandEntry (*add)(CLI::App&);
};
constexpr Registration kCommands[] = {{"info", info},       {"plugins", plugins}, {"show-dialog", showDialog},
                                      {"bake", bake},       {"reduce", reduce},   {"lod", lod},
                                      {"convert", convert}, {"brush", brush},     {"render", render},
                                      {"studio", studio},   {"batch", batch}};

}  // namespace

std::string CommandContext::moduleDir() const { return moduleFolder(moduleDirOption); }

std::vector<CommandEntry> addCommands(CLI::App& cli) {
    std::vector<CommandEntry> table;
    for (const Registration& r : kCommands) table.push_back(r.add(cli));
    return table;
}

CommandEntry addCommand(CLI::App& cli, const std::string& name) {
    for (const Registration& r : kCommands)
        if (name == r.name) return r.add(cli);
    return {};
}

}  // namespace app
