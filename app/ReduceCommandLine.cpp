#include "ReduceCommandLine.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <vector>

#include "HostSession.h"
#include "BakedAsset.h"
#include "LevelMaps.h"
#include "sources/HostContract.h"
#include "sources/ResourceIds.h"
#include "host/Dialogs.h"
#include "host/EventQueue.h"
#include "host/formats/BakedMapImages.h"
#include "host/formats/MeshFile.h"
#include "host/ModelingCommands.h"
#include "host/ObjFile.h"
#include "OptionText.h"
#include "Weld.h"
#include "host/SafeOutput.h"
#include "host/StatusBar.h"
#include "host/Threads.h"

namespace fs = std::filesystem;

namespace app {
namespace {

constexpr int kInterruptedExit = 130;

struct Weighting {
    const char* name;
    int32_t radio;
};
constexpr Weighting kWeightings[] = {
    {"area", IDC_VEXLOR_WEIGHT_AREA},
    {"average", IDC_VEXLOR_WEIGHT_AVERAGE},
    {"angle", IDC_VEXLOR_WEIGHT_ANGLE},
    {"area-average", IDC_VEXLOR_WEIGHT_AREA_AVERAGE}};

class Failure {
public:
    Failure(std::ostream& err, const char* command) : err_(err), command_(command) {}
    int operator()(const std::string& message) const {
        err_ << "vexlor " << command_ << ": " << message << "\n";
        return 1;
    }

private:
    std::ostream& err_;
    const char* command_;
};

// One target of a reduction: a point count, a share of each object's points, or an error limit.
struct Target {
    enum class Kind { Count, Ratio, Error };
    Kind kind = Kind::Count;
    long long count = 0;
    double ratio = 0;  // a fraction: 0.5 keeps half
    double error = 0;
    std::string text;  // as given, for messages
};

std::string checkCount(const std::string& option, const std::string& text, Target& t) {
    const std::optional<long long> n = parseWhole(text);
    if (!n) return option + " " + text + " is not a whole number of points";
    if (*n < 1) return option + " " + text + ": the target must keep at least 1 point";
    if (*n < 3) return option + " " + text + ": a polygon needs at least 3 points; the smallest target is 3";
    t = Target{Target::Kind::Count, *n, 0, 0, text};
    return {};
}

std::string checkRatio(const std::string& option, const std::string& text, Target& t) {
    const std::optional<double> r = parseReal(text);
    if (!r) return option + " " + text + " is not a number (a percentage of each object's points)";
    if (*r <= 0) return option + " " + text + ": the target must keep more than 0 % of the points";
    if (*r > 100) return option + " " + text + " is above 100 % of the points";
    t = Target{Target::Kind::Ratio, 0, *r / 100.0, 0, text};
    return {};
}

std::string checkError(const std::string& option, const std::string& text, Target& t) {
    const std::optional<double> e = parseReal(text);
    if (!e) return option + " " + text + " is not a number";
    if (*e < 0) return option + " " + text + ": the error limit cannot be negative";
    t = Target{Target::Kind::Error, 0, 0, *e, text};
    return {};
}

// A level of `lod`: "N%" a share, "eX" an error limit, "N" a point count.
std::string checkLevel(const std::string& level, Target& t) {
    const std::string s = trimmed(level);
    if (s.empty()) return "--levels has an empty level";
    if (s.back() == '%') return checkRatio("level", s.substr(0, s.size() - 1), t);
    if (s.front() == 'e' || s.front() == 'E') return checkError("level", s.substr(1), t);
    return checkCount("level", s, t);
}

// How a pass ended: stopped by Ctrl-C, and the outcome its end event carried.
struct PassEnd {
    bool stopped = false;
    int32_t outcome = REDUCTION_END_FAILED;
};

// Every checked setting the dialog gets.
struct Plan {
    int32_t weightingRadio = 0;  // 0: leave it
    std::optional<double> boundaryWeight, compactness, flip;
    std::optional<long long> valence;
    int threads = 0;  // 0: the host's default
};

constexpr long long kMaxThreads = 256;

std::string checkChoices(const ReductionChoices& c, Plan& plan) {
    if (!c.weighting.empty()) {
        for (const Weighting& w : kWeightings)
            if (c.weighting == w.name) plan.weightingRadio = w.radio;
        if (plan.weightingRadio == 0)
            return "--weighting " + c.weighting + " is not one of area, average, angle, area-average";
    }
    const std::pair<const char*, const std::string*> reals[] = {
        {"--boundary-weight", &c.boundaryWeight}, {"--compactness", &c.compactness}, {"--flip", &c.flip}};
    std::optional<double>* slots[] = {&plan.boundaryWeight, &plan.compactness, &plan.flip};
    for (int i = 0; i < 3; ++i) {
        const std::string& text = *reals[i].second;
        if (text.empty()) continue;
        const std::optional<double> v = parseReal(text);
        if (!v) return std::string(reals[i].first) + " " + text + " is not a number";
        if (*v < 0) return std::string(reals[i].first) + " " + text + " cannot be negative";
        *slots[i] = v;
    }
    if (!c.valence.empty()) {
        const std::optional<long long> v = parseWhole(c.valence);
        if (!v) return "--valence " + c.valence + " is not a whole number";
        if (*v < 0 || *v > 2147483647LL) return "--valence " + c.valence + " is outside 0 to 2147483647";
        plan.valence = v;
    }
    if (!c.threads.empty()) {
        const std::optional<long long> v = parseWhole(c.threads);
        if (!v) return "--threads " + c.threads + " is not a whole number";
        if (*v < 1 || *v > kMaxThreads)
            return "--threads " + c.threads + " is outside 1 to " + std::to_string(kMaxThreads);
        plan.threads = static_cast<int>(*v);
    }
    if (c.noChecks && (plan.compactness || plan.flip || plan.valence))
        return "--compactness, --flip and --valence are penalties of the quality checks, which --no-checks turns off";
    if (c.groupGiven && trimmed(c.group).empty()) return "--group needs the name of a group (OBJ g)";
    if (!c.group.empty() && c.hierarchy)
        return "--group reduces part of an object, --hierarchy whole objects: give one of them";
    return {};
}

// A path whose suffix names a mesh format we write (checkOutput says whether it can be written).
std::string checkMeshOutput(const std::string& option, const std::string& path) {
    if (!host::formats::canWriteMeshFormat(host::formats::meshFormatForOutput(path)))
        return option + " " + path + ": cannot write this kind of file; write " +
               host::formats::writableMeshSuffixes();
    return {};
}

void collectTree(host::Object* o, std::vector<host::Object*>& out) {
    out.push_back(o);
    for (const auto& c : o->children()) collectTree(c.get(), out);
}

// Points used by a live polygon of the object.
int usedPoints(const host::PolygonObject& obj) {
    std::vector<uint8_t> used(obj.points.size(), 0);
    int n = 0;
    for (const host::Polygon& p : obj.polygons) {
        if (p.a == p.b) continue;
        for (int c : {p.a, p.b, p.c, p.d})
            if (c >= 0 && c < obj.pointCount() && !used[c]) {
                used[c] = 1;
                ++n;
            }
    }
    return n;
}

std::string describe(const host::PolygonObject& obj) {
    int triangles = 0, quads = 0;
    for (const host::Polygon& p : obj.polygons) (p.c == p.d ? triangles : quads)++;
    return std::to_string(obj.pointCount()) + " points, " + std::to_string(obj.polygonCount()) + " polygons (" +
           std::to_string(quads) + " quads, " + std::to_string(triangles) + " triangles)";
}

// A session with the file loaded, its objects selected and the reduction dialog open and set up.
class DialogRun {
public:
    DialogRun(std::ostream& err, const char* command) : err_(err), command_(command) {}

