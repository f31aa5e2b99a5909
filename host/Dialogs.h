// Headless dialogs. The DialogHost keeps every dialog a module opened: its gadgets, built from a
// layout resource, with their values, limits, enabled state and a rectangle from a simple stacked
// layout; its timer; and the user areas attached to its gadgets, each drawing into a bitmap canvas.
//
// Two sides use it, both on the main thread only:
//  - the module, through the table entries (dlg*, drag*, fileChoose, ua*, mouseDrag*), which set
//    and read gadgets as a program does: a set outside the gadget's limits is clamped;
//  - the front end or a test, standing for the person at the dialog: it enters values (refused
//    where the gadget or an enclosing group is disabled; clamped to the limits), presses buttons,
//    picks choices, drags in user areas, drops objects, closes dialogs, lets time pass for the
//    timers, answers the file chooser, and reads the dialog back as text or as pictures.
//
// Every call into a module dialog can call back into the host (and even close the dialog), so the
// host looks its records up again after each such call and never holds gadget pointers across it.
//
// Messages the host builds (settings containers):
//  - command(gadget): HOST_MSG_ID = DLG_MSGKIND_COMMAND, DLG_MSG_DRAGGING (true while a user area
//    is being dragged, from uaNotify);
//  - a press in a user area (inputEvent): HOST_MSG_ID = HOST_MSGKIND_INPUT, HOST_MSG_CHANNEL = the
//    button (1 left), HOST_MSG_MOUSE_X/Y as reals in the area's own pixels;
//  - a drop (message): HOST_MSG_ID = HOST_MSGKIND_DRAG_RECEIVE, HOST_MSG_MOUSE_X/Y as reals in
//    dialog pixels (the frame of gadget rectangles), HOST_MSG_DRAG_FINISHED, and the payload that
//    dragItemCount/dragItem read;
//  - core messages: HOST_MSG_ID = the event id, DLG_MSG_VALUE1/2 its values; timer: DLG_MSGKIND_TIMER.
//
// Stacked layout: gadgets are laid out top to bottom in tree order (a container's children right
// under it, indented by 12 px per level), one 20 px row each, starting 8 px from the top left.
// Groups, drop areas and radio groups have a header row and span their children; entries of a
// choice take no row; a user area is as large as its minimum size. The dialog is at least 320 px
// wide, wider when a user area needs it; other gadgets span the width.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/Bitmap.h"
#include "host/EventQueue.h"
#include "host/Geometry.h"
#include "host/Resources.h"
#include "host/Settings.h"
#include "sources/HostInterface.h"
#include "sources/HostContract.h"

namespace host {

// The contract's numbers, also as host::TAG_UVW and the like.
using namespace ::contract;

class Object;
class Tag;

// Colours of user-area canvases: the background that clear paints and the border colour.
inline constexpr uint8_t kAreaBackground[3] = {192, 192, 192};
inline constexpr uint8_t kAreaBorder[3] = {96, 96, 96};

struct Rect {
    int32_t x = 0, y = 0, w = 0, h = 0;
    bool contains(double px, double py) const { return px >= x && px < x + w && py >= y && py < y + h; }
    bool operator==(const Rect&) const = default;
};

struct Colour {
    Vec3 rgb;
    double brightness = 1.0;
    bool operator==(const Colour&) const = default;
};

// One item of a drag payload: an object or a tag of the document.
struct DragItem {
    int32_t kind = HOST_DRAG_OBJECT;
    void* handle = nullptr;  // HstObject* or HstTag*
    static DragItem object(Object* o);
    static DragItem tag(Tag* t);
};

struct DragMove {
    double dx = 0, dy = 0;
};

// What a person enters into a gadget.
struct UserValue {
    enum class Type { Number, Bool, Text, Colour };
    Type type = Type::Number;
    double number = 0;
    bool flag = false;
    std::string text;
    host::Colour colour;

