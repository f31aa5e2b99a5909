// The reduction command's dialog worked as a person at the host would, for `vexlor reduce` and
// `vexlor lod`: a session with the file loaded, its polygon objects selected (with a group: the
// polygon editing mode with that group's polygons selected), the dialog open and its gadgets set from
// the plan; then targets moved, passes started and waited for, and the objects written.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "HostSession.h"
#include "ReduceOptions.h"
#include "host/SafeOutput.h"
#include "sources/HostContract.h"

namespace app {

// How a pass ended: stopped by Ctrl-C, and the outcome its end event carried (REDUCTION_END_...).
struct PassEnd {
    bool stopped = false;
    int32_t outcome = REDUCTION_END_FAILED;
};

// Points, polygons, and the polygons split into quads and triangles, as the summaries print them.
std::string describe(const host::PolygonObject& obj);

class ReductionDialogRun {
public:
    // `command` names the command in messages ("reduce", "lod").
    ReductionDialogRun(std::ostream& err, const char* command) : err_(err), command_(command) {}

    // Everything up to the target; an error message, or "" when the dialog is ready.
    std::string open(const std::string& moduleDir, const ReductionSetup& setup);

    // Checks a target against the dialog's target field and the objects; "" when it can be set.
    std::string checkTarget(const Target& t) const;
    // Moves the dialog's target as a person would: the count or the share into the target field, the
    // limit into the error field.
    bool setTarget(const Target& t);
    // Presses a button that starts a pass and waits for the pass's end event. False when the pass did
    // not start; `end` then tells whether Ctrl-C stopped it and how the pass ended.
    bool runPass(int32_t button, PassEnd& end, const std::string& announcement);

    bool press(int32_t button);
    std::string render() const;
    // Closes the dialog as a person would (a preview is put back).
    void close();

    bool writeObjects(const std::string& path, std::string* error) const;
    // Writes the objects into an output that is put in place later.
    bool writeObjects(host::SafeOutput& file, std::string* error) const;
    // Copies of every top-level object of the document as it is now, with everything below them.
    std::vector<std::unique_ptr<host::Object>> snapshot() const;
    // Live polygons over every object.
    int polygonCount() const;
    // Each object: its name, what it was loaded with and what it has now.
    void printSummary(std::ostream& out) const;
    // The object kept every point it was loaded with (its polygons may still have been rebuilt).
    bool unchanged(size_t i) const { return beforeCounts_[i].first == objects_[i]->pointCount(); }
    bool allUnchanged() const;
    const std::vector<host::PolygonObject*>& objects() const { return objects_; }
    host::Document& document() const { return session_->document(); }
    // A message when the target left an object that had polygons with none; "" otherwise.
    std::string emptied(const Target& t) const;

private:
    host::DialogHost& dialogs() const { return session_->dialogs(); }
    int32_t number(int32_t gadget) const;
    std::string selectGroup(const std::string& name, const std::string& input, std::vector<host::Object*>& selected);

    std::ostream& err_;
    const char* command_;
    std::unique_ptr<HostSession> session_;
    HostDialogBase* dialog_ = nullptr;
    std::vector<host::PolygonObject*> objects_;
    std::vector<std::string> before_;
    std::vector<std::pair<int, int>> beforeCounts_;  // points, polygons as loaded
};

}  // namespace app
