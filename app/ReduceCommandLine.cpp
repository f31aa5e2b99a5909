#include "ReduceCommandLine.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <optional>
#include <set>
#include <vector>

#include "HostSession.h"
#include "sources/HostContract.h"
#include "sources/ResourceIds.h"
#include "host/Dialogs.h"
#include "host/EventQueue.h"
#include "host/ObjFile.h"
#include "host/StatusBar.h"

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

std::string trimmed(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::optional<long long> parseWhole(const std::string& text) {
    const std::string t = trimmed(text);
    long long v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
    return v;
}

std::optional<double> parseReal(const std::string& text) {
    const std::string t = trimmed(text);
    double v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

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

// Every checked setting the dialog gets.
struct Plan {
    int32_t weightingRadio = 0;  // 0: leave it
    std::optional<double> boundaryWeight, compactness, flip;
    std::optional<long long> valence;
};

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
    if (c.noChecks && (plan.compactness || plan.flip || plan.valence))
        return "--compactness, --flip and --valence are penalties of the quality checks, which --no-checks turns off";
    if (!c.group.empty() && c.hierarchy)
        return "--group reduces part of an object, --hierarchy whole objects: give one of them";
    return {};
}

// The folder of an output file must exist and take files; the file must not be a folder.
std::string checkWritable(const std::string& option, const std::string& path) {
    std::error_code ec;
    if (path.empty()) return option + " needs a file name";
    fs::path folder = fs::path(path).parent_path();
    if (folder.empty()) folder = ".";
    if (!fs::is_directory(folder, ec)) return option + " " + path + ": the folder " + folder.string() + " does not exist";
    if (fs::is_directory(path, ec)) return option + " " + path + " is a folder";
    if (access(folder.c_str(), W_OK) != 0) return option + " " + path + ": the folder " + folder.string() + " is not writable";
    if (fs::exists(path, ec) && access(path.c_str(), W_OK) != 0) return option + " " + path + " is not writable";
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
        std::vector<host::Object*> loaded;
        if (!session_->loadFile(input, &loaded, &error)) return error;
        std::vector<host::Object*> all;
        for (host::Object* o : loaded) collectTree(o, all);
        for (host::Object* o : all)
            if (o->isPolygonObject()) objects_.push_back(static_cast<host::PolygonObject*>(o));
        if (objects_.empty()) return input + " holds no polygon object";
        for (host::PolygonObject* o : objects_) before_.push_back(describe(*o));

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
                    if (used > 0 && static_cast<float>(used) * static_cast<float>(t.ratio) < 1.0f)
                        return t.text + " % of the " + std::to_string(used) + " points of \"" + o->name() +
                               "\" keeps no point";
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
    // not start; `stopped` tells whether Ctrl-C stopped it.
    bool runPass(int32_t button, bool& stopped, const std::string& announcement) {
        host::DialogHost& d = dialogs();
        bool ended = false;
        d.setEventObserver([&ended](const host::Event& e) {
            if (e.kind == host::Event::Kind::Special && e.id == VEXLOR_ID) ended = true;
        });
        std::string caption;
        const bool pressed = d.press(dialog_, button) && d.getString(dialog_, IDC_VEXLOR_START, caption) && d.resources() &&
                             caption == d.resources()->string(STR_VEXLOR_STOP);
        if (!pressed) {
            d.setEventObserver({});
            return false;
        }
        err_ << "vexlor " << command_ << ": " << announcement << " (Ctrl-C stops)" << std::endl;
        stopped = !session_->waitFor([&ended] { return ended; }, [&] { d.press(dialog_, IDC_VEXLOR_START); });
        d.setEventObserver({});
        host::StatusBar::main().clear();
        return true;
    }

    bool press(int32_t button) { return dialogs().press(dialog_, button); }
    bool usable(int32_t gadget) const { return dialogs().usable(dialog_, gadget); }
    std::string render() const { return dialogs().render(dialog_); }
    // Closes the dialog as a person would (a preview is put back).
    void close() {
        if (dialog_ && dialogs().isOpen(dialog_)) dialogs().close(dialog_);
        dialog_ = nullptr;
    }

    int undoDepth() const { return session_->document().undoDepth(); }
    bool writeObjects(const std::string& path, std::string* error) const {
        std::vector<const host::Object*> out(objects_.begin(), objects_.end());
        return host::writeObj(path, out, error);
    }
    void printSummary(std::ostream& out) const {
        for (size_t i = 0; i < objects_.size(); ++i)
            out << "  \"" << objects_[i]->name() << "\": " << before_[i] << " -> " << describe(*objects_[i]) << "\n";
    }
    const std::vector<host::PolygonObject*>& objects() const { return objects_; }

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
};

void addChoiceOptions(CLI::App* cmd, ReductionChoices& c) {
    cmd->add_option("--weighting", c.weighting, "How polygon planes are weighted: area, average, angle or area-average");
    cmd->add_flag("--no-checks", c.noChecks, "Turn off the quality checks (compactness, flip and valence penalties)");
    cmd->add_option("--boundary-weight", c.boundaryWeight, "Weight of open borders and group borders (default 1000)");
    cmd->add_option("--compactness", c.compactness, "Penalty for long thin triangles (default 100)");
    cmd->add_option("--flip", c.flip, "Penalty for polygons that would turn over (default 100)");
    cmd->add_option("--valence", c.valence, "Penalty for points with many polygons (whole number, default 10)");
    cmd->add_flag("--hierarchy", c.hierarchy, "Reduce the objects below the selected ones too, each one whole");
    cmd->add_option("--group", c.group,
                    "Reduce only the polygons of this group (OBJ g), as in polygon editing mode; the rest of the "
                    "object stays as it is");
    cmd->add_flag("--show-dialog", c.showDialog, "Print the dialog as set up, before the reduction");
}

}  // namespace