    // Everything up to the target; an error message, or "" when the dialog is ready.
    std::string open(const std::string& moduleDir, const std::string& input, const ReductionChoices& c,
                     const Plan& plan) {
        std::string error;
        session_ = HostSession::start(moduleDir, &error);
        if (!session_) return error;
        // The module asks the host how many worker threads to run: the host's setting, as asked here.
        host::setWorkerThreadCount(plan.threads);
        std::vector<host::Object*> loaded;
        if (!session_->loadFile(input, &loaded, &error)) return error;
        std::vector<host::Object*> all;
        for (host::Object* o : loaded) collectTree(o, all);
        for (host::Object* o : all)
            if (o->isPolygonObject()) objects_.push_back(static_cast<host::PolygonObject*>(o));
        if (objects_.empty()) return input + " holds no polygon object";
        for (host::PolygonObject* o : objects_) {
            before_.push_back(describe(*o));
            beforeCounts_.emplace_back(o->pointCount(), o->polygonCount());
        }
        if (c.weld) weldCoincidentPoints(session_->document(), objects_, command_, err_);
        for (host::PolygonObject* o : objects_)
            if (isPolygonSoup(*o)) return polygonSoupMessage(*o, input, c.weld);

        host::Document& doc = session_->document();
        std::vector<host::Object*> selected;
        if (!c.group.empty()) {
            if (std::string problem = selectGroup(c.group, input, selected); !problem.empty()) return problem;
            doc.setEditingMode(host::MODE_POLYGONS);
        } else {
            doc.setEditingMode(host::MODE_OBJECT);
            if (c.hierarchy)
                selected = loaded;
            else
                selected.assign(objects_.begin(), objects_.end());
        }
        session_->select(selected);

        dialog_ = session_->openCommand(VEXLOR_ID, &error);
        if (!dialog_) return error;
        host::DialogHost& d = dialogs();
        bool ok = true;
        // Each change collects the objects again: only what differs from the dialog is set.
        if (c.hierarchy) ok = ok && d.setByUser(dialog_, IDC_VEXLOR_HIERARCHY, true);
        if (plan.weightingRadio != 0 && number(IDC_VEXLOR_WEIGHTING) != plan.weightingRadio)
            ok = ok && d.choose(dialog_, IDC_VEXLOR_WEIGHTING, plan.weightingRadio);
        if (c.noChecks) ok = ok && d.setByUser(dialog_, IDC_VEXLOR_CHECKS, false);
        if (plan.boundaryWeight) ok = ok && d.setByUser(dialog_, IDC_VEXLOR_BOUNDARY_WEIGHT, *plan.boundaryWeight);
        if (plan.compactness) ok = ok && d.setByUser(dialog_, IDC_VEXLOR_COMPACTNESS, *plan.compactness);
        if (plan.flip) ok = ok && d.setByUser(dialog_, IDC_VEXLOR_FLIP, *plan.flip);
        if (plan.valence) ok = ok && d.setByUser(dialog_, IDC_VEXLOR_VALENCE, static_cast<double>(*plan.valence));
        if (!ok) return "the reduction dialog did not take the settings";
        return {};
    }

