#include "BrushCommandLine.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "HostSession.h"
#include "host/Bitmap.h"
#include "host/HostTable.h"
#include "host/formats/MeshFile.h"
#include "OptionText.h"
#include "Weld.h"
#include "host/SafeOutput.h"
#include "host/StatusBar.h"
#include "host/viewport/Viewport.h"
#include "sources/HostContract.h"
#include "sources/ResourceIds.h"

namespace fs = std::filesystem;

namespace app {
namespace {

struct Weighting {
    const char* name;
    int32_t entry;
};
constexpr Weighting kWeightings[] = {{"area", TESSIK_WEIGHT_AREA},
                                     {"average", TESSIK_WEIGHT_AVERAGE},
                                     {"angle", TESSIK_WEIGHT_ANGLE},
                                     {"area-average", TESSIK_WEIGHT_AREA_AVERAGE}};
// The panel's least neighbour count.
constexpr long long kLeastNeighbours = 3;
// Views from 16 to 8192 pixels a side.
constexpr int kSmallestView = 16, kLargestView = 8192;

std::string describe(const host::PolygonObject& obj) {
    int triangles = 0, quads = 0;
    for (const host::Polygon& p : obj.polygons) (p.c == p.d ? triangles : quads)++;
    return std::to_string(obj.pointCount()) + " points, " + std::to_string(obj.polygonCount()) + " polygons (" +
           std::to_string(quads) + " quads, " + std::to_string(triangles) + " triangles)";
}

void collectTree(host::Object* o, std::vector<host::Object*>& out) {
    out.push_back(o);
    for (const auto& c : o->children()) collectTree(c.get(), out);
}

// Everything the options ask for, checked.
struct Plan {
    int32_t projection = HOST_PROJECTION_PERSPECTIVE;
    int width = 800, height = 600;
    std::vector<std::vector<StrokePoint>> strokes;
    int32_t weightingEntry = 0;  // 0: leave the panel's
    std::optional<double> maxError, boundaryWeight;
    std::optional<long long> maxNeighbours;
    int undo = 0;
    double step = 2.0;
};

std::string checkOptions(const BrushOptions& o, Plan& plan) {
    plan.projection = host::projectionFromName(o.view.c_str());
    if (plan.projection < 0)
        return "--view " + o.view + " is not one of perspective, parallel, front, back, left, right, top, bottom";
    const size_t x = o.size.find_first_of("xX");
    const std::optional<long long> w = x == std::string::npos ? std::nullopt : parseWhole(o.size.substr(0, x));
    const std::optional<long long> h = x == std::string::npos ? std::nullopt : parseWhole(o.size.substr(x + 1));
    if (!w || !h) return "--size " + o.size + " is not WIDTHxHEIGHT in pixels (for example 800x600)";
    if (*w < kSmallestView || *h < kSmallestView || *w > kLargestView || *h > kLargestView)
        return "--size " + o.size + ": each side must be from " + std::to_string(kSmallestView) + " to " +
               std::to_string(kLargestView) + " pixels";
    plan.width = static_cast<int>(*w);
    plan.height = static_cast<int>(*h);

    if (o.strokes.empty()) return "give at least one --stroke \"x,y x,y ...\"";
    for (const std::string& text : o.strokes) {
        std::vector<StrokePoint> points;
        if (std::string problem = parseStroke(text, points); !problem.empty()) return problem;
        plan.strokes.push_back(std::move(points));
    }

    if (!o.weighting.empty()) {
        for (const Weighting& wt : kWeightings)
            if (o.weighting == wt.name) plan.weightingEntry = wt.entry;
        if (plan.weightingEntry == 0)
            return "--weighting " + o.weighting + " is not one of area, average, angle, area-average";
    }
    const std::pair<const char*, const std::string*> reals[] = {{"--max-error", &o.maxError},
                                                                {"--boundary-weight", &o.boundaryWeight}};
    std::optional<double>* slots[] = {&plan.maxError, &plan.boundaryWeight};
    for (int i = 0; i < 2; ++i) {
        const std::string& text = *reals[i].second;
        if (text.empty()) continue;
        const std::optional<double> v = parseReal(text);
        if (!v) return std::string(reals[i].first) + " " + text + " is not a number";
        if (*v < 0) return std::string(reals[i].first) + " " + text + " cannot be negative";
        *slots[i] = v;
    }
    if (!o.maxNeighbours.empty()) {
        const std::optional<long long> n = parseWhole(o.maxNeighbours);
        if (!n) return "--max-neighbours " + o.maxNeighbours + " is not a whole number";
        if (*n < kLeastNeighbours || *n > 2147483647LL)
            return "--max-neighbours " + o.maxNeighbours + " is outside 3 to 2147483647";
        plan.maxNeighbours = n;
    }
    if (!o.undo.empty()) {
        const std::optional<long long> k = parseWhole(o.undo);
        if (!k || *k < 0) return "--undo " + o.undo + " is not a whole number of drags";
        if (*k > static_cast<long long>(plan.strokes.size()))
            return "--undo " + o.undo + " is more than the " + std::to_string(plan.strokes.size()) + " strokes given";
        plan.undo = static_cast<int>(*k);
    }
    const std::optional<double> step = parseReal(o.step);
    if (!step || !(*step > 0)) return "--step " + o.step + " is not a distance in pixels above 0";
    plan.step = *step;
    // Each position is one pick and one collapse: a tiny step over a long stroke is refused before
    // any work, not left to exhaust the memory or the person's patience.
    for (size_t s = 0; s < plan.strokes.size(); ++s) {
        const double count = strokePositionCount(plan.strokes[s], plan.step);
        if (!(count <= kMostStrokePositions)) {
            char shown[64];
            std::snprintf(shown, sizeof shown, count < 1e15 ? "%.0f" : "%.3g", count);
            return "--step " + o.step + ": stroke " + std::to_string(s + 1) + " would give " +
                   (std::isfinite(count) ? std::string(shown) : std::string("endless")) +
                   " positions; a stroke gives at most 2000000 (raise --step or shorten the stroke)";
        }
    }
    if (std::string problem = checkOutput("-o", o.output, o.input); !problem.empty()) return problem;
    if (!host::formats::canWriteMeshFormat(host::formats::meshFormatForOutput(o.output)))
        return "-o " + o.output + ": cannot write this kind of file; write " + host::formats::writableMeshSuffixes();
    if (!o.snapshot.empty()) {
        if (host::imageFormatForPath(o.snapshot) == 0)
            return "--snapshot " + o.snapshot + " needs an image suffix (.png, .tif, .tga or .bmp)";
        if (std::string problem = checkOutput("--snapshot", o.snapshot, o.input); !problem.empty()) return problem;
        if (host::sameFile(o.snapshot, o.output))
            return "-o and --snapshot both write " + o.snapshot;
    }
    return {};
}

bool inside(const StrokePoint& p, int width, int height) {
    return p.x >= 0 && p.y >= 0 && p.x <= width && p.y <= height;
}

}  // namespace

std::string parseStroke(const std::string& text, std::vector<StrokePoint>& out) {
    out.clear();
    size_t at = 0;
    while (at < text.size()) {
        const size_t start = text.find_first_not_of(" \t", at);
        if (start == std::string::npos) break;
        const size_t end = std::min(text.find_first_of(" \t", start), text.size());
        const std::string pair = text.substr(start, end - start);
        at = end;
        const size_t comma = pair.find(',');
        const std::optional<double> x = comma == std::string::npos ? std::nullopt : parseReal(pair.substr(0, comma));
        const std::optional<double> y = comma == std::string::npos ? std::nullopt : parseReal(pair.substr(comma + 1));
        if (!x || !y)
            return "--stroke \"" + text + "\": \"" + pair + "\" (position " + std::to_string(out.size() + 1) +
                   ") is not a pair x,y of numbers";
        out.push_back(StrokePoint{*x, *y});
    }
    if (out.empty()) return "--stroke \"" + text + "\" has no position x,y";
    return {};
}

namespace {

// Segments of a stroke: how many parts of at most `step` pixels (a real: it may not fit any integer).
double segmentParts(const StrokePoint& from, const StrokePoint& to, double step) {
    const double parts = std::ceil(std::hypot(to.x - from.x, to.y - from.y) / step);
    return std::isnan(parts) ? INFINITY : std::max(1.0, parts);
}

}  // namespace

double strokePositionCount(const std::vector<StrokePoint>& stroke, double step) {
    if (stroke.empty()) return 0;
    double count = 1;
    for (size_t i = 1; i < stroke.size(); ++i) count += segmentParts(stroke[i - 1], stroke[i], step);
    return count;
}

std::vector<StrokePoint> strokePath(const std::vector<StrokePoint>& stroke, double step) {
    std::vector<StrokePoint> path;
    if (stroke.empty() || !(strokePositionCount(stroke, step) <= kMostStrokePositions)) return path;
    path.push_back(stroke.front());
    for (size_t i = 1; i < stroke.size(); ++i) {
        const StrokePoint& from = stroke[i - 1];
        const StrokePoint& to = stroke[i];
        const long long parts = static_cast<long long>(segmentParts(from, to, step));
        for (long long k = 1; k < parts; ++k) {
            const double t = static_cast<double>(k) / parts;
            path.push_back({from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t});
        }
        path.push_back(to);
    }
    return path;
}

CLI::App* addBrushCommand(CLI::App& cli, BrushOptions& o) {
    CLI::App* cmd = cli.add_subcommand(
        "brush", "Drag the reduction brush over a view of a mesh file's first polygon object: the polygon under "
                 "the cursor is collapsed into one point at each step");
    cmd->add_option("input", o.input, "Mesh file (.obj, .glb, .gltf, .fbx, .ply, .stl, .dae, .3ds)")->required();
    cmd->add_option("-o,--output", o.output, "File to write the brushed objects to (.obj, .glb, .gltf, .ply, .stl)")
        ->required();
    cmd->add_option("--stroke", o.strokes,
                    "One drag: screen positions \"x,y x,y ...\" in view pixels from the top left; the button goes "
                    "down at the first and up after the last. Give several for several drags (each one undo step)")
        ->required();
    cmd->add_option("--view", o.view, "perspective, parallel, front, back, left, right, top or bottom (default "
                                      "perspective); the view frames the file's objects");
    cmd->add_option("--size", o.size, "View size WIDTHxHEIGHT in pixels (default 800x600)");
    cmd->add_option("--max-error", o.maxError,
                    "Largest error of one collapse (default 100): the quadric error of the new point (summed "
                    "squared distances to the surrounding polygons' planes, weighted as --weighting says, plus the "
                    "border terms) measured, like the reduction's error limits, with the object scaled to a "
                    "bounding-box diagonal of 2000, so the same value does the same on an object in millimetres or "
                    "in metres. 100 collapses only where the surface is nearly flat; 100000 also coarsens the "
                    "curved parts of the bundled sample; 0 allows flat collapses only");
    cmd->add_option("--max-neighbours", o.maxNeighbours,
                    "Refuse a collapse that would re-point more than this many surrounding polygons (from 3, "
                    "default 10)");
    cmd->add_flag("--no-fold-check", o.noFoldCheck,
                  "Allow collapses that turn over, flatten or bend a surrounding polygon out of shape");
    cmd->add_option("--boundary-weight", o.boundaryWeight,
                    "How strongly open borders and borders between groups hold their place (default 1000)");
    cmd->add_option("--weighting", o.weighting, "How polygon planes are weighted: area, average, angle or area-average");
    cmd->add_option("--snapshot", o.snapshot,
                    "Save the view after the strokes (png, tif, tga or bmp), with the last polygon the brush "
                    "highlighted and did not collapse");
    cmd->add_flag("--weld", o.weld,
                  "Merge the brushed object's points at exactly the same place first (for files whose polygons "
                  "share no point)");
    cmd->add_flag("--show-panel", o.showPanel, "Print the brush's settings panel as set, before the strokes");
    cmd->add_option("--undo", o.undo, "Take the last K drags back before writing");
    cmd->add_option("--step", o.step,
                    "Distance in pixels between the positions the mouse reports along a stroke (default 2): the "
                    "brush picks and collapses once at each");
    return cmd;
}

int runBrush(const std::string& moduleDir, const BrushOptions& o, std::ostream& out, std::ostream& err) {
    auto fail = [&err](const std::string& message) {
        err << "vexlor brush: " << message << "\n";
        return 1;
    };
    Plan plan;
    if (std::string problem = checkOptions(o, plan); !problem.empty()) return fail(problem);

    std::string error;
    std::unique_ptr<HostSession> session = HostSession::start(moduleDir, &error);
    if (!session) return fail(error);
    std::vector<host::Object*> loaded;
    if (!session->loadFile(o.input, &loaded, &error)) return fail(error);
    std::vector<host::Object*> all;
    for (host::Object* obj : loaded) collectTree(obj, all);
    std::vector<const host::Object*> polygonObjects;
    host::PolygonObject* target = nullptr;
    for (host::Object* obj : all) {
        if (!obj->isPolygonObject()) continue;
        polygonObjects.push_back(obj);
        if (!target) target = static_cast<host::PolygonObject*>(obj);
    }
    if (!target) return fail(o.input + " holds no polygon object");
    // The brush collapses a polygon into one point and re-points its neighbours: on a soup a polygon
    // has no neighbours and would only vanish.
    if (o.weld) weldCoincidentPoints(session->document(), {target}, "brush", err);
    if (isPolygonSoup(*target)) return fail(polygonSoupMessage(*target, o.input, o.weld));

    const host::RegisteredPlugin* plugin = host::PluginRegistry::main().find(TESSIK_ID);
    if (!plugin || !plugin->object) return fail("the module did not register the brush tool");

    host::Document& doc = session->document();
    session->select({target});
    // The brush works in an editing mode, as a person switches to one before picking it.
    doc.setEditingMode(host::MODE_POLYGONS);

    host::Viewport view(doc, plan.width, plan.height);
    view.frameDocument(plan.projection);
    if (!view.setTool(static_cast<HostToolBase*>(plugin->object)) || !view.toolPanel())
        return fail("the brush's settings panel did not open");
    host::DialogHost& dialogs = session->dialogs();
    HostDialogBase* panel = view.toolPanel();
    bool ok = true;
    if (plan.weightingEntry != 0) ok = ok && dialogs.choose(panel, IDC_TESSIK_WEIGHTING, plan.weightingEntry);
    if (plan.maxNeighbours) ok = ok && dialogs.setByUser(panel, IDC_TESSIK_MAX_NEIGHBOURS, *plan.maxNeighbours);
    if (o.noFoldCheck) ok = ok && dialogs.setByUser(panel, IDC_TESSIK_CHECK_FOLDS, false);
    if (plan.boundaryWeight) ok = ok && dialogs.setByUser(panel, IDC_TESSIK_BOUNDARY_WEIGHT, *plan.boundaryWeight);
    if (plan.maxError) ok = ok && dialogs.setByUser(panel, IDC_TESSIK_MAX_ERROR, *plan.maxError);
    if (!ok) return fail("the brush's settings panel did not take the settings");
    if (o.showPanel) out << dialogs.render(panel) << std::flush;
    if (!view.toolEnabled()) return fail("the brush is not enabled for \"" + target->name() + "\"");

    // The brush shows each step's error on the status bar, for a person watching the view; on the
    // command line the summary below says what the strokes did.
    host::StatusBar::main().setQuiet(true);
    const std::string before = describe(*target);
    out << "brushing \"" << target->name() << "\" in a " << o.view << " view of " << plan.width << "x" << plan.height
        << "\n";
    for (size_t s = 0; s < plan.strokes.size(); ++s) {
        const std::vector<StrokePoint>& stroke = plan.strokes[s];
        for (const StrokePoint& p : stroke)
            if (!inside(p, plan.width, plan.height)) {
                err << "vexlor brush: stroke " << (s + 1) << " leaves the view at " << p.x << "," << p.y
                    << "; nothing is picked there\n";
                break;
            }
        const std::vector<StrokePoint> path = strokePath(stroke, plan.step);
        std::vector<host::ViewEvent> events;
        for (size_t i = 1; i < path.size(); ++i) events.push_back({host::ViewEvent::Kind::Move, path[i].x, path[i].y});
        events.push_back({host::ViewEvent::Kind::Release, 0, 0});
        host::ScriptedInput input(events);
        const int depth = doc.undoDepth();
        const int polygonsBefore = target->polygonCount();
        if (!view.press(stroke.front().x, stroke.front().y, 1, input)) return fail("the brush did not take the press");
        host::StatusBar::main().clear();
        if (doc.undoDepth() > depth)
            out << "stroke " << (s + 1) << ": " << polygonsBefore << " -> " << target->polygonCount() << " polygons\n";
        else
            out << "stroke " << (s + 1) << ": nothing collapsed\n";
    }
    // Each drag that changed the object left one undo step; those that did not were taken back.
    int undone = 0;
    for (; undone < plan.undo && doc.undoDepth() > 0; ++undone) doc.undoLast();
    if (plan.undo > 0) out << "took back " << undone << " of " << plan.undo << " drags\n";

    if (!o.snapshot.empty()) {
        const host::Bitmap& image = view.render();
        if (!image.save(o.snapshot, 0, &error)) return fail("--snapshot " + o.snapshot + ": " + error);
    }
    if (!host::formats::writeMeshFile(o.output, polygonObjects, &error)) return fail(error);
    out << "brushed " << o.input << " -> " << o.output << "\n";
    out << "  \"" << target->name() << "\": " << before << " -> " << describe(*target) << "\n";
    return 0;
}

}  // namespace app
