#include "RenderCommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <sstream>

#include "HostSession.h"
#include "host/Bitmap.h"
#include "host/SafeOutput.h"
#include "host/StatusBar.h"
#include "host/render/Renderer.h"
#include "host/render/ShaderNode.h"
#include "host/render/TextStamp.h"
#include "sources/HostInterface.h"

namespace fs = std::filesystem;
using host::render::Bounds;
using host::render::Camera;
using host::render::Image;
using host::render::Material;
using host::render::ShaderNode;
using host::render::V3;

namespace app {
namespace {

constexpr int kMinSide = 8, kMaxSide = 16384;
constexpr int kMaxSamples = 64;
// Images with at least this many rays show their progress.
constexpr int64_t kProgressRays = 1 << 20;
// Differences are drawn this many times brighter than they are.
constexpr int kDifferenceGain = 4;

class Failure {
public:
    explicit Failure(std::ostream& err) : err_(err) {}
    int operator()(const std::string& message) const {
        err_ << "vexlor render: " << message << "\n";
        return 1;
    }

private:
    std::ostream& err_;
};

bool parseSize(const std::string& s, int* w, int* h) {
    const size_t x = s.find_first_of("xX");
    if (x == std::string::npos) return false;
    try {
        size_t used1 = 0, used2 = 0;
        const std::string a = s.substr(0, x), b = s.substr(x + 1);
        *w = std::stoi(a, &used1);
        *h = std::stoi(b, &used2);
        return used1 == a.size() && used2 == b.size() && *w >= kMinSide && *h >= kMinSide && *w <= kMaxSide &&
               *h <= kMaxSide;
    } catch (...) {
        return false;
    }
}

bool parseVector(const std::string& s, V3* v) {
    std::stringstream in(s);
    double c[3];
    char comma1 = 0, comma2 = 0;
    if (!(in >> c[0] >> comma1 >> c[1] >> comma2 >> c[2]) || comma1 != ',' || comma2 != ',') return false;
    in >> std::ws;
    if (!in.eof()) return false;
    if (!std::isfinite(c[0]) || !std::isfinite(c[1]) || !std::isfinite(c[2])) return false;
    *v = {c[0], c[1], c[2]};
    return true;
}

// FILE or FILE:OBJECT; a name with a colon that is an existing file is a file.
std::pair<std::string, std::string> splitObjectArgument(const std::string& argument) {
    std::error_code ec;
    const size_t colon = argument.rfind(':');
    if (colon == std::string::npos || colon == 0 || fs::exists(argument, ec)) return {argument, ""};
    return {argument.substr(0, colon), argument.substr(colon + 1)};
}

void collect(host::Object* o, std::vector<host::Object*>& out) {
    out.push_back(o);
    for (const auto& c : o->children()) collect(c.get(), out);
}

// The polygon objects an argument names: the one object given by name, else every polygon object
// of the file. Empty with `error` set when there are none.
std::vector<const host::PolygonObject*> loadObjects(HostSession& session, const std::string& argument,
                                                    const std::string& what, std::string& error) {
    const auto [file, name] = splitObjectArgument(argument);
    std::vector<host::Object*> loaded, all;
    if (!session.loadFile(file, &loaded, &error)) return {};
    for (host::Object* o : loaded) collect(o, all);
    std::vector<const host::PolygonObject*> picked;
    for (host::Object* o : all) {
        if (!name.empty() && o->name() != name) continue;
        if (o->isPolygonObject()) picked.push_back(static_cast<const host::PolygonObject*>(o));
        else if (!name.empty()) error = what + ": the object \"" + name + "\" of " + file + " is not a polygon object";
    }
    if (picked.empty() && error.empty())
        error = name.empty() ? what + ": " + file + " holds no polygon object"
                             : what + ": " + file + " has no object \"" + name + "\"";
    return picked;
}

Bounds boundsOf(const std::vector<const host::PolygonObject*>& objects) {
    Bounds b;
    for (const host::PolygonObject* o : objects) {
        const host::Matrix m = o->globalMatrix();
        for (const host::Polygon& p : o->polygons) {
            if (p.a == p.b) continue;
            for (int i : {p.a, p.b, p.c, p.d}) {
                if (i < 0 || i >= o->pointCount()) continue;
                const host::Vec3f& q = o->points[i];
                const host::Vec3 w = m.apply({q.x, q.y, q.z});
                b.grow(V3{w.x, w.y, w.z});
            }
        }
    }
    return b;
}

struct Counts {
    int64_t points = 0, polygons = 0;
};
Counts countsOf(const std::vector<const host::PolygonObject*>& objects) {
    Counts c;
    for (const host::PolygonObject* o : objects) {
        c.points += o->pointCount();
        for (const host::Polygon& p : o->polygons) c.polygons += p.a != p.b ? 1 : 0;
    }
    return c;
}

// A camera further out than this sees nothing of any scene at float precision (the ray kernel's
// own limit lies near 1.8e18).
constexpr double kMaxCameraCoordinate = 1e15;
constexpr const char* kMaxCameraText = "1e15";

// Everything the options say, checked.
struct Plan {
    int width = 640, height = 480;
    bool cameraGiven = false;
    V3 eye, target;
    host::render::View view = host::render::View::Perspective;
    int32_t format = 0;
};

std::string checkOptions(const RenderOptions& o, Plan& plan) {
    const int modes = (o.input.empty() ? 0 : 1) + (o.compare.empty() ? 0 : 1) + (o.compareReduction.empty() ? 0 : 1);
    if (modes == 0) return "name a mesh file to render (FILE or FILE:OBJECT), or --compare, or --compare-reduction";
    if (modes > 1) return "give either a mesh file, --compare or --compare-reduction, not several";
    if (o.output.empty()) return "-o IMAGE is needed";
    plan.format = host::imageFormatForPath(o.output);
    if (plan.format != host::IMAGE_PNG && plan.format != host::IMAGE_TIFF)
        return "the image " + o.output + " must end in .png, .tif or .tiff";
    if (!parseSize(o.size, &plan.width, &plan.height))
        return "--size " + o.size + ": give WIDTHxHEIGHT, each from " + std::to_string(kMinSide) + " to " +
               std::to_string(kMaxSide) + " pixels";
    if (o.samples < 1 || o.samples > kMaxSamples)
        return "--samples must lie between 1 and " + std::to_string(kMaxSamples);
    if (o.threads < 0) return "--threads must not be negative";
    if (o.uvSet < 1) return "--uv-set counts from 1";
    if (!o.view.empty() && !host::render::parseView(o.view, &plan.view))
        return "--view " + o.view + ": choose front, side, top or perspective";
    if (!o.camera.empty()) {
        if (!o.view.empty()) return "--view and --camera exclude each other";
        if (o.camera.size() != 2 || !parseVector(o.camera[0], &plan.eye) || !parseVector(o.camera[1], &plan.target))
            return "--camera needs the eye and the target as EX,EY,EZ TX,TY,TZ";
        for (double c : {plan.eye.x, plan.eye.y, plan.eye.z, plan.target.x, plan.target.y, plan.target.z})
            if (std::fabs(c) > kMaxCameraCoordinate)
                return "--camera: coordinates beyond " + std::string(kMaxCameraText) + " in size are refused";
        if (length(plan.target - plan.eye) == 0.0) return "--camera: the eye and the target are the same point";
        plan.cameraGiven = true;
    }
    if (!o.normalMap.empty() && o.input.empty()) return "--normal-map applies to the rendering of one mesh file";
    if (o.normalY != "up" && o.normalY != "down") return "--normal-y " + o.normalY + " is not one of up, down";
    return {};
}

Camera cameraFor(const Plan& plan, const Bounds& frame, int width, int height) {
    if (plan.cameraGiven) return Camera::lookAt(plan.eye, plan.target, width, height);
    return Camera::framed(plan.view, frame, width, height);
}

// Renders objects with one material; shows progress for large images.
bool renderObjects(const std::vector<const host::PolygonObject*>& objects, const Material* material,
                   const Camera& camera, const RenderOptions& o, bool wireframe, host::Document* doc,
                   const std::string& label, Image* image, std::string& error) {
    host::render::Scene scene;
    for (const host::PolygonObject* obj : objects) scene.add(*obj, material);
    if (!scene.commit(&error)) return false;
    host::render::RenderSettings settings;
    settings.samples = o.samples;
    settings.threads = o.threads;
    settings.wireframe = wireframe;
    host::StatusBar& status = host::StatusBar::main();
    const bool showProgress = !o.quiet && int64_t(camera.width()) * camera.height() * o.samples >= kProgressRays;
    if (showProgress) {
        status.text("rendering " + label);
        settings.progress = [&status](int percent) { status.bar(percent); };
    }
    const bool ok = scene.render(camera, settings, doc, image, &error);
    if (showProgress) status.clear();
    return ok;
}

bool save(const host::Bitmap& image, const std::string& path, int32_t format, std::string& error) {
    std::string why;
    if (image.save(path, format, &why)) return true;
    error = "cannot write " + path + (why.empty() ? "" : ": " + why);
    return false;
}

// The normal-map shader on a material, its child a bitmap shader over the map, linked the way the
// host links a shader dropped on another: with the link message.
std::unique_ptr<ShaderNode> normalMapShader(host::Document* doc, const std::string& mapPath, bool greenDown,
                                            std::string& error) {
    std::unique_ptr<ShaderNode> shader = ShaderNode::makeModuleShader(XOMBRIN85_ID, doc, &error);
    if (!shader) return nullptr;
    std::unique_ptr<ShaderNode> map = ShaderNode::makeBitmap(mapPath, doc, &error);
    if (!map) {
        error = "cannot read the normal map " + mapPath + (error.empty() ? "" : ": " + error);
        return nullptr;
    }
    map->readAsNormalMap(greenDown);
    ShaderNode* mapNode = map.get();
    ShaderNode::park(std::move(map));
    shader->message(HOST_MSG_LINK_SHADER, mapNode);
    if (ShaderNode::unpark(mapNode)) {  // still parked: the shader did not take it
        error = "the normal-map shader did not take the map " + mapPath;
        return nullptr;
    }
    return shader;
}

std::string uvSetProblem(const std::vector<const host::PolygonObject*>& objects, int uvSet) {
    for (const host::PolygonObject* o : objects)
        if (o->tagCount(host::TAG_UVW) < uvSet)
            return "\"" + o->name() + "\" has " + std::to_string(o->tagCount(host::TAG_UVW)) +
                   " UVW set(s); the normal map needs set " + std::to_string(uvSet);
    return {};
}

// The pixels compared: those that every image covers fully, together with every pixel within
// `margin` of them. Silhouettes of a high and a low object differ, and no map can change a
// silhouette; along it the surfaces also lie farthest apart, so the band next to it is left out.
std::vector<uint8_t> interiorMask(const std::vector<const Image*>& images, int margin) {
    const int w = images.front()->width, h = images.front()->height;
    std::vector<uint8_t> covered(size_t(w) * h, 1), mask(size_t(w) * h, 0);
    for (size_t i = 0; i < covered.size(); ++i)
        for (const Image* m : images) covered[i] = covered[i] && m->coverage[i] >= 1.0f;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool inside = true;
            for (int dy = -margin; dy <= margin && inside; ++dy)
                for (int dx = -margin; dx <= margin && inside; ++dx) {
                    const int qx = x + dx, qy = y + dy;
                    inside = qx >= 0 && qy >= 0 && qx < w && qy < h && covered[size_t(qy) * w + qx];
                }
            mask[size_t(y) * w + x] = inside ? 1 : 0;
        }
    return mask;
}

// Mean absolute difference (0-255 per channel) over the masked pixels.
double meanDifference(const Image& a, const Image& b, const std::vector<uint8_t>& mask, int64_t* pixels) {
    double sum = 0.0;
    int64_t n = 0;
    for (size_t i = 0; i < mask.size(); ++i) {
        if (!mask[i]) continue;
        for (int c = 0; c < 3; ++c) {
            const float x = std::clamp(a.rgb[3 * i + c], 0.0f, 1.0f), y = std::clamp(b.rgb[3 * i + c], 0.0f, 1.0f);
            sum += std::fabs(x - y) * 255.0;
        }
        ++n;
    }
    if (pixels) *pixels = n;
    return n > 0 ? sum / (3.0 * n) : 0.0;
}

host::Bitmap differenceImage(const Image& a, const Image& b) {
    host::Bitmap d;
    d.init(a.width, a.height, 3, 8);
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const size_t i = static_cast<size_t>(y) * a.width + x;
            double s = 0.0;
            for (int c = 0; c < 3; ++c)
                s += std::fabs(std::clamp(a.rgb[3 * i + c], 0.0f, 1.0f) - std::clamp(b.rgb[3 * i + c], 0.0f, 1.0f));
            const int v = std::min(255, static_cast<int>(std::lround(s / 3.0 * 255.0 * kDifferenceGain)));
            d.setPixel(x, y, uint8_t(v), uint8_t(v), uint8_t(v));
        }
    return d;
}

