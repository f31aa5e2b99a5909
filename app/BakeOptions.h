// The options of `vexlor bake` and their check into a plan: every value the baking dialog will get,
// every file the bake reads and writes, resolved and checked before anything is loaded or baked.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
}

namespace app {

// The options as given on the command line.
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

// An image format the maps can be written in: its dialog choice, default depth and the depths a file
// of the format holds.
struct BakeFormat {
    const char* name;
    int32_t choice;
    int defaultBits;
    std::vector<int> bits;
};

// One map asked for: its option, what it is, the path as the dialog will name it (with the format's
// suffix), and the dialog's gadgets for it.
struct MapRequest {
    const char* option;
    const char* what;
    std::string path;
    int32_t checkbox, fileGadget, chooseButton;
};

// Everything the options say, checked and resolved.
struct BakePlan {
    std::string highFile, highName;  // the object is the file's only one when the name is empty
    std::string lowFile, lowName;
    std::vector<std::string> scene;  // more files whose objects occlude
    int width = 600, height = 600;
    const BakeFormat* format = nullptr;
    int bits = 8;
    int supersampling = 2;
    std::vector<MapRequest> maps;
    bool normalYDown = false;
    // The occlusion map's settings, as indices of their choices.
    int aoGrid = 3;
    bool aoRandom = false;
    double aoExponent = 1.0;
    int occluderMode = 0;
    int halfSpace = 0;
    std::string bump;
    double bumpStrength = 1.0;
    int threads = 0;
    bool showDialog = false;
    std::string asset;
    // With an asset and no --normal, the normal map is baked for the asset alone into a temporary
    // file that is removed after the run.
    bool normalForAssetOnly = false;

    bool wants(int32_t checkbox) const;
    // Each file this bake writes, with the option that names it: the maps, and the displacement map's
    // scale file.
    std::vector<std::pair<std::string, std::string>> outputs() const;
};

// Checks the options into `plan`; an error message naming the problem, or "" when all is well.
std::string planBake(const BakeOptions& options, BakePlan& plan);

}  // namespace app
