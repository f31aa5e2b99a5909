// vexlor: the front end of our host application.
#include <CLI/CLI.hpp>
#include <iostream>

#include "InfoCommand.h"

int main(int argc, char** argv) {
    CLI::App cli{"vexlor: polygon reduction and map baking from the command line"};
    cli.require_subcommand(1);

    std::vector<std::string> infoFiles;
    CLI::App* info = cli.add_subcommand("info", "Print a summary of each object of mesh files");
    info->add_option("files", infoFiles, "OBJ files")->required();

    CLI11_PARSE(cli, argc, argv);

    if (info->parsed()) return app::runInfo(infoFiles, std::cout, std::cerr);
    return 0;
}