// Panels in a grid, each under its caption lines.
struct Panel {
    host::Bitmap image;
    std::vector<std::string> caption;
};

host::Bitmap composeSheet(const std::vector<Panel>& panels, int columns, int width, int height) {
    const int scale = width >= 360 ? 2 : 1;
    const int pad = 4 * scale, line = host::render::textHeight(scale) + 3 * scale;
    size_t lines = 1;
    for (const Panel& p : panels) lines = std::max(lines, p.caption.size());
    const int cellW = width + 2 * pad, cellH = height + 2 * pad + static_cast<int>(lines) * line;
    const int rows = (static_cast<int>(panels.size()) + columns - 1) / columns;
    host::Bitmap sheet;
    sheet.init(cellW * columns, cellH * rows, 3, 8);
    for (int y = 0; y < sheet.height(); ++y)
        for (int x = 0; x < sheet.width(); ++x) sheet.setPixel(x, y, 28, 29, 33);
    for (size_t k = 0; k < panels.size(); ++k) {
        const int left = static_cast<int>(k % columns) * cellW + pad;
        const int top = static_cast<int>(k / columns) * cellH + pad;
        for (size_t l = 0; l < panels[k].caption.size(); ++l)
            host::render::stampText(sheet, left, top + static_cast<int>(l) * line, panels[k].caption[l], scale, 230,
                                    230, 230);
        const host::Bitmap& img = panels[k].image;
        const int imageTop = top + static_cast<int>(lines) * line;
        for (int y = 0; y < img.height() && y < height; ++y)
            for (int x = 0; x < img.width() && x < width; ++x)
                sheet.setPixel(left + x, imageTop + y, img.get8(x, y, 0), img.get8(x, y, 1), img.get8(x, y, 2));
    }
    return sheet;
}