    UserValue(int v) : number(v) {}
    UserValue(long long v) : number(static_cast<double>(v)) {}
    UserValue(double v) : number(v) {}
    UserValue(bool v) : type(Type::Bool), flag(v) {}
    UserValue(const char* v) : type(Type::Text), text(v) {}
    UserValue(std::string v) : type(Type::Text), text(std::move(v)) {}
    UserValue(const host::Colour& c) : type(Type::Colour), colour(c) {}
};

// The state of one gadget of an open dialog.
struct Gadget {
    enum class Value { None, Number, Bool, Text, Colour };

    int32_t id = 0;
    GadgetKind kind = GadgetKind::Group;
    int32_t parent = 0;
    std::string label;  // caption of buttons, groups and check boxes; label of fields
    std::vector<std::pair<int32_t, std::string>> choices;  // entries or radios of a choice gadget

    Value value = Value::None;
    double number = 0;     // number fields (integer or real) and the chosen id of choice gadgets
    bool integer = false;  // a number field last set as an integer
    int32_t format = 0;    // real format (HOST_FORMAT_*), 0 for the kind's own
    bool limited = false;  // min/max/step were set
    double min = 0, max = 0, step = 0;
    bool flag = false;  // check boxes
    std::string text;   // texts and file names
    Colour colour;
    double maxBrightness = 1.0;
    int32_t colourFlags = 0;

    bool enabled = true;
    Rect rect;
    HostUserAreaBase* area = nullptr;
    Bitmap canvas;
    uint8_t pen[3] = {0, 0, 0};
    int drawCount = 0;       // times the area drew itself
    int redrawRequests = 0;  // times the area asked to be redrawn

    bool isPercent() const;
    // The value as the dialog shows it ("1.5", "100 %", "[x]", the chosen entry's text, ...).
    std::string valueText() const;
};

struct FileRequest {
    bool forSave = false;
    std::string title;
    std::string proposed;
    std::string answer;  // "" when cancelled
};

struct DropResult {
    bool delivered = false;  // the dialog got the message (false: refused by a disabled gadget)
    int32_t answer = 0;      // the dialog's answer
    int32_t cursor = 0;      // the cursor the dialog set while handling it (0: none)
};

struct AreaDragResult {
    bool delivered = false;  // false: no such area, or it is unusable
    int32_t answer = 0;      // the area's answer to the press
    size_t movesUsed = 0;    // scripted moves the area took through the drag loop
};

class DialogHost {
public:
    // The running host's dialogs, the handler of EventQueue::main()'s events (HostServices.h).
    static DialogHost& main();

    DialogHost() = default;
    DialogHost(const DialogHost&) = delete;
    DialogHost& operator=(const DialogHost&) = delete;

    // Layouts come from the resources the module opened (null: none). The set is not owned: whoever
    // closes it sets null first.
    void setResources(const ResourceSet* resources) { resources_ = resources; }
    const ResourceSet* resources() const { return resources_; }

    // Forgets every dialog, area, scripted answer and drag without calling into any module object
    // (the resources stay).
    void reset();
    // Clock of the timers (milliseconds); host::clockMs unless replaced.
    void setClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }

    // --- What the module asks (the table entries) ---------------------------------------------
    // Opens a dialog: create layout, then init values (each area's init values after it). Fails,
    // and leaves nothing open, when either answers 0. Opening an open dialog changes nothing.
    bool open(HostDialogBase* dlg, int32_t pluginId);
    // Closes at the module's request (no ask close): destroy window, then forgotten.
    void closeByModule(HostDialogBase* dlg);
    // Drops every record of a dialog that is being destroyed; nothing is called on it.
    void forget(HostDialogBase* dlg);
    bool loadLayout(HostDialogBase* dlg, int32_t layoutId);
    bool attachUserArea(HostDialogBase* dlg, int32_t gadget, HostUserAreaBase* area);

