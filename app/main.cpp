// vexlor: the front end of our host application.
#include <CLI/CLI.hpp>
#include <iostream>

#include "BakeCommandLine.h"
#include "BatchCommand.h"
#include "ConvertCommand.h"
#include "HostSession.h"
#include "TerminalText.h"
#include "BrushCommandLine.h"
#include "InfoCommand.h"
#include "PluginsCommand.h"
#include "ReduceCommandLine.h"
#include "RenderCommandLine.h"
#include "ShowDialogCommand.h"
#include "StudioCommand.h"
#include "sources/HostInterface.h"

namespace {

int run(int argc, char** argv) {
    CLI::App cli{"vexlor: polygon reduction and map baking from the command line"};
    cli.require_subcommand(1);
    cli.fallthrough();  // global options may also follow the subcommand

    std::vector<std::string> infoFiles;
    CLI::App* info = cli.add_subcommand("info", "Print a summary of each object of mesh files");
    info->add_option("files", infoFiles, "Mesh files (.obj, .glb, .gltf, .fbx, .ply, .stl, .dae, .3ds)")->required();

    std::string moduleDir;
    cli.add_option("--module-dir", moduleDir, "Folder of the module and its res/ (default: $VEXLOR_MODULE_DIR, "
                                              "else the folder of this program)");
    int32_t hostVersion = HOST_INTERFACE_VERSION;
    CLI::Option* hostVersionOption =
        cli.add_option("--host-version", hostVersion, "Host interface version to report to the module")
            ->default_val(HOST_INTERFACE_VERSION);

    CLI::App* plugins = cli.add_subcommand("plugins", "Load the module and list its plug-ins in registration order");

    std::string dialogCommand;
    std::vector<std::string> dialogFiles;
    CLI::App* showDialog =
        cli.add_subcommand("show-dialog", "Open a command's dialog over mesh files (all objects selected) and print it");
    showDialog->add_option("command", dialogCommand, "reduce or bake")->required();
    showDialog->add_option("files", dialogFiles, "Mesh files to load first");

    app::BakeOptions bakeOptions;
    CLI::App* bake = app::addBakeCommand(cli, bakeOptions);

    app::ReduceOptions reduceOptions;
    CLI::App* reduce = app::addReduceCommand(cli, reduceOptions);
    app::LodOptions lodOptions;
    CLI::App* lod = app::addLodCommand(cli, lodOptions);

    app::ConvertOptions convertOptions;
    CLI::App* convert = app::addConvertCommand(cli, convertOptions);
    app::BrushOptions brushOptions;
    CLI::App* brush = app::addBrushCommand(cli, brushOptions);
    app::RenderOptions renderOptions;
    CLI::App* render = app::addRenderCommand(cli, renderOptions);
    app::StudioOptions studioOptions;
    CLI::App* studio = app::addStudioCommand(cli, studioOptions);

    app::BatchOptions batchOptions;
    CLI::App* batch = app::addBatchCommand(cli, batchOptions);

    CLI11_PARSE(cli, argc, argv);

    // info and convert never load the module: a version to report to it would go unused.
    if (hostVersionOption->count() > 0 && (info->parsed() || convert->parsed())) {
        std::cerr << "vexlor: --host-version applies to commands that load the module; "
                  << (info->parsed() ? "info" : "convert") << " does not\n";
        return 2;
    }
    app::setReportedHostVersion(hostVersion);

    if (info->parsed()) return app::runInfo(infoFiles, std::cout, std::cerr);
    if (convert->parsed()) return app::runConvert(convertOptions, std::cout, std::cerr);
    if (showDialog->parsed())
        return app::runShowDialog(app::moduleFolder(moduleDir), dialogCommand, dialogFiles, std::cout, std::cerr);
    if (bake->parsed()) return app::runBake(app::moduleFolder(moduleDir), bakeOptions, std::cout, std::cerr);
    if (reduce->parsed()) return app::runReduce(app::moduleFolder(moduleDir), reduceOptions, std::cout, std::cerr);
    if (lod->parsed()) return app::runLod(app::moduleFolder(moduleDir), lodOptions, std::cout, std::cerr);
    if (brush->parsed()) return app::runBrush(app::moduleFolder(moduleDir), brushOptions, std::cout, std::cerr);
    if (render->parsed()) return app::runRender(app::moduleFolder(moduleDir), renderOptions, std::cout, std::cerr);
    if (studio->parsed()) return app::runStudio(app::moduleFolder(moduleDir), studioOptions, std::cout, std::cerr);
    if (batch->parsed()) return app::runBatch(moduleDir, batchOptions, std::cout, std::cerr);
    if (plugins->parsed()) return app::runPlugins(app::moduleFolder(moduleDir), hostVersion, std::cout, std::cerr);
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