std::string fixed(double v, int decimals) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(decimals) << v;
    return s.str();
}

int runSingle(HostSession& session, const RenderOptions& o, const Plan& plan, std::ostream& out, const Failure& fail) {
    std::string error;
    const std::vector<const host::PolygonObject*> objects = loadObjects(session, o.input, "render", error);
    if (objects.empty()) return fail(error);
    Bounds frame = boundsOf(objects);
    if (!o.frameOn.empty()) {
        const auto others = loadObjects(session, o.frameOn, "--frame-on", error);
        if (others.empty()) return fail(error);
        frame = boundsOf(others);
    }
    Material material;
    std::unique_ptr<ShaderNode> shader;
    if (!o.normalMap.empty()) {
        const std::string problem = uvSetProblem(objects, o.uvSet);
        if (!problem.empty()) return fail(problem);
        shader = normalMapShader(&session.document(), o.normalMap, o.normalY == "down", error);
        if (!shader) return fail(error);
        material.shader = shader.get();
        material.uvSet = o.uvSet;
    }
    const Camera camera = cameraFor(plan, frame, plan.width, plan.height);
    Image image;
    if (!renderObjects(objects, &material, camera, o, o.wireframe, &session.document(), o.input, &image, error))
        return fail(error);
    if (!save(image.toBitmap(), o.output, plan.format, error)) return fail(error);
    out << "rendered " << o.input << " (" << plan.width << " x " << plan.height << ") to " << o.output << "\n";
    return 0;
}

