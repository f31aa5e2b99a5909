#include "BakeOptions.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <tuple>

#include "BakedAsset.h"
#include "OptionText.h"
#include "host/Bitmap.h"
#include "host/SafeOutput.h"
#include "sources/ResourceIds.h"

namespace fs = std::filesystem;

namespace app {
namespace {

constexpr int kMinSize = 10, kMaxSize = 6400;
constexpr int kMaxSupersampling = 8, kMaxGrid = 12, kMaxThreads = 256;

const std::vector<std::string> kBlockNames = {"none", "-x", "+x", "-y", "+y", "-z", "+z"};
const std::vector<std::string> kOccluderNames = {"high", "hierarchy", "scene"};

const BakeFormat kFormats[] = {{"tif", IDC_BAKE_FORMAT_TIF, 8, {8, 16}},
                               {"tga", IDC_BAKE_FORMAT_TGA, 8, {8}},
                               {"bmp", IDC_BAKE_FORMAT_BMP, 8, {8}},
                               {"png", IDC_BAKE_FORMAT_PNG, 8, {8, 16}},
                               {"exr", IDC_BAKE_FORMAT_EXR, 32, {16, 32}}};

int indexOf(const std::vector<std::string>& names, const std::string& name) {
    const auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

// The suffix after the last dot of the file name ("" when there is none).
std::string suffixOf(const std::string& path) {
    const std::string ext = fs::path(path).extension().string();
    return ext.size() > 1 ? ext.substr(1) : std::string();
}

// Checks the options that need no file; fills the plan. An error message, or "" when all is well.
std::string checkOptions(const BakeOptions& o, BakePlan& plan) {
    if (o.high.empty() || o.low.empty()) return "--high and --low each need a mesh file (FILE or FILE:OBJECT)";
    if (o.normal.empty() && o.occlusion.empty() && o.displacement.empty())
        return "no map asked for: give --normal, --occlusion and/or --displacement with an output file";
    if (o.sizeGiven) plan.width = plan.height = o.size;
    if (o.widthGiven) plan.width = o.width;
    if (o.heightGiven) plan.height = o.height;
    const char* sizeOption = o.sizeGiven ? "--size" : nullptr;
    for (const auto& [option, value] : {std::pair{"--width", plan.width}, std::pair{"--height", plan.height}})
        if (value < kMinSize || value > kMaxSize)
            return std::string(sizeOption ? sizeOption : option) + " " + std::to_string(value) +
                   ": the map size must be " + std::to_string(kMinSize) + " to " + std::to_string(kMaxSize) +
                   " pixels";
    if (o.supersampling < 1 || o.supersampling > kMaxSupersampling)
        return "--supersampling " + std::to_string(o.supersampling) + " is outside 1 to " +
               std::to_string(kMaxSupersampling);
    if (o.occlusion.empty() && !o.occlusionOptionsGiven.empty())
        return joined(o.occlusionOptionsGiven) + ": for the occlusion map only, which needs --occlusion FILE";
    if (o.aoGrid < 1 || o.aoGrid > kMaxGrid)
        return "--ao-grid " + std::to_string(o.aoGrid) + " is outside 1 to " + std::to_string(kMaxGrid);
    if (!(o.aoExponent >= 1.0)) return "--ao-exponent must be 1 or more";
    plan.halfSpace = indexOf(kBlockNames, o.aoBlock);
    if (plan.halfSpace < 0) return "--ao-block " + o.aoBlock + " is not one of " + joined(kBlockNames);
    plan.occluderMode = indexOf(kOccluderNames, o.occluders);
    if (plan.occluderMode < 0) return "--occluders " + o.occluders + " is not one of " + joined(kOccluderNames);
    if (!o.scene.empty() && o.occluders != "scene") return "--scene only applies with --occluders scene";
    if (o.bumpStrengthGiven && o.bump.empty()) return "--bump-strength needs a --bump image";
    if (o.normalY != "up" && o.normalY != "down") return "--normal-y " + o.normalY + " is not one of up, down";
    if ((o.threadsGiven && o.threads < 1) || o.threads < 0 || o.threads > kMaxThreads)
        return "--threads " + std::to_string(o.threads) + " is outside 1 to " + std::to_string(kMaxThreads);

    const std::vector<std::pair<const char*, const std::string*>> given = {
        {"--normal", &o.normal}, {"--occlusion", &o.occlusion}, {"--displacement", &o.displacement}};
    // The format: as asked, else the one suffix the output files share, else TIFF.
    std::string format = o.format;
    if (format.empty())
        for (const auto& [option, path] : given)
            if (!path->empty() && !suffixOf(*path).empty()) {
                format = suffixOf(*path);
                break;
            }
    if (format.empty()) format = "tif";
    plan.format = nullptr;
    for (const BakeFormat& f : kFormats)
        if (format == f.name) plan.format = &f;
    if (plan.format == nullptr) {
        if (o.format.empty()) return "maps are written as .tif, .png, .exr, .tga or .bmp files, not ." + format;
        return "--format " + format + " is not one of tif, png, exr, tga, bmp";
    }
    plan.bits = o.bits == 0 ? plan.format->defaultBits : o.bits;
    if (std::find(plan.format->bits.begin(), plan.format->bits.end(), plan.bits) == plan.format->bits.end()) {
        std::string held;
        for (int b : plan.format->bits) held += (held.empty() ? "" : " or ") + std::to_string(b);
        return "--bits " + std::to_string(plan.bits) + ": ." + plan.format->name + " maps hold " + held +
               " bits per channel";
    }

    const MapRequest requests[] = {
        {"--normal", "normal map", o.normal, IDC_BAKE_NORMAL_ON, IDC_BAKE_NORMAL_FILE, IDC_BAKE_NORMAL_CHOOSE},
        {"--occlusion", "occlusion map", o.occlusion, IDC_BAKE_OCCLUSION_ON, IDC_BAKE_OCCLUSION_FILE, IDC_BAKE_OCCLUSION_CHOOSE},
        {"--displacement", "displacement map", o.displacement, IDC_BAKE_DISPLACEMENT_ON, IDC_BAKE_DISPLACEMENT_FILE,
         IDC_BAKE_DISPLACEMENT_CHOOSE}};
    for (MapRequest m : requests) {
        if (m.path.empty()) continue;
        const std::string suffix = suffixOf(m.path);
        if (!suffix.empty() && suffix != plan.format->name)
            return std::string(m.option) + " " + m.path + ": the maps of one bake are all ." + plan.format->name +
                   " files (choose the format with --format)";
        std::error_code ec;
        // A folder is refused as given, before a suffix would turn it into a file beside it.
        if (fs::is_directory(m.path, ec))
            return std::string(m.option) + " " + m.path + " is a folder; give a file name for the " + m.what;
        if (suffix.empty()) m.path = fs::path(m.path).replace_extension(plan.format->name).string();
        if (std::string problem = host::outputProblem(m.path); !problem.empty())
            return std::string(m.option) + " " + problem;
        if (m.checkbox == IDC_BAKE_DISPLACEMENT_ON) {
            const std::string scale = fs::path(m.path).replace_extension("txt").string();
            if (std::string problem = host::outputProblem(scale); !problem.empty())
                return std::string(m.option) + " " + m.path + ": its scale file " + problem;
        }
        plan.maps.push_back(m);
    }
    if (!o.bump.empty()) {
        host::Bitmap image;
        std::string error;
        if (!image.load(o.bump, &error)) return "cannot read the bump image " + o.bump + ": " + error;
    }
    return {};
}

// FILE or FILE:OBJECT; a name with a colon that is an existing file is a file.
std::pair<std::string, std::string> splitObjectArgument(const std::string& argument) {
    std::error_code ec;
    const size_t colon = argument.rfind(':');
    if (colon == std::string::npos || colon == 0 || fs::exists(argument, ec)) return {argument, ""};
    return {argument.substr(0, colon), argument.substr(colon + 1)};
}

// No output may be one of the inputs or another output.
std::string checkFileRoles(const BakePlan& plan) {
    std::vector<std::pair<std::string, std::string>> inputs = {{"--high", plan.highFile}, {"--low", plan.lowFile}};
    for (const std::string& f : plan.scene) inputs.emplace_back("--scene", f);
    if (!plan.bump.empty()) inputs.emplace_back("--bump", plan.bump);
    const std::vector<std::pair<std::string, std::string>> outputs = plan.outputs();
    for (size_t i = 0; i < outputs.size(); ++i) {
        const auto& [option, path] = outputs[i];
        for (const auto& [inOption, input] : inputs)
            if (host::sameFile(path, input))
                return option + " " + path + " is the same file as the input " + inOption + " " + input +
                       "; write the map to another file";
        for (size_t k = 0; k < i; ++k)
            if (host::sameFile(path, outputs[k].second))
                return outputs[k].first + " and " + option + " both write " + path;
    }
    return {};
}

}  // namespace

bool BakePlan::wants(int32_t checkbox) const {
    return std::any_of(maps.begin(), maps.end(), [checkbox](const MapRequest& m) { return m.checkbox == checkbox; });
}

std::vector<std::pair<std::string, std::string>> BakePlan::outputs() const {
    std::vector<std::pair<std::string, std::string>> files;  // option, path
    for (const MapRequest& m : maps) {
        files.emplace_back(m.option, m.path);
        // An EXR displacement holds distances in scene units and needs no scale file.
        if (m.checkbox == IDC_BAKE_DISPLACEMENT_ON && format->choice != IDC_BAKE_FORMAT_EXR)
            files.emplace_back(std::string(m.option) + " (its scale)", fs::path(m.path).replace_extension("txt").string());
    }
    return files;
}

CLI::App* addBakeCommand(CLI::App& cli, BakeOptions& o) {
    CLI::App* bake = cli.add_subcommand(
        "bake",
        "Bake normal, ambient occlusion and displacement maps from a high-resolution object onto the UV layout "
        "of a low-resolution object");
    bake->add_option("--high", o.high, "High-resolution object: FILE, or FILE:OBJECT when the file holds several")
        ->required();
    bake->add_option("--low", o.low, "Low-resolution object with texture coordinates: FILE or FILE:OBJECT")
        ->required();
    bake->add_option("--normal", o.normal, "Write the tangent-space normal map to this file");
    bake->add_option("--occlusion", o.occlusion, "Write the ambient occlusion map to this file");
    bake->add_option("--displacement", o.displacement,
                     "Write the displacement map to this file (its scale goes to the same name with .txt, except "
                     "for exr)");
    CLI::Option* size = bake->add_option("--size", o.size, "Width and height of the maps in pixels (10 to 6400, "
                                                           "default 600)");
    CLI::Option* width = bake->add_option("--width", o.width, "Width of the maps in pixels (10 to 6400)")->excludes(size);
    CLI::Option* height =
        bake->add_option("--height", o.height, "Height of the maps in pixels (10 to 6400)")->excludes(size);
    bake->add_option("--supersampling", o.supersampling,
                     "Sample grid N per texel: 1 samples the centre, N >= 2 the centre and N x N more (1 to 8)")
        ->default_val(2);
    bake->add_option("--format", o.format,
                     "Image format: tif, png, exr, tga or bmp (default: the suffix of the output files, else tif)");
    bake->add_option("--bits", o.bits,
                     "Bits per channel: 8 or 16 for tif and png, 16 (half) or 32 (float) for exr, 8 for tga and bmp "
                     "(default 8, exr 32). EXR maps hold the values themselves: normals as signed components, "
                     "displacements as signed distances in scene units (no scale file)");
    bake->add_option("--asset", o.asset,
                     "Also write a ready-to-use glTF asset (.glb: one file; or .gltf): the low object with its UVs "
                     "and a material whose normal texture is the baked normal map (baked for the asset when --normal "
                     "is not given) and whose occlusion texture is the occlusion map when one is baked");
    bake->add_option("--normal-y", o.normalY,
                     "The normal map's green channel: up (y up the texture: the OpenGL-style convention of most "
                     "tools and of glTF) or down (y down: DirectX-style, for engines that want the green flipped)")
        ->default_val("up");
    std::vector<CLI::Option*> occlusionOptions;
    occlusionOptions.push_back(
        bake->add_option("--occluders", o.occluders,
                         "What blocks occlusion rays: high (the high object), hierarchy (it and its children) or "
                         "scene (every object of the document)")
            ->default_val("high"));
    occlusionOptions.push_back(
        bake->add_option("--scene", o.scene, "With --occluders scene: more mesh files whose objects occlude"));
    occlusionOptions.push_back(
        bake->add_option("--ao-grid", o.aoGrid, "Occlusion directions per quadrant row and column (1 to 12)")
            ->default_val(3));
    occlusionOptions.push_back(bake->add_flag(
        "--ao-random", o.aoRandom, "Draw fresh random occlusion directions per sample (default: the fixed set)"));
    occlusionOptions.push_back(
        bake->add_option("--ao-exponent", o.aoExponent, "Exponent k of the direction weights (1 or more)")
            ->default_val(1.0));
    occlusionOptions.push_back(bake->add_option("--ao-block", o.aoBlock,
                                                "Half-space that counts as blocked: none, -x, +x, -y, +y, -z or +z")
                                   ->default_val("none"));
    bake->add_option("--bump", o.bump,
                     "Grey height image over the high object's texture coordinates (tif, png, exr, tga or bmp)");
    CLI::Option* strength =
        bake->add_option("--bump-strength", o.bumpStrength, "Scale of the bump image (1 = 100 %)")->default_val(1.0);
    CLI::Option* threads = bake->add_option("--threads", o.threads,
                     "Threads the bake runs on (1 to " + std::to_string(kMaxThreads) +
                         "; default: one per processor core). The maps are the same for any count");
    bake->add_flag("--show-dialog", o.showDialog, "Print the dialog as set up, before baking");
    bake->final_callback([&o, occlusionOptions, strength, size, width, height, threads] {
        o.threadsGiven = threads->count() > 0;
        o.sizeGiven = size->count() > 0;
        o.widthGiven = width->count() > 0;
        o.heightGiven = height->count() > 0;
        o.occlusionOptionsGiven.clear();
        for (CLI::Option* opt : occlusionOptions)
            if (opt->count() > 0) o.occlusionOptionsGiven.push_back(opt->get_name());
        o.bumpStrengthGiven = strength->count() > 0;
    });
    return bake;
}

std::string planBake(const BakeOptions& given, BakePlan& plan) {
    BakeOptions o = given;
    // An asset without a normal map file of its own gets one in the temporary folder, in the format
    // of the bake's other maps.
    if (!o.asset.empty()) {
        if (std::string problem = assetPathProblem(o.asset); !problem.empty()) return "--asset " + problem;
        if (o.normal.empty()) {
            std::string suffix = o.format;
            for (const std::string* p : {&o.occlusion, &o.displacement})
                if (suffix.empty()) suffix = suffixOf(*p);
            if (suffix.empty()) suffix = "png";
            o.normal = temporaryMapPath("normal", suffix);
            plan.normalForAssetOnly = true;
        }
    }
    if (std::string problem = checkOptions(o, plan); !problem.empty()) return problem;
    std::tie(plan.highFile, plan.highName) = splitObjectArgument(o.high);
    std::tie(plan.lowFile, plan.lowName) = splitObjectArgument(o.low);
    plan.scene = o.scene;
    plan.supersampling = o.supersampling;
    plan.normalYDown = o.normalY == "down";
    plan.aoGrid = o.aoGrid;
    plan.aoRandom = o.aoRandom;
    plan.aoExponent = o.aoExponent;
    plan.bump = o.bump;
    plan.bumpStrength = o.bumpStrength;
    plan.threads = o.threads;
    plan.showDialog = o.showDialog;
    plan.asset = o.asset;
    if (std::string problem = checkFileRoles(plan); !problem.empty()) return problem;
    if (!plan.asset.empty()) {
        for (const std::string& f : {plan.highFile, plan.lowFile, plan.bump})
            if (!f.empty() && host::sameFile(plan.asset, f))
                return "--asset " + plan.asset + " is the same file as the input " + f;
        for (const auto& [option, path] : plan.outputs())
            if (host::sameFile(plan.asset, path)) return "--asset and " + option + " both write " + plan.asset;
    }
    return {};
}

}  // namespace app