    // Checks a target against the dialog's target field and the objects; "" when it can be set.
    std::string checkTarget(const Target& t) const {
        const host::Gadget* field = dialogs().gadget(dialog_, IDC_VEXLOR_TARGET);
        if (!field) return "the reduction dialog has no target field";
        const bool shares = field->isPercent();
        const long long reducible = static_cast<long long>(field->max);
        switch (t.kind) {
            case Target::Kind::Count:
                if (shares)
                    return "a point count (" + t.text +
                           ") needs a single object, but several are reduced together: give the target as a "
                           "percentage (--ratio, or N% as a level)";
                if (t.count > reducible)
                    return "the target " + t.text + " is above the " + std::to_string(reducible) +
                           " reducible points of \"" + objects_.front()->name() + "\"";
                break;
            case Target::Kind::Ratio:
                for (const host::PolygonObject* o : objects_) {
                    const int used = usedPoints(*o);
                    if (used > 0 && static_cast<float>(used) * static_cast<float>(t.ratio) < 3.0f) {
                        // 3 points as a share, rounded up to three digits so that it is enough.
                        const double share = 300.0 / used;
                        const double scale = std::pow(10.0, 2 - std::floor(std::log10(share)));
                        char smallest[32];
                        std::snprintf(smallest, sizeof smallest, "%g", std::ceil(share * scale) / scale);
                        return t.text + " % of the " + std::to_string(used) + " points of \"" + o->name() +
                               "\" keeps fewer than the 3 points of a polygon; the smallest share is " + smallest +
                               " %";
                    }
                }
                break;
            case Target::Kind::Error: break;
        }
        return {};
    }