int runCompare(HostSession& session, const RenderOptions& o, const Plan& plan, std::ostream& out,
               const Failure& fail) {
    std::string error;
    const auto high = loadObjects(session, o.compare[0], "--compare HIGH", error);
    if (high.empty()) return fail(error);
    const auto low = loadObjects(session, o.compare[1], "--compare LOW", error);
    if (low.empty()) return fail(error);
    const std::string problem = uvSetProblem(low, o.uvSet);
    if (!problem.empty()) return fail(problem);
    Bounds frame = boundsOf(high);
    frame.grow(boundsOf(low));
    if (!o.frameOn.empty()) {
        const auto others = loadObjects(session, o.frameOn, "--frame-on", error);
        if (others.empty()) return fail(error);
        frame = boundsOf(others);
    }
    std::unique_ptr<ShaderNode> shader = normalMapShader(&session.document(), o.compare[2], o.normalY == "down", error);
    if (!shader) return fail(error);
    Material plain, mapped;
    mapped.shader = shader.get();
    mapped.uvSet = o.uvSet;
    const Camera camera = cameraFor(plan, frame, plan.width, plan.height);
    Image highImage, mappedImage, plainImage;
    host::Document* doc = &session.document();
    if (!renderObjects(high, &plain, camera, o, o.wireframe, doc, "the high object", &highImage, error) ||
        !renderObjects(low, &mapped, camera, o, o.wireframe, doc, "the low object with its map", &mappedImage, error) ||
        !renderObjects(low, &plain, camera, o, o.wireframe, doc, "the plain low object", &plainImage, error))
        return fail(error);
    int64_t pixels = 0;
    const int margin = std::max(2, std::min(plan.width, plan.height) / 40);
    const std::vector<uint8_t> mask = interiorMask({&highImage, &mappedImage, &plainImage}, margin);
    const double withMap = meanDifference(highImage, mappedImage, mask, &pixels);
    const double without = meanDifference(highImage, plainImage, mask, nullptr);

    std::vector<Panel> panels;
    panels.push_back({highImage.toBitmap(), {"HIGH"}});
    panels.push_back({mappedImage.toBitmap(), {"LOW WITH NORMAL MAP"}});
    panels.push_back({plainImage.toBitmap(), {"LOW WITHOUT MAP"}});
    host::Bitmap legend;
    legend.init(plan.width, plan.height, 3, 8);
    for (int y = 0; y < plan.height; ++y)
        for (int x = 0; x < plan.width; ++x) legend.setPixel(x, y, 28, 29, 33);
    panels.push_back({legend, {"MEAN DIFFERENCE TO HIGH", "WITH MAP: " + fixed(withMap, 2),
                               "WITHOUT MAP: " + fixed(without, 2)}});
    panels.push_back({differenceImage(highImage, mappedImage), {"DIFFERENCE X4, WITH MAP"}});
    panels.push_back({differenceImage(highImage, plainImage), {"DIFFERENCE X4, WITHOUT MAP"}});
    if (!save(composeSheet(panels, 3, plan.width, plan.height), o.output, plan.format, error)) return fail(error);

    out << "mean difference to the high render over the " << pixels << " pixels all three cover, " << margin
        << " or more pixels inside every silhouette (0-255 per channel):\n";
    out << "  low with its normal map: " << fixed(withMap, 3) << "\n";
    out << "  low without the map:     " << fixed(without, 3) << "\n";
    if (withMap > 0.0) out << "  the map makes the difference " << fixed(without / withMap, 2) << " times smaller\n";
    out << "wrote the comparison sheet " << o.output << "\n";
    return 0;
}