    bool setInt(HostDialogBase* dlg, int32_t gadget, int32_t v, int32_t min, int32_t max, int32_t step);
    bool setReal(HostDialogBase* dlg, int32_t gadget, double v, double min, double max, double step, int32_t format);
    bool setBool(HostDialogBase* dlg, int32_t gadget, bool v);
    bool setString(HostDialogBase* dlg, int32_t gadget, const std::string& v);
    bool setFilename(HostDialogBase* dlg, int32_t gadget, const std::string& v);
    bool setColour(HostDialogBase* dlg, int32_t gadget, const Colour& c, double maxBrightness, int32_t flags);
    bool getInt(HostDialogBase* dlg, int32_t gadget, int32_t& out) const;
    bool getReal(HostDialogBase* dlg, int32_t gadget, double& out) const;
    bool getBool(HostDialogBase* dlg, int32_t gadget, bool& out) const;
    bool getString(HostDialogBase* dlg, int32_t gadget, std::string& out) const;
    bool getFilename(HostDialogBase* dlg, int32_t gadget, std::string& out) const;
    bool getColour(HostDialogBase* dlg, int32_t gadget, Colour& out) const;
    bool enable(HostDialogBase* dlg, int32_t gadget, bool on);
    void setTimer(HostDialogBase* dlg, int32_t periodMs);
    bool gadgetRect(HostDialogBase* dlg, int32_t gadget, Rect& out) const;
    void setDragCursor(HostDialogBase* dlg, int32_t cursor);

    // The payload of a drag-receive message.
    static int32_t dragItemCount(const Settings& msg);
    static void* dragItem(const Settings& msg, int32_t i, int32_t* kind);

    // The file chooser: pops the next scripted answer (a path, or "cancel"); none left is a cancel.
    // True when a file was chosen (then `path` holds it).
    bool chooseFile(std::string& path, bool forSave, const std::string& title);