    // Moves the dialog's target as a person would: the count or the share into the target field, the
    // limit into the error field.
    bool setTarget(const Target& t) {
        host::DialogHost& d = dialogs();
        const host::Gadget* field = d.gadget(dialog_, IDC_VEXLOR_TARGET);
        if (!field) return false;
        switch (t.kind) {
            case Target::Kind::Count: return d.setByUser(dialog_, IDC_VEXLOR_TARGET, static_cast<double>(t.count));
            case Target::Kind::Ratio:
                if (field->isPercent()) return d.setByUser(dialog_, IDC_VEXLOR_TARGET, t.ratio);
                // One object: the field takes its share as a count.
                return d.setByUser(dialog_, IDC_VEXLOR_TARGET,
                                   static_cast<double>(static_cast<long long>(static_cast<float>(field->max) *
                                                                              static_cast<float>(t.ratio))));
            case Target::Kind::Error: return d.setByUser(dialog_, IDC_VEXLOR_ERROR, t.error);
        }
        return false;
    }

    // Presses a button that starts a pass and waits for the pass's end event. False when the pass did
    // not start; `end` then tells whether Ctrl-C stopped it and how the pass ended.
    bool runPass(int32_t button, PassEnd& end, const std::string& announcement) {
        host::DialogHost& d = dialogs();
        bool ended = false;
        end = PassEnd();
        // The end event carries the pass's outcome (REDUCTION_END_...).
        d.setEventObserver([&ended, &end](const host::Event& e) {
            if (e.kind != host::Event::Kind::Special || e.id != VEXLOR_ID) return;
            ended = true;
            end.outcome = e.value1;
        });
        std::string caption;
        const bool pressed = d.press(dialog_, button) && d.getString(dialog_, IDC_VEXLOR_START, caption) && d.resources() &&
                             caption == d.resources()->string(STR_VEXLOR_STOP);
        if (!pressed) {
            d.setEventObserver({});
            return false;
        }
        err_ << "vexlor " << command_ << ": " << announcement << " (Ctrl-C stops)" << std::endl;
        end.stopped = !session_->waitFor([&ended] { return ended; }, [&] { d.press(dialog_, IDC_VEXLOR_START); });
        d.setEventObserver({});
        host::StatusBar::main().clear();
        return true;
    }

    bool press(int32_t button) { return dialogs().press(dialog_, button); }
    std::string render() const { return dialogs().render(dialog_); }
    // Closes the dialog as a person would (a preview is put back).
    void close() {
        if (dialog_ && dialogs().isOpen(dialog_)) dialogs().close(dialog_);
        dialog_ = nullptr;
    }

    bool writeObjects(const std::string& path, std::string* error) const {
        std::vector<const host::Object*> out(objects_.begin(), objects_.end());
        return host::formats::writeMeshFile(path, out, error);
    }
    // Copies of every top-level object of the document as it is now, with everything below them.
    std::vector<std::unique_ptr<host::Object>> snapshot() const {
        std::vector<std::unique_ptr<host::Object>> out;
        for (const auto& r : session_->document().roots()) out.push_back(r->cloneTree());
        return out;
    }
    int polygonCount() const {
        int n = 0;
        for (const host::PolygonObject* o : objects_)
            for (const host::Polygon& p : o->polygons) n += p.a != p.b;
        return n;
    }
    // Writes the objects into an output that is put in place later.
    bool writeObjects(host::SafeOutput& file, std::string* error) const {
        std::vector<const host::Object*> out(objects_.begin(), objects_.end());
        return host::formats::writeMeshFile(file, out, error);
    }
    void printSummary(std::ostream& out) const {
        for (size_t i = 0; i < objects_.size(); ++i) {
            out << "  \"" << objects_[i]->name() << "\": ";
            out << (unchanged(i) ? "no point removed, " : "") << before_[i] << " -> " << describe(*objects_[i])
                << "\n";
        }
    }
    // The object kept every point it was loaded with (its polygons may still have been rebuilt).
    bool unchanged(size_t i) const { return beforeCounts_[i].first == objects_[i]->pointCount(); }
    bool allUnchanged() const {
        for (size_t i = 0; i < objects_.size(); ++i)
            if (!unchanged(i)) return false;
        return true;
    }
    const std::vector<host::PolygonObject*>& objects() const { return objects_; }
    // A message when the target left an object that had polygons with none; "" otherwise.
    std::string emptied(const Target& t) const {
        for (const host::PolygonObject* o : objects_)
            if (o->polygons.empty())
                return "the target " + t.text + " leaves no polygon of \"" + o->name() +
                       "\"; give a larger target (nothing was written)";
        return {};
    }

private:
    host::DialogHost& dialogs() const { return session_->dialogs(); }