CLI::App* addReduceCommand(CLI::App& cli, ReduceOptions& o) {
    CLI::App* cmd = cli.add_subcommand(
        "reduce", "Reduce the polygon objects of a mesh file by quadric-error edge contraction, rebuilding quads");
    cmd->add_option("input", o.input, "OBJ file to reduce")->required();
    cmd->add_option("-o,--output", o.output, "OBJ file to write the reduced objects to")->required();
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
    return cmd;
}

CLI::App* addLodCommand(CLI::App& cli, LodOptions& o) {
    CLI::App* cmd = cli.add_subcommand(
        "lod", "Write a chain of levels of detail from one reduction: each level is a seek along one recorded pass");
    cmd->add_option("input", o.input, "OBJ file to reduce")->required();
    cmd->add_option("-o,--output", o.pattern, "Output file pattern; {n} becomes the level's number (from 1)")
        ->required();
    cmd->add_option("--levels", o.levels,
                    "Comma-separated levels: N% keeps N percent of each object's points, N keeps N points (one "
                    "object), eX reduces to the error limit X")
        ->required();
    addChoiceOptions(cmd, o.choices);
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
    if (problem.empty()) problem = checkWritable("-o", o.output);
    if (!problem.empty()) return fail(problem);

    DialogRun run(err, "reduce");
    if (problem = run.open(moduleDir, o.input, o.choices, plan); !problem.empty()) return fail(problem);
    if (problem = run.checkTarget(target); !problem.empty()) return fail(problem);

    const int undoBefore = run.undoDepth();
    bool stopped = false;
    if (o.preview) {
        if (!run.runPass(IDC_VEXLOR_PREPARE, stopped, "preparing the preview")) return fail("the preview could not be started");
        if (stopped) {
            run.close();
            err << "vexlor reduce: stopped; the objects were put back and nothing was written\n";
            return kInterruptedExit;
        }
        if (run.usable(IDC_VEXLOR_PREPARE)) return fail("the preview could not be prepared (out of memory?)");
        if (!run.setTarget(target)) return fail("the reduction dialog did not take the target " + target.text);
        if (o.choices.showDialog) out << run.render() << std::flush;
        if (!run.press(IDC_VEXLOR_START)) return fail("the preview could not be committed");
    } else {
        if (!run.setTarget(target)) return fail("the reduction dialog did not take the target " + target.text);
        if (o.choices.showDialog) out << run.render() << std::flush;
        if (!run.runPass(IDC_VEXLOR_START, stopped, "reducing " + o.input)) return fail("the reduction could not be started");
        if (stopped) {
            err << "vexlor reduce: stopped; the reduction was taken back and nothing was written\n";
            return kInterruptedExit;
        }
    }
    // Each finished reduction leaves one undo step; a failed one is taken back.
    if (run.undoDepth() != undoBefore + 1) return fail("the reduction failed; nothing was written");
    std::string error;
    if (!run.writeObjects(o.output, &error)) return fail(error);
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
    if (problem.empty() && levels.size() > 1 && o.pattern.find("{n}") == std::string::npos)
        problem = "-o " + o.pattern + " needs {n} where the level's number goes (for example out_lod{n}.obj)";
    for (size_t i = 0; problem.empty() && i < levels.size(); ++i) {
        std::string path = o.pattern;
        for (size_t p = path.find("{n}"); p != std::string::npos; p = path.find("{n}", p))
            path.replace(p, 3, std::to_string(i + 1));
        problem = checkWritable("-o", path);
        paths.push_back(path);
    }
    Plan plan;
    if (problem.empty()) problem = checkChoices(o.choices, plan);
    if (!problem.empty()) return fail(problem);

    DialogRun run(err, "lod");
    if (problem = run.open(moduleDir, o.input, o.choices, plan); !problem.empty()) return fail(problem);
    for (const Target& t : levels)
        if (problem = run.checkTarget(t); !problem.empty()) return fail(problem);
    if (o.choices.showDialog) out << run.render() << std::flush;

    bool stopped = false;
    if (!run.runPass(IDC_VEXLOR_PREPARE, stopped, "preparing " + o.input)) return fail("the reduction could not be started");
    if (stopped) {
        run.close();
        err << "vexlor lod: stopped; the objects were put back and nothing was written\n";
        return kInterruptedExit;
    }
    if (run.usable(IDC_VEXLOR_PREPARE)) return fail("the reduction could not be prepared (out of memory?)");

    std::vector<std::string> written;
    auto removeWritten = [&written] {
        for (const std::string& p : written) {
            std::error_code ec;
            fs::remove(p, ec);
        }
    };
    out << "levels of " << o.input << ":\n";
    for (size_t i = 0; i < levels.size(); ++i) {
        if (interrupted()) break;
        std::string error;
        if (!run.setTarget(levels[i]) || !run.press(IDC_VEXLOR_FINISH_LEVEL)) {
            removeWritten();
            return fail("the reduction dialog did not take the level " + levels[i].text);
        }
        if (!run.writeObjects(paths[i], &error)) {
            removeWritten();
            return fail(error);
        }
        written.push_back(paths[i]);
        const Target& t = levels[i];
        const std::string what = t.kind == Target::Kind::Ratio   ? t.text + " % of the points"
                                 : t.kind == Target::Kind::Count ? t.text + " points"
                                                                 : "error limit " + t.text;
        out << "level " << (i + 1) << " (" << what << "): " << paths[i] << "\n";
        for (const host::PolygonObject* obj : run.objects())
            out << "  \"" << obj->name() << "\": " << describe(*obj) << "\n";
    }
    run.close();
    if (interrupted()) {
        removeWritten();
        err << "vexlor lod: stopped; no level was kept\n";
        return kInterruptedExit;
    }
    return 0;
}

}  // namespace app