int runCompareReduction(HostSession& session, const RenderOptions& o, const Plan& plan, std::ostream& out,
                        const Failure& fail) {
    std::string error;
    const auto in = loadObjects(session, o.compareReduction[0], "--compare-reduction IN", error);
    if (in.empty()) return fail(error);
    const auto reduced = loadObjects(session, o.compareReduction[1], "--compare-reduction OUT", error);
    if (reduced.empty()) return fail(error);
    Bounds frame = boundsOf(in);
    if (!o.frameOn.empty()) {
        const auto others = loadObjects(session, o.frameOn, "--frame-on", error);
        if (others.empty()) return fail(error);
        frame = boundsOf(others);
    }
    const Camera camera = cameraFor(plan, frame, plan.width, plan.height);
    Material plain;
    Image inImage, outImage;
    host::Document* doc = &session.document();
    if (!renderObjects(in, &plain, camera, o, true, doc, "the input", &inImage, error) ||
        !renderObjects(reduced, &plain, camera, o, true, doc, "the reduced object", &outImage, error))
        return fail(error);
    const Counts a = countsOf(in), b = countsOf(reduced);
    const auto caption = [](const std::string& what, const Counts& c) {
        return what + ": " + std::to_string(c.points) + " POINTS, " + std::to_string(c.polygons) + " POLYGONS";
    };
    std::vector<Panel> panels = {{inImage.toBitmap(), {caption("INPUT", a)}},
                                 {outImage.toBitmap(), {caption("REDUCED", b)}}};
    if (!save(composeSheet(panels, 2, plan.width, plan.height), o.output, plan.format, error)) return fail(error);
    out << "input:   " << a.points << " points, " << a.polygons << " polygons\n";
    out << "reduced: " << b.points << " points, " << b.polygons << " polygons\n";
    out << "wrote the comparison sheet " << o.output << "\n";
    return 0;
}

}  // namespace