    int32_t number(int32_t gadget) const {
        const host::Gadget* g = dialogs().gadget(dialog_, gadget);
        return g ? static_cast<int32_t>(g->number) : 0;
    }

    std::string selectGroup(const std::string& name, const std::string& input, std::vector<host::Object*>& selected) {
        std::set<std::string> groups;
        for (host::PolygonObject* o : objects_) {
            host::Tag* found = nullptr;
            for (const auto& t : o->tags()) {
                if (t->type() != host::TAG_POLYGON_SELECTION) continue;
                groups.insert("\"" + t->name() + "\"");
                if (t->name() == name && !found) found = t.get();
            }
            if (!found) continue;
            const host::SelectionSet& members = static_cast<host::SelectionTag*>(found)->set;
            if (members.count() < 3)
                return "the group \"" + name + "\" of \"" + o->name() + "\" has " + std::to_string(members.count()) +
                       " polygons; a group is reduced from 3 polygons on";
            o->polygonSelection.resize(o->polygonCount());
            o->polygonSelection.deselectAll();
            for (int i = 0; i < o->polygonCount(); ++i)
                if (members.isSelected(i)) o->polygonSelection.select(i);
            selected.push_back(o);
        }
        if (selected.empty()) {
            std::string list;
            for (const std::string& g : groups) list += (list.empty() ? "" : ", ") + g;
            return input + " has no group \"" + name + "\"" +
                   (list.empty() ? std::string(" (it has no groups)") : " (its groups: " + list + ")");
        }
        return {};
    }

