#include "BakeCommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "BakedAsset.h"
#include "HostSession.h"
#include "sources/HostContract.h"
#include "sources/ResourceIds.h"
#include "host/Bitmap.h"
#include "host/Dialogs.h"
#include "host/EventQueue.h"
#include "host/SafeOutput.h"
#include "host/StatusBar.h"
#include "host/Threads.h"
#include "host/formats/BakedMapImages.h"

namespace fs = std::filesystem;

namespace app {
namespace {


constexpr int kMinSize = 10, kMaxSize = 6400;
constexpr int kMaxSupersampling = 8, kMaxGrid = 12, kMaxThreads = 256;
constexpr int kInterruptedExit = 130;

const std::vector<std::string> kBlockNames = {"none", "-x", "+x", "-y", "+y", "-z", "+z"};
const std::vector<std::string> kOccluderNames = {"high", "hierarchy", "scene"};

struct Format {
    const char* name;
    int32_t choice;
    int defaultBits;
    std::vector<int> bits;  // the depths a file of the format holds
};
const Format kFormats[] = {{"tif", IDC_BAKE_FORMAT_TIF, 8, {8, 16}},
                           {"tga", IDC_BAKE_FORMAT_TGA, 8, {8}},
                           {"bmp", IDC_BAKE_FORMAT_BMP, 8, {8}},
                           {"png", IDC_BAKE_FORMAT_PNG, 8, {8, 16}},
                           {"exr", IDC_BAKE_FORMAT_EXR, 32, {16, 32}}};

// One map asked for: its option, the path as written, and the dialog's gadgets for it.
struct MapRequest {
    const char* option;
    const char* what;
    std::string path;  // as the dialog will name it (with the format's suffix)
    int32_t checkbox, fileGadget, chooseButton;
};

// Everything the options say, checked and resolved.
struct Plan {
    int width = 600, height = 600;
    const Format* format = &kFormats[0];
    int bits = 8;
    std::vector<MapRequest> maps;
    int occluderMode = 0;
    int halfSpace = 0;
};

class Failure {
public:
    explicit Failure(std::ostream& err) : err_(err) {}
    int operator()(const std::string& message) const {
        err_ << "vexlor bake: " << message << "\n";
        return 1;
    }

private:
    std::ostream& err_;
};

int indexOf(const std::vector<std::string>& names, const std::string& name) {
    const auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

std::string joined(const std::vector<std::string>& names) {
    std::string s;
    for (const std::string& n : names) s += (s.empty() ? "" : ", ") + n;
    return s;
}

// The suffix after the last dot of the file name ("" when there is none).
std::string suffixOf(const std::string& path) {
    const std::string ext = fs::path(path).extension().string();
    return ext.size() > 1 ? ext.substr(1) : std::string();
}

// Checks the options that need no file; fills the plan. An error message, or "" when all is well.
std::string checkOptions(const BakeOptions& o, Plan& plan) {
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
    for (const Format& f : kFormats)
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

// Each file this bake writes: the maps, and the displacement map's scale file.
std::vector<std::pair<std::string, std::string>> outputsOf(const Plan& plan) {
    std::vector<std::pair<std::string, std::string>> outputs;  // option, path
    for (const MapRequest& m : plan.maps) {
        outputs.emplace_back(m.option, m.path);
        // An EXR displacement holds distances in scene units and needs no scale file.
        if (m.checkbox == IDC_BAKE_DISPLACEMENT_ON && plan.format->choice != IDC_BAKE_FORMAT_EXR)
            outputs.emplace_back(std::string(m.option) + " (its scale)",
                                 fs::path(m.path).replace_extension("txt").string());
    }
    return outputs;
}

// No output may be one of the inputs or another output.
std::string checkFileRoles(const BakeOptions& o, const Plan& plan, const std::string& highFile,
                           const std::string& lowFile) {
    std::vector<std::pair<std::string, std::string>> inputs = {{"--high", highFile}, {"--low", lowFile}};
    for (const std::string& f : o.scene) inputs.emplace_back("--scene", f);
    if (!o.bump.empty()) inputs.emplace_back("--bump", o.bump);
    const std::vector<std::pair<std::string, std::string>> outputs = outputsOf(plan);
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

void collect(host::Object* o, std::vector<host::Object*>& out) {
    out.push_back(o);
    for (const auto& c : o->children()) collect(c.get(), out);
}

// The object an argument names among the objects of its file; null with `error` set when there is none.
host::PolygonObject* pickObject(const std::string& option, const std::string& file, const std::string& name,
                                const std::vector<host::Object*>& loaded, std::string& error) {
    std::vector<host::Object*> all;
    for (host::Object* o : loaded) collect(o, all);
    std::vector<std::string> names;
    std::vector<host::Object*> polygonObjects;
    for (host::Object* o : all) {
        names.push_back("\"" + o->name() + "\"");
        if (o->isPolygonObject()) polygonObjects.push_back(o);
    }
    if (!name.empty()) {
        for (host::Object* o : all)
            if (o->name() == name) {
                if (o->isPolygonObject()) return static_cast<host::PolygonObject*>(o);
                error = option + ": the object \"" + name + "\" of " + file + " is not a polygon object";
                return nullptr;
            }
        error = option + ": " + file + " has no object \"" + name + "\" (it has " + joined(names) + ")";
        return nullptr;
    }
    if (polygonObjects.size() == 1) return static_cast<host::PolygonObject*>(polygonObjects.front());
    if (polygonObjects.empty())
        error = option + ": " + file + " holds no polygon object";
    else
        error = option + ": " + file + " holds several objects (" + joined(names) + "); name one as " + file +
                ":OBJECT";
    return nullptr;
}

// Works the open baking dialog; each step reports what it could not do.
class DialogHand {
public:
    DialogHand(HostSession& session, HostDialogBase* dialog) : dialogs_(session.dialogs()), dialog_(dialog) {}

    bool set(int32_t gadget, const host::UserValue& value, const std::string& what) {
        return check(dialogs_.setByUser(dialog_, gadget, value), what);
    }
    bool choose(int32_t gadget, int32_t entry, const std::string& what) {
        return check(dialogs_.choose(dialog_, gadget, entry), what);
    }
    // Presses a choose button and answers the file chooser with `path`; the file gadget must then
    // show it.
    bool chooseFile(int32_t button, int32_t fileGadget, const std::string& path, const std::string& what) {
        dialogs_.queueFileAnswer(path);
        std::string shown;
        return check(dialogs_.press(dialog_, button) && dialogs_.getFilename(dialog_, fileGadget, shown) &&
                         shown == path,
                     what);
    }
    // Drops one item on a drop area, as a drag that ends there; the name gadget must then show it.
    bool drop(int32_t area, int32_t nameGadget, const host::DragItem& item, const std::string& name,
              const std::string& what) {
        const host::DropResult r = dialogs_.drop(dialog_, area, {item}, true);
        std::string shown;
        return check(r.delivered && r.cursor == BAKE_CURSOR_ACCEPTED &&
                         dialogs_.getString(dialog_, nameGadget, shown) && shown == name,
                     what);
    }

    const std::string& failed() const { return failed_; }

private:
    bool check(bool ok, const std::string& what) {
        if (!ok && failed_.empty()) failed_ = what;
        return ok;
    }
    host::DialogHost& dialogs_;
    HostDialogBase* dialog_;
    std::string failed_;
};

// Sets every gadget from the plan and the options, as a person at the dialog would.
bool fillDialog(DialogHand& hand, const BakeOptions& o, const Plan& plan) {
    bool ok = hand.set(IDC_BAKE_WIDTH, plan.width, "the width") && hand.set(IDC_BAKE_HEIGHT, plan.height, "the height") &&
              hand.choose(IDC_BAKE_SUPERSAMPLING, IDC_BAKE_SUPERSAMPLING + o.supersampling, "the supersampling") &&
              hand.choose(IDC_BAKE_FORMAT, plan.format->choice, "the file format") &&
              hand.choose(IDC_BAKE_BITS,
                          plan.bits == 32 ? IDC_BAKE_BITS_32 : plan.bits == 16 ? IDC_BAKE_BITS_16 : IDC_BAKE_BITS_8,
                          "the bit depth");
    const bool normal = !o.normal.empty(), occlusion = !o.occlusion.empty(), displacement = !o.displacement.empty();
    ok = ok && hand.set(IDC_BAKE_NORMAL_ON, normal, "the normal map switch") &&
         hand.set(IDC_BAKE_OCCLUSION_ON, occlusion, "the occlusion map switch") &&
         hand.set(IDC_BAKE_DISPLACEMENT_ON, displacement, "the displacement map switch");
    for (const MapRequest& m : plan.maps)
        ok = ok && hand.chooseFile(m.chooseButton, m.fileGadget, m.path, std::string("the ") + m.what + " file");
    if (normal)
        ok = ok && hand.choose(IDC_BAKE_NORMAL_Y, o.normalY == "down" ? IDC_BAKE_NORMAL_Y_DOWN : IDC_BAKE_NORMAL_Y_UP,
                               "the normal map's green channel");
    if (occlusion)
        ok = ok && hand.choose(IDC_BAKE_OCCLUSION_GRID, IDC_BAKE_OCCLUSION_GRID + o.aoGrid, "the occlusion grid") &&
             hand.set(IDC_BAKE_OCCLUSION_RANDOM, o.aoRandom, "the random directions switch") &&
             hand.choose(IDC_BAKE_OCCLUDERS, IDC_BAKE_OCCLUDERS + 1 + plan.occluderMode, "the occluders") &&
             hand.set(IDC_BAKE_OCCLUSION_EXPONENT, o.aoExponent, "the occlusion exponent") &&
             hand.choose(IDC_BAKE_HALF_SPACE, IDC_BAKE_HALF_SPACE + 1 + plan.halfSpace, "the blocked half-space");
    if (!o.bump.empty())
        ok = ok && hand.chooseFile(IDC_BAKE_BUMP_CHOOSE, IDC_BAKE_BUMP_FILE, o.bump, "the bump image") &&
             hand.set(IDC_BAKE_BUMP_STRENGTH, o.bumpStrength, "the bump strength");
    return ok;
}

// Removes the files of this bake that were not there before it.
void removeNewFiles(const std::vector<std::string>& paths, const std::vector<bool>& existedBefore) {
    for (size_t i = 0; i < paths.size(); ++i) {
        std::error_code ec;
        if (!existedBefore[i]) fs::remove(paths[i], ec);
    }
}

}  // namespace

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

int runBake(const std::string& moduleDir, const BakeOptions& given, std::ostream& out, std::ostream& err) {
    const Failure fail(err);
    BakeOptions o = given;
    // An asset without a normal map file of its own gets one in the temporary folder, in the format
    // of the bake's other maps.
    TemporaryFiles assetNormal;
    if (!o.asset.empty()) {
        if (std::string problem = assetPathProblem(o.asset); !problem.empty()) return fail("--asset " + problem);
        if (o.normal.empty()) {
            std::string suffix = o.format;
            for (const std::string* p : {&o.occlusion, &o.displacement})
                if (suffix.empty()) suffix = suffixOf(*p);
            if (suffix.empty()) suffix = "png";
            o.normal = temporaryMapPath("normal", suffix);
            assetNormal.paths.push_back(o.normal);
        }
    }
    Plan plan;
    if (std::string problem = checkOptions(o, plan); !problem.empty()) return fail(problem);

    const auto [highFile, highName] = splitObjectArgument(o.high);
    const auto [lowFile, lowName] = splitObjectArgument(o.low);
    if (std::string problem = checkFileRoles(o, plan, highFile, lowFile); !problem.empty()) return fail(problem);
    if (!o.asset.empty()) {
        for (const std::string& f : {highFile, lowFile, o.bump})
            if (!f.empty() && host::sameFile(o.asset, f))
                return fail("--asset " + o.asset + " is the same file as the input " + f);
        for (const auto& [option, path] : outputsOf(plan))
            if (host::sameFile(o.asset, path)) return fail("--asset and " + option + " both write " + o.asset);
    }

    std::string error;
    std::unique_ptr<HostSession> session = HostSession::start(moduleDir, &error);
    if (!session) return fail(error);
    // The module asks the host how many worker threads to run: the host's setting, as asked here.
    host::setWorkerThreadCount(o.threads);

    // Every file goes into the one document, each file once.
    std::map<std::string, std::vector<host::Object*>> files;
    auto load = [&](const std::string& file) -> const std::vector<host::Object*>* {
        std::error_code ec;
        const std::string key = fs::absolute(file, ec).lexically_normal().string();
        if (auto it = files.find(key); it != files.end()) return &it->second;
        std::vector<host::Object*> loaded;
        if (!session->loadFile(file, &loaded, &error)) return nullptr;
        std::vector<host::Object*>& slot = files[key];
        slot = std::move(loaded);
        return &slot;
    };
    const std::vector<host::Object*>* highObjects = load(highFile);
    if (!highObjects) return fail(error);
    const std::vector<host::Object*>* lowObjects = load(lowFile);
    if (!lowObjects) return fail(error);
    for (const std::string& f : o.scene)
        if (!load(f)) return fail(error);

    host::PolygonObject* high = pickObject("--high", highFile, highName, *highObjects, error);
    if (!high) return fail(error);
    host::PolygonObject* low = pickObject("--low", lowFile, lowName, *lowObjects, error);
    if (!low) return fail(error);
    if (!low->tag(host::TAG_UVW))
        return fail("the low object \"" + low->name() + "\" of " + lowFile +
                    " has no texture coordinates (UVs): the maps are baked over its UV layout");
    if (!o.bump.empty() && !high->tag(host::TAG_UVW))
        return fail("--bump needs texture coordinates (UVs) on the high object \"" + high->name() + "\"");

    HostDialogBase* dialog = session->openCommand(OMBRIN_ID, &error);
    if (!dialog) return fail(error);
    DialogHand hand(*session, dialog);
    // With a bump image the high object is given by its UVW tag, over which the image lies.
    const host::DragItem highItem =
        o.bump.empty() ? host::DragItem::object(high) : host::DragItem::tag(high->tag(host::TAG_UVW));
    if (!hand.drop(IDC_BAKE_HIGH_DROP, IDC_BAKE_HIGH_NAME, highItem, high->name(), "the high object") ||
        !hand.drop(IDC_BAKE_LOW_DROP, IDC_BAKE_LOW_NAME, host::DragItem::object(low), low->name(), "the low object") ||
        !fillDialog(hand, o, plan))
        return fail("the baking dialog did not take " + hand.failed());
    if (!session->dialogs().usable(dialog, IDC_BAKE_START)) return fail("the baking dialog does not offer the bake");
    if (o.showDialog) out << session->dialogs().render(dialog) << std::flush;

    // The files of this bake, to be taken away again when it fails or is stopped.
    std::vector<std::string> outputs;
    for (const auto& [option, path] : outputsOf(plan)) outputs.push_back(path);
    std::vector<bool> existed;
    for (const std::string& p : outputs) {
        // A link counts as there even when it points at nothing yet: it is never removed.
        std::error_code ec;
        existed.push_back(fs::exists(fs::symlink_status(p, ec)));
    }

    // The bake's end message carries its outcome (BAKE_END_...).
    bool ended = false;
    int32_t outcome = BAKE_END_FAILED;
    host::DialogHost& dialogs = session->dialogs();
    dialogs.setEventObserver([&ended, &outcome](const host::Event& e) {
        if (e.kind != host::Event::Kind::DialogMessage || e.id != OMBRIN_ID) return;
        ended = true;
        outcome = e.value1;
    });
    if (!dialogs.press(dialog, IDC_BAKE_START)) {
        dialogs.setEventObserver({});
        return fail("the bake button could not be pressed");
    }
    host::StatusBar& status = host::StatusBar::main();
    std::string shown;
    bool announced = false;
    const bool finished = session->waitFor(
        [&] {
            if (!announced) {
                err << "vexlor bake: baking \"" << low->name() << "\" from \"" << high->name() << "\", "
                    << plan.width << " x " << plan.height << " (Ctrl-C stops)" << std::endl;
                announced = true;
            }
            std::string text;
            if (dialogs.getString(dialog, IDC_BAKE_STATUS, text) && text != shown && !text.empty()) status.text(text);
            shown = text;
            return ended;
        },
        [&] { dialogs.press(dialog, IDC_BAKE_START); });
    dialogs.setEventObserver({});
    status.clear();

    std::string final;
    dialogs.getString(dialog, IDC_BAKE_STATUS, final);
    if (!finished) {
        removeNewFiles(outputs, existed);
        err << "vexlor bake: stopped; no map was written\n";
        return kInterruptedExit;
    }
    if (outcome != BAKE_END_DONE) {
        // The status line says why, in the dialog's words.
        removeNewFiles(outputs, existed);
        return fail("the bake failed (" + final + "); no map was written");
    }
    if (!o.asset.empty()) {
        std::string occlusionPath;
        for (const MapRequest& m : plan.maps)
            if (m.checkbox == IDC_BAKE_OCCLUSION_ON) occlusionPath = m.path;
        // A copy that carries the smooth normals the maps were baked over.
        std::unique_ptr<host::Object> copy = low->cloneAlone();
        auto* shaded = static_cast<host::PolygonObject*>(copy.get());
        host::formats::keepBakedNormals(*shaded);
        host::formats::BakedMapsOf baked;
        if (!host::formats::bakedMapsFromFiles(o.normal, o.normalY == "down", occlusionPath, baked[shaded], error) ||
            !writeBakedAsset(o.asset, {shaded}, baked, error)) {
            removeNewFiles(outputs, existed);
            return fail("the asset could not be written (" + error + "); no map was kept");
        }
    }
    for (const MapRequest& m : plan.maps) {
        if (m.checkbox == IDC_BAKE_NORMAL_ON && given.normal.empty()) continue;  // made only for the asset
        out << m.what << ": " << m.path << " (" << plan.width << " x " << plan.height;
        if (plan.format->choice == IDC_BAKE_FORMAT_EXR)
            out << ", " << (plan.bits == 32 ? "float" : "half");
        else if (plan.bits != 8)
            out << ", " << plan.bits << " bits";
        out << ")";
        if (m.checkbox == IDC_BAKE_DISPLACEMENT_ON && plan.format->choice != IDC_BAKE_FORMAT_EXR)
            out << ", scale in " << fs::path(m.path).replace_extension("txt").string();
        else if (m.checkbox == IDC_BAKE_DISPLACEMENT_ON)
            out << ", signed distances in scene units";
        out << "\n";
    }
    if (!o.asset.empty())
        out << "asset: " << o.asset << " (\"" << low->name() << "\" with its "
            << (o.occlusion.empty() ? "normal map" : "normal and occlusion maps") << ", glTF)\n";
    return 0;
}

}  // namespace app