CLI::App* addRenderCommand(CLI::App& cli, RenderOptions& o) {
    CLI::App* render = cli.add_subcommand(
        "render", "Render mesh objects with the ray tracer, optionally with a baked normal map, or make comparison "
                  "sheets of a bake (--compare) or a reduction (--compare-reduction)");
    render->add_option("file", o.input, "Mesh file to render: FILE, or FILE:OBJECT for one object of it");
    render->add_option("-o,--output", o.output, "Image to write (.png, .tif or .tiff)")->required();
    render->add_option("--normal-map", o.normalMap,
                       "Apply this tangent-space normal map through the normal-map shader on the object's material");
    render->add_option("--normal-y", o.normalY,
                       "The map's green channel: up (y up the texture, the OpenGL-style default of most tools and "
                       "glTF) or down (y down, DirectX-style, as some engines want)")
        ->default_val("up");
    render->add_option("--uv-set", o.uvSet, "UVW set the normal map is laid out in (1 = the first; default 1)");
    render->add_option("--size", o.size, "Image size as WIDTHxHEIGHT (default 640x480)");
    render->add_option("--view", o.view, "front, side, top (orthographic) or perspective (default), framed on the "
                                         "objects");
    render->add_option("--camera", o.camera, "Perspective camera: the eye EX,EY,EZ and the target TX,TY,TZ")
        ->expected(2);
    render->add_option("--frame-on", o.frameOn,
                       "Frame the view on this file's objects (FILE or FILE:OBJECT), so that renders of several files "
                       "line up pixel for pixel");
    render->add_flag("--wireframe", o.wireframe, "Draw the polygon edges over the shading");
    render->add_option("--samples", o.samples, "Rays per pixel for anti-aliasing (1 to 64, default 4)");
    render->add_option("--threads", o.threads, "Render threads (default: one per core); the image does not depend "
                                               "on it");
    render->add_flag("-q,--quiet", o.quiet, "No progress line");
    render->add_option("--compare", o.compare,
                       "HIGH LOW MAP: a sheet of the high object, the low object with its normal map and without, "
                       "and their differences to the high render")
        ->expected(3);
    render->add_option("--compare-reduction", o.compareReduction,
                       "IN OUT: a sheet of an object and its reduction side by side with wireframes and counts")
        ->expected(2);
    return render;
}

int runRender(const std::string& moduleDir, const RenderOptions& o, std::ostream& out, std::ostream& err) {
    const Failure fail(err);
    Plan plan;
    const std::string problem = checkOptions(o, plan);
    if (!problem.empty()) return fail(problem);
    std::error_code ec;
    const fs::path folder = fs::path(o.output).parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec)) return fail("the folder of " + o.output + " does not exist");
    // The image must not replace one of the files it is made from (one file under two names too).
    std::vector<std::string> inputs;
    if (!o.input.empty()) inputs.push_back(splitObjectArgument(o.input).first);
    for (const std::string& f : {o.normalMap, o.frameOn})
        if (!f.empty()) inputs.push_back(splitObjectArgument(f).first);
    for (const std::string& f : o.compare) inputs.push_back(splitObjectArgument(f).first);
    for (const std::string& f : o.compareReduction) inputs.push_back(splitObjectArgument(f).first);
    for (const std::string& f : inputs)
        if (host::sameFile(o.output, f))
            return fail("-o " + o.output + " is the input file " + f + "; write the image to another file");

    std::string error;
    std::unique_ptr<HostSession> session = HostSession::start(moduleDir, &error);
    if (!session) return fail(error);
    if (!o.compare.empty()) return runCompare(*session, o, plan, out, fail);
    if (!o.compareReduction.empty()) return runCompareReduction(*session, o, plan, out, fail);
    return runSingle(*session, o, plan, out, fail);
}

}  // namespace app