    std::ostream& err_;
    const char* command_;
    std::unique_ptr<HostSession> session_;
    HostDialogBase* dialog_ = nullptr;
    std::vector<host::PolygonObject*> objects_;
    std::vector<std::string> before_;
    std::vector<std::pair<int, int>> beforeCounts_;  // points, polygons as loaded
};

void addChoiceOptions(CLI::App* cmd, ReductionChoices& c) {
    cmd->add_option("--weighting", c.weighting, "How polygon planes are weighted: area, average, angle or area-average");
    cmd->add_flag("--no-checks", c.noChecks, "Turn off the quality checks (compactness, flip and valence penalties)");
    cmd->add_option("--boundary-weight", c.boundaryWeight, "Weight of open borders and group borders (default 1000)");
    cmd->add_option("--compactness", c.compactness,
                    "Penalty for long thin triangles (default 100; weighed at the size of the polygons around each "
                    "contraction, so it means the same on coarse and dense meshes)");
    cmd->add_option("--flip", c.flip,
                    "Penalty for polygons that would turn over (default 100; also multiplies the contraction's own "
                    "error by 1 + this per polygon turned over)");
    cmd->add_option("--valence", c.valence,
                    "Penalty per polygon around the merged point (whole number, default 10; weighed at the size of "
                    "those polygons)");
    cmd->add_flag("--hierarchy", c.hierarchy, "Reduce the objects below the selected ones too, each one whole");
    cmd->add_option("--group", c.group,
                    "Reduce only the polygons of this group (OBJ g), as in polygon editing mode; the rest of the "
                    "object stays as it is");
    cmd->add_flag("--weld", c.weld,
                  "Merge points at exactly the same place first (for files whose polygons share no point)");
    cmd->add_option("--threads", c.threads,
                    "Threads the set-up of each reduction runs on (1 to " + std::to_string(kMaxThreads) +
                        "; default: one per processor core). The result is the same for any count");
    cmd->add_flag("--show-dialog", c.showDialog, "Print the dialog as set up, before the reduction");
}

// Notes whether --group was given at all (an empty name is refused then).
void noteGiven(CLI::App* cmd, ReductionChoices& c) {
    CLI::Option* group = cmd->get_option("--group");
    cmd->final_callback([&c, group] { c.groupGiven = group->count() > 0; });
}

}  // namespace

CLI::App* addReduceCommand(CLI::App& cli, ReduceOptions& o) {
    CLI::App* cmd = cli.add_subcommand(
        "reduce", "Reduce the polygon objects of a mesh file by quadric-error edge contraction, rebuilding quads");
    cmd->add_option("input", o.input, "Mesh file to reduce (.obj, .glb, .gltf, .fbx, .ply, .stl, .dae, .3ds)")
        ->required();
    cmd->add_option("-o,--output", o.output, "File to write the reduced objects to (.obj, .glb, .gltf, .ply, .stl)")
        ->required();
    CLI::Option* points = cmd->add_option("--points", o.points, "Reduce to this many points (one object)");
    CLI::Option* ratio = cmd->add_option("--ratio", o.ratio, "Keep this percentage of each object's points");
    CLI::Option* error = cmd->add_option(
        "--error", o.error,
        "Contract while the error stays within this limit. Errors are measured on the object scaled to a "
        "bounding-box diagonal of 2000, so a limit means the same in any units: on the bundled sample 10000 "
        "keeps the surface within about 1.4e-3 of the diagonal (RMS 1.7e-4), 100000 within about 4.5e-3");
    points->excludes(ratio)->excludes(error);
    ratio->excludes(error);
    cmd->add_flag("--preview", o.preview,
                  "Take the preview road: prepare the whole reduction, move the target, then commit");
    addChoiceOptions(cmd, o.choices);
    noteGiven(cmd, o.choices);
    return cmd;
}

CLI::App* addLodCommand(CLI::App& cli, LodOptions& o) {
    CLI::App* cmd = cli.add_subcommand(
        "lod", "Write a chain of levels of detail from one reduction: each level is a seek along one recorded pass");
    cmd->add_option("input", o.input, "Mesh file to reduce (.obj, .glb, .gltf, .fbx, .ply, .stl, .dae, .3ds)")
        ->required();
    cmd->add_option("-o,--output", o.pattern,
                    "Output file pattern; {n} becomes the level's number (from 1). A .glb or .gltf name without "
                    "{n} gets every level, the input first, in one file as an MSFT_lod chain")
        ->required();
    cmd->add_option("--levels", o.levels,
                    "Comma-separated levels: N% keeps N percent of each object's points, N keeps N points (one "
                    "object), eX reduces to the error limit X")
        ->required();
    cmd->add_option("--bake-from", o.bakeFrom,
                    "With a .glb or .gltf chain: bake a normal map from this high-resolution mesh (FILE or "
                    "FILE:OBJECT) onto every level, carried by the level's material");
    cmd->add_option("--bake-size", o.bakeSize, "Width and height of each level's normal map (10 to 6400, default 1024)");
    addChoiceOptions(cmd, o.choices);
    noteGiven(cmd, o.choices);
    return cmd;
}

int runReduce(const std::string& moduleDir, const ReduceOptions& o, std::ostream& out, std::ostream& err) {
    const Failure fail(err, "reduce");
    Target target;
    std::string problem;
    if (!o.points.empty())
        problem = checkCount("--points", o.points, target);
    else if (!o.ratio.empty())
        problem = checkRatio("--ratio", o.ratio, target);
    else if (!o.error.empty())
        problem = checkError("--error", o.error, target);
    else
        problem = "give a target: --points N, --ratio PERCENT or --error LIMIT";
    Plan plan;
    if (problem.empty()) problem = checkChoices(o.choices, plan);
    if (problem.empty()) problem = checkOutput("-o", o.output, o.input);
    if (problem.empty()) problem = checkMeshOutput("-o", o.output);
    if (!problem.empty()) return fail(problem);

    DialogRun run(err, "reduce");
    if (problem = run.open(moduleDir, o.input, o.choices, plan); !problem.empty()) return fail(problem);
    if (problem = run.checkTarget(target); !problem.empty()) return fail(problem);

    PassEnd end;
    if (o.preview) {
        if (!run.runPass(IDC_VEXLOR_PREPARE, end, "preparing the preview")) return fail("the preview could not be started");
        if (end.stopped) {
            run.close();
            err << "vexlor reduce: stopped; the objects were put back and nothing was written\n";
            return kInterruptedExit;
        }
        if (end.outcome != REDUCTION_END_DONE) return fail("the preview could not be prepared (out of memory?)");
        if (!run.setTarget(target)) return fail("the reduction dialog did not take the target " + target.text);
        if (o.choices.showDialog) out << run.render() << std::flush;
        if (!run.press(IDC_VEXLOR_START)) return fail("the preview could not be committed");
    } else {
        if (!run.setTarget(target)) return fail("the reduction dialog did not take the target " + target.text);
        if (o.choices.showDialog) out << run.render() << std::flush;
        if (!run.runPass(IDC_VEXLOR_START, end, "reducing " + o.input)) return fail("the reduction could not be started");
        if (end.stopped) {
            err << "vexlor reduce: stopped; the reduction was taken back and nothing was written\n";
            return kInterruptedExit;
        }
        // A failed pass was taken back.
        if (end.outcome != REDUCTION_END_DONE) return fail("the reduction failed; nothing was written");
    }
    if (problem = run.emptied(target); !problem.empty()) return fail(problem);
    std::string error;
    if (!run.writeObjects(o.output, &error)) return fail(error);
    if (run.allUnchanged())
        out << "the target " << target.text << " removes no point of " << o.input << "; written to " << o.output << "\n";
    else
        out << "reduced " << o.input << " -> " << o.output << "\n";
    run.printSummary(out);
    return 0;
}

int runLod(const std::string& moduleDir, const LodOptions& o, std::ostream& out, std::ostream& err) {
    const Failure fail(err, "lod");
    std::vector<Target> levels;
    std::string problem;
    for (size_t at = 0; problem.empty() && at <= o.levels.size();) {
        const size_t comma = std::min(o.levels.find(',', at), o.levels.size());
        Target t;
        problem = checkLevel(o.levels.substr(at, comma - at), t);
        levels.push_back(t);
        at = comma + 1;
    }
    std::vector<std::string> paths;
    const host::formats::MeshFormat outFormat = host::formats::meshFormatForPath(o.pattern);
    const bool chain = o.pattern.find("{n}") == std::string::npos &&
                       (outFormat == host::formats::MeshFormat::Glb || outFormat == host::formats::MeshFormat::Gltf);
    if (problem.empty() && !chain && levels.size() > 1 && o.pattern.find("{n}") == std::string::npos)
        problem = "-o " + o.pattern +
                  " needs {n} where the level's number goes (for example out_lod{n}.obj), or a .glb or .gltf name "
                  "for one file with every level";
    if (problem.empty() && chain) problem = checkOutput("-o", o.pattern, o.input);
    if (problem.empty() && chain) problem = checkMeshOutput("-o", o.pattern);
    for (size_t i = 0; problem.empty() && !chain && i < levels.size(); ++i) {
        std::string path = o.pattern;
        for (size_t p = path.find("{n}"); p != std::string::npos; p = path.find("{n}", p))
            path.replace(p, 3, std::to_string(i + 1));
        problem = checkOutput("-o", path, o.input);
        if (problem.empty()) problem = checkMeshOutput("-o", path);
        for (size_t k = 0; problem.empty() && k < paths.size(); ++k)
            if (host::sameFile(paths[k], path))
                problem = "-o " + o.pattern + ": levels " + std::to_string(k + 1) + " and " + std::to_string(i + 1) +
                          " would both write " + path;
        paths.push_back(path);
    }
    if (problem.empty() && !o.bakeFrom.empty() && !chain)
        problem = "--bake-from needs one .glb or .gltf file for the chain (-o chain.glb), whose materials carry the maps";
    if (problem.empty() && !o.bakeFrom.empty() && (o.bakeSize < 10 || o.bakeSize > 6400))
        problem = "--bake-size " + std::to_string(o.bakeSize) + " is outside 10 to 6400";
    Plan plan;
    if (problem.empty()) problem = checkChoices(o.choices, plan);
    if (!problem.empty()) return fail(problem);

    DialogRun run(err, "lod");
    if (problem = run.open(moduleDir, o.input, o.choices, plan); !problem.empty()) return fail(problem);
    for (const Target& t : levels)
        if (problem = run.checkTarget(t); !problem.empty()) return fail(problem);
    if (o.choices.showDialog) out << run.render() << std::flush;

    // The chain's first level is the input as it was read.
    std::vector<std::vector<std::unique_ptr<host::Object>>> chainLevels;
    std::vector<int> chainPolygons;
    if (chain) {
        chainLevels.push_back(run.snapshot());
        chainPolygons.push_back(run.polygonCount());
    }

    PassEnd end;
    if (!run.runPass(IDC_VEXLOR_PREPARE, end, "preparing " + o.input)) return fail("the reduction could not be started");
    if (end.stopped) {
        run.close();
        err << "vexlor lod: stopped; the objects were put back and nothing was written\n";
        return kInterruptedExit;
    }
    if (end.outcome != REDUCTION_END_DONE) return fail("the reduction could not be prepared (out of memory?)");

    // Every level is written to a temporary file beside its target; the levels are put in place only
    // when all of them were written, so a failure or Ctrl-C leaves every file as it was.
    std::vector<host::SafeOutput> files(levels.size());
    std::string report = "levels of " + o.input + ":\n";
    for (size_t i = 0; i < levels.size(); ++i) {
        if (interrupted()) break;
        std::string error;
        if (!run.setTarget(levels[i]) || !run.press(IDC_VEXLOR_FINISH_LEVEL))
            return fail("the reduction dialog did not take the level " + levels[i].text + "; no level was written");
        if (error = run.emptied(levels[i]); !error.empty()) return fail("level " + std::to_string(i + 1) + ": " + error);
        if (chain) {
            chainLevels.push_back(run.snapshot());
            chainPolygons.push_back(run.polygonCount());
        } else if (!files[i].open(paths[i], &error) || !run.writeObjects(files[i], &error)) {
            return fail(error + "; no level was written");
        }
        const Target& t = levels[i];
        const std::string what = t.kind == Target::Kind::Ratio   ? t.text + " % of the points"
                                 : t.kind == Target::Kind::Count ? t.text + " points"
                                                                 : "error limit " + t.text;
        report += "level " + std::to_string(i + 1) + " (" + what + "): " + (chain ? o.pattern : paths[i]) + "\n";
        for (size_t k = 0; k < run.objects().size(); ++k)
            report += "  \"" + run.objects()[k]->name() + "\": " + (run.unchanged(k) ? "no point removed, " : "") +
                      describe(*run.objects()[k]) + "\n";
    }
    run.close();
    if (interrupted()) {
        err << "vexlor lod: stopped; no level was written\n";
        return kInterruptedExit;
    }
    if (chain) {
        // Level k is meant for objects covering at least 0.5 * sqrt(polygons_k / polygons_0) of the
        // screen's height: the density of polygons per pixel stays about that of the input at half
        // the screen.
        std::vector<host::formats::LodLevel> chainOut;
        for (size_t k = 0; k < chainLevels.size(); ++k) {
            host::formats::LodLevel level;
            level.name = k == 0 ? fs::path(o.input).stem().string() : "LOD" + std::to_string(k);
            for (const auto& r : chainLevels[k]) level.roots.push_back(r.get());
            const double share = chainPolygons[0] > 0 ? double(chainPolygons[k]) / chainPolygons[0] : 1.0;
            level.screenCoverage = 0.5 * std::sqrt(std::clamp(share, 0.0, 1.0));
            chainOut.push_back(std::move(level));
        }
        std::string error;
        host::formats::BakedMapsOf baked;
        if (!o.bakeFrom.empty())
            for (auto& level : chainLevels)
                for (auto& r : level) withPolygonObjects(*r, host::formats::keepBakedNormals);
        if (!o.bakeFrom.empty() &&
            !bakeLevelMaps(moduleDir, {o.bakeFrom, o.bakeSize}, chainOut, baked, err, error))
            return fail(error + "; no level was written");
        if (!host::formats::writeLodChainFile(o.pattern, chainOut, &error, o.bakeFrom.empty() ? nullptr : &baked))
            return fail(error + "; no level was written");
        out << report;
        out << "wrote " << chainOut.size() << " levels (the input and " << levels.size() << " reduced) to "
            << o.pattern << "\n";
        return 0;
    }
    for (size_t i = 0; i < files.size(); ++i) {
        std::string error;
        if (!files[i].commit(&error)) {
            std::string kept;
            for (size_t k = 0; k < i; ++k) kept += " " + paths[k];
            return fail(error + (i == 0 ? std::string("; no level was written") : "; written before it:" + kept));
        }
    }
    out << report;
    return 0;
}

}  // namespace app
