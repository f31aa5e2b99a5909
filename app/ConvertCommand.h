// `vexlor convert IN -o OUT`: reads a mesh file and writes it in the format of OUT's suffix, through
// the same file layer as every other command, so that a round trip can be checked by hand.
#pragma once

#include <ostream>
#include <string>

namespace CLI {
class App;
}

namespace app {

struct ConvertOptions {
    std::string input;
    std::string output;
};

CLI::App* addConvertCommand(CLI::App& cli, ConvertOptions& options);

// 0 on success, 1 when the input cannot be read or the output cannot be written (nothing written then).
int runConvert(const ConvertOptions& options, std::ostream& out, std::ostream& err);

}  // namespace app