    // User areas.
    void areaRedraw(HostUserAreaBase* a);
    bool areaSize(HostUserAreaBase* a, int32_t& w, int32_t& h) const;
    static int32_t borderWidth(int32_t style);
    void areaDrawBorder(HostUserAreaBase* a, int32_t style);
    void areaClear(HostUserAreaBase* a, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    void areaSetPen(HostUserAreaBase* a, double r, double g, double b);
    void areaDrawLine(HostUserAreaBase* a, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    void areaDrawBitmap(HostUserAreaBase* a, const Bitmap& b, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                        int32_t dx, int32_t dy, int32_t dw, int32_t dh, int32_t mode);
    void areaNotify(HostUserAreaBase* a, bool dragging);

    // The mouse drag loop, fed from the scripted moves.
    bool mouseDragStart(int32_t button, double x, double y, int32_t flags);
    int32_t mouseDrag(double* dx, double* dy, Settings* channels);
    bool mouseDragEnd();

    // --- What a person does ---------------------------------------------------------------------
    // Enters a value (number, check mark, text, colour, or a choice id); refused (false) when the
    // gadget is unusable or does not take such a value. The value is clamped; then the dialog gets
    // the command.
    bool setByUser(HostDialogBase* dlg, int32_t gadget, const UserValue& value);
    // Enters text as typed: numbers ("50 %" in a percent field is 0.5), "on"/"off" for check boxes,
    // an entry's id or text for choices, the text itself for text and file-name fields, "r g b
    // [brightness]" for colours.
    bool enter(HostDialogBase* dlg, int32_t gadget, const std::string& text);
    // Presses a button (a check box toggles, a radio selects itself in its group).
    bool press(HostDialogBase* dlg, int32_t gadget);
    // Picks an entry of a choice or popup, or a radio of a radio group.
    bool choose(HostDialogBase* dlg, int32_t gadget, int32_t choiceId);
    // Presses `button` at (x, y) inside a user area and moves by the scripted steps while the area
    // runs its drag loop; `cancel` makes the loop end as cancelled instead of released.
    AreaDragResult dragUserArea(HostDialogBase* dlg, int32_t gadget, int32_t button, double x, double y,
                                const std::vector<DragMove>& moves, bool cancel = false);
    // Drags a payload over a gadget (its centre) or a point of the dialog; `finished` drops it.
    DropResult drop(HostDialogBase* dlg, int32_t gadget, const std::vector<DragItem>& items, bool finished);
    DropResult dropAt(HostDialogBase* dlg, double x, double y, const std::vector<DragItem>& items, bool finished);
    // Asks the dialog to close; true when it closed.
    bool close(HostDialogBase* dlg);
    // Runs the timers that are due at `nowMs` (each at most once); returns how many ran.
    int tick(int64_t nowMs);
    int tick();
    // Hands an event of the main queue to the dialogs: a special event to every open dialog, a
    // posted message to the dialogs of its plug-in id (or to its target dialog).
    void deliver(const Event& e);
    // Called after every delivered event (the front end waits on these).
    void setEventObserver(std::function<void(const Event&)> observer) { observer_ = std::move(observer); }

    // Scripted answers and moves.
    void queueFileAnswer(std::string answer) { fileAnswers_.push_back(std::move(answer)); }
    const std::vector<FileRequest>& fileRequests() const { return fileRequests_; }
    void scriptDrag(const std::vector<DragMove>& moves, bool cancel = false);
    size_t scriptedMovesLeft() const { return dragScript_.size(); }

    // --- Reading back ---------------------------------------------------------------------------
    bool isOpen(HostDialogBase* dlg) const { return find(dlg) != nullptr; }
    std::vector<HostDialogBase*> openDialogs() const;
    HostDialogBase* dialogOf(int32_t pluginId) const;
    int32_t pluginIdOf(HostDialogBase* dlg) const;
    int32_t layoutIdOf(HostDialogBase* dlg) const;
    int32_t timerPeriod(HostDialogBase* dlg) const;
    const Gadget* gadget(HostDialogBase* dlg, int32_t id) const;
    // False when the gadget is missing, disabled or inside a disabled container.
    bool usable(HostDialogBase* dlg, int32_t id) const;
    int32_t dragCursor() const { return dragCursor_; }
    // The dialog as a person would see it, one line per gadget, indented by group.
    std::string render(HostDialogBase* dlg) const;
    // Lets the area draw itself now and returns its canvas (empty when there is no area).
    Bitmap renderUserArea(HostDialogBase* dlg, int32_t gadget);

private:
    struct Record {
        HostDialogBase* dialog = nullptr;
        int32_t pluginId = 0;
        int32_t layoutId = 0;
        std::string title;
        std::vector<Gadget> gadgets;  // layout order
        int32_t timerPeriod = 0;
        int64_t timerDue = 0;
        bool closing = false;
        Gadget* find(int32_t id);
        const Gadget* find(int32_t id) const;
    };

    Record* find(HostDialogBase* dlg);
    const Record* find(HostDialogBase* dlg) const;
    Gadget* findGadget(HostDialogBase* dlg, int32_t id);
    const Gadget* findGadget(HostDialogBase* dlg, int32_t id) const;
    Gadget* findArea(HostUserAreaBase* a);
    bool locateArea(HostUserAreaBase* a, Record*& record, Gadget*& gadget);
    bool usable(const Record& r, const Gadget& g) const;
    void relayout(Record& r);
    void drawArea(HostUserAreaBase* a);
    bool applyUserValue(Gadget& g, const UserValue& v);
    int32_t command(HostDialogBase* dlg, int32_t gadget, bool dragging);
    void remove(HostDialogBase* dlg);
    std::vector<const Gadget*> treeOrder(const Record& r) const;
    int depth(const Record& r, const Gadget& g) const;

    std::vector<std::unique_ptr<Record>> dialogs_;
    const ResourceSet* resources_ = nullptr;
    std::function<int64_t()> clock_;
    std::function<void(const Event&)> observer_;
    std::deque<std::string> fileAnswers_;
    std::vector<FileRequest> fileRequests_;
    std::deque<DragMove> dragScript_;
    bool dragCancel_ = false;
    bool dragActive_ = false;
    bool dragCancelled_ = false;
    int32_t dragButton_ = 0;
    double dragX_ = 0, dragY_ = 0;
    size_t dragMovesUsed_ = 0;
    int32_t dragCursor_ = 0;
    std::vector<HostUserAreaBase*> drawing_;  // areas inside their draw()
};

}  // namespace host
