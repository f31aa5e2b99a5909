#include "ReductionDialogRun.h"

#include <cmath>
#include <cstdio>
#include <set>

#include "Weld.h"
#include "host/Dialogs.h"
#include "host/EventQueue.h"
#include "host/StatusBar.h"
#include "host/Threads.h"
#include "host/formats/MeshFile.h"
#include "sources/ResourceIds.h"

namespace app {
namespace {

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

}  // namespace

std::string describe(const host::PolygonObject& obj) {
    int triangles = 0, quads = 0;
    for (const host::Polygon& p : obj.polygons) (p.c == p.d ? triangles : quads)++;
    return std::to_string(obj.pointCount()) + " points, " + std::to_string(obj.polygonCount()) + " polygons (" +
           std::to_string(quads) + " quads, " + std::to_string(triangles) + " triangles)";
}

std::string ReductionDialogRun::open(const std::string& moduleDir, const ReductionSetup& plan) {
    const std::string& input = plan.input;
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
    if (plan.weld) weldCoincidentPoints(session_->document(), objects_, command_, err_);
    for (host::PolygonObject* o : objects_)
        if (isPolygonSoup(*o)) return polygonSoupMessage(*o, input, plan.weld);

    host::Document& doc = session_->document();
    std::vector<host::Object*> selected;
    if (!plan.group.empty()) {
        if (std::string problem = selectGroup(plan.group, input, selected); !problem.empty()) return problem;
        doc.setEditingMode(host::MODE_POLYGONS);
    } else {
        doc.setEditingMode(host::MODE_OBJECT);
        if (plan.hierarchy)
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
    if (plan.hierarchy) ok = ok && d.setByUser(dialog_, IDC_VEXLOR_HIERARCHY, true);
    if (plan.weightingRadio != 0 && number(IDC_VEXLOR_WEIGHTING) != plan.weightingRadio)
        ok = ok && d.choose(dialog_, IDC_VEXLOR_WEIGHTING, plan.weightingRadio);
    if (plan.noChecks) ok = ok && d.setByUser(dialog_, IDC_VEXLOR_CHECKS, false);
    if (plan.boundaryWeight) ok = ok && d.setByUser(dialog_, IDC_VEXLOR_BOUNDARY_WEIGHT, *plan.boundaryWeight);
    if (plan.compactness) ok = ok && d.setByUser(dialog_, IDC_VEXLOR_COMPACTNESS, *plan.compactness);
    if (plan.flip) ok = ok && d.setByUser(dialog_, IDC_VEXLOR_FLIP, *plan.flip);
    if (plan.valence) ok = ok && d.setByUser(dialog_, IDC_VEXLOR_VALENCE, static_cast<double>(*plan.valence));
    if (!ok) return "the reduction dialog did not take the settings";
    return {};
}

std::string ReductionDialogRun::checkTarget(const Target& t) const {
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

bool ReductionDialogRun::setTarget(const Target& t) {
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

bool ReductionDialogRun::runPass(int32_t button, PassEnd& end, const std::string& announcement) {
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

bool ReductionDialogRun::press(int32_t button) { return dialogs().press(dialog_, button); }

std::string ReductionDialogRun::render() const { return dialogs().render(dialog_); }

void ReductionDialogRun::close() {
    if (dialog_ && dialogs().isOpen(dialog_)) dialogs().close(dialog_);
    dialog_ = nullptr;
}

bool ReductionDialogRun::writeObjects(const std::string& path, std::string* error) const {
    std::vector<const host::Object*> out(objects_.begin(), objects_.end());
    return host::formats::writeMeshFile(path, out, error);
}

std::vector<std::unique_ptr<host::Object>> ReductionDialogRun::snapshot() const {
    std::vector<std::unique_ptr<host::Object>> out;
    for (const auto& r : session_->document().roots()) out.push_back(r->cloneTree());
    return out;
}

int ReductionDialogRun::polygonCount() const {
    int n = 0;
    for (const host::PolygonObject* o : objects_)
        for (const host::Polygon& p : o->polygons) n += p.a != p.b;
    return n;
}

bool ReductionDialogRun::writeObjects(host::SafeOutput& file, std::string* error) const {
    std::vector<const host::Object*> out(objects_.begin(), objects_.end());
    return host::formats::writeMeshFile(file, out, error);
}

void ReductionDialogRun::printSummary(std::ostream& out) const {
    for (size_t i = 0; i < objects_.size(); ++i) {
        out << "  \"" << objects_[i]->name() << "\": ";
        out << (unchanged(i) ? "no point removed, " : "") << before_[i] << " -> " << describe(*objects_[i])
            << "\n";
    }
}

bool ReductionDialogRun::allUnchanged() const {
    for (size_t i = 0; i < objects_.size(); ++i)
        if (!unchanged(i)) return false;
    return true;
}

std::string ReductionDialogRun::emptied(const Target& t) const {
    for (const host::PolygonObject* o : objects_)
        if (o->polygons.empty())
            return "the target " + t.text + " leaves no polygon of \"" + o->name() +
                   "\"; give a larger target (nothing was written)";
    return {};
}

int32_t ReductionDialogRun::number(int32_t gadget) const {
    const host::Gadget* g = dialogs().gadget(dialog_, gadget);
    return g ? static_cast<int32_t>(g->number) : 0;
}

std::string ReductionDialogRun::selectGroup(const std::string& name, const std::string& input,
                                            std::vector<host::Object*>& selected) {
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

}  // namespace app
