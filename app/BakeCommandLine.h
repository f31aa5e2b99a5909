// `vexlor bake --high FILE[:OBJECT] --low FILE[:OBJECT] [options]`: bakes normal, occlusion and
// displacement maps by working the baking command's dialog as a person would. Both mesh files go
// into one document, the objects are dropped on the dialog's two drop areas, the gadgets are set from
// the options, the file choosers are answered with the paths given, bake is pressed, and the dialog's
// status line is shown on stderr until the bake's end message. Ctrl-C presses stop; no map is left.
//
// Bad input is refused before anything is baked, with a message naming the problem and a non-zero
// exit; a bake that fails or is stopped removes every map it had written.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace app {

struct BakeOptions {
    std::string high;  // FILE or FILE:OBJECT
    std::string low;
    std::string normal;  // output paths; empty when the map is not asked for
    std::string occlusion;
    std::string displacement;
    std::string normalY = "up";  // the normal map's green channel: y up (the default) or down the texture
    std::string asset;           // .glb or .gltf: the low object with its maps as a glTF asset; empty: none
    int size = 600;  // width and height, unless given one by one
    int width = 600;
    int height = 600;
    int supersampling = 2;
    std::string format;  // tif, png, exr, tga or bmp; empty: from the output suffixes, else tif
    int bits = 0;        // bits per channel; 0: the format's default (8, exr 32)
    std::string occluders = "high";
    std::vector<std::string> scene;
    int aoGrid = 3;
    bool aoRandom = false;
    double aoExponent = 1.0;
    std::string aoBlock = "none";
    std::string bump;
    double bumpStrength = 1.0;
    int threads = 0;  // worker threads of the bake; 0: one per processor core
    bool showDialog = false;
    // Filled by the parse: which of the size options and whether --bump-strength were given, and
    // which of the options that only apply to the occlusion map were.
    bool sizeGiven = false, widthGiven = false, heightGiven = false, threadsGiven = false;
    bool bumpStrengthGiven = false;
    std::vector<std::string> occlusionOptionsGiven;
};

// Adds the `bake` subcommand with every option to the command line; the parsed values land in
// `options`, which must outlive the parse.
CLI::App* addBakeCommand(CLI::App& cli, BakeOptions& options);

// Runs the bake; 0 on success, 1 on bad input or a failed bake, 130 when stopped by Ctrl-C.
int runBake(const std::string& moduleDir, const BakeOptions& options, std::ostream& out, std::ostream& err);

}  // namespace app
