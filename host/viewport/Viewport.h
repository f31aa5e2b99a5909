// A view of a document in our host, free of any window system: it renders the document's visible
// polygon objects into a host bitmap, hands a viewport tool its mouse input, and draws what the tool
// draws (its highlight) over the image. A front end (a window, a web page, the command line) only
// forwards input events and shows the image.
//
// Using it:
//
//   host::Viewport view(document, 800, 600);
//   view.frameDocument(HOST_PROJECTION_FRONT);   // or set view.camera yourself
//   view.setTool(tool);                          // a registered tool; its panel opens (see below)
//   host::ScriptedInput input({{ViewEvent::Kind::Move, 120, 80}, {ViewEvent::Kind::Release, 0, 0}});
//   view.press(100, 80, 1, input);               // one drag: press, moves, release
//   const host::Bitmap& image = view.render();
//
// Threads: everything here runs on one thread, the host's main thread, which also owns the module.
// press() returns only when the drag is over: the tool runs its own drag loop and asks for each
// movement in turn, and the viewport takes it from the ViewInput given to press(). A front end whose
// events arrive on other threads (a web server) uses QueuedInput: its threads push events, and the
// main thread, blocked in press(), takes them one by one. The frame observer is called on the main
// thread after every redraw the tool asks for during the drag, so the front end can show each step.
//
// Input events carry absolute positions in view pixels (x right, y down, from the top left). Buttons
// are 1 (left), 2 (right) and 3 (middle; the brush ignores it). A Cancel event is the Escape key:
// the drag ends as cancelled, and the brush takes the whole drag back.
//
// Tools: setTool() makes the tool active, asks it for its settings panel over the settings container
// that the viewport keeps for it (toolSettings()), and opens that panel in the host's dialogs, where
// a person (or a front end) sets its gadgets. The panel is closed and freed by setTool(nullptr) and by
// the destructor. Each drag of the brush is one undo step of the document (Document::undoLast takes
// it back).
//
// Drawing: render() draws the visible polygon objects (flat grey shading lit from the eye, polygon
// edges darker, hidden polygons left out), then the polygons the tool drew at its last redraw (its
// highlight). Corners are coloured one by one and blended across each polygon. In a perspective
// view a polygon with a corner at or behind the eye is left out.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "host/Bitmap.h"
#include "host/Document.h"
#include "host/Settings.h"
#include "host/viewport/Camera.h"
#include "sources/HostInterface.h"

namespace host {

struct ViewEvent {
    enum class Kind { Move, Release, Cancel };
    Kind kind = Kind::Move;
    double x = 0, y = 0;  // Move: the new pointer position
};

// The events of one drag after its press, in order.
class ViewInput {
public:
    virtual ~ViewInput() = default;
    // The next event; waits for it when none has come yet.
    virtual ViewEvent next() = 0;
};

// A fixed list of events; a release once the list is used up.
class ScriptedInput : public ViewInput {
public:
    explicit ScriptedInput(std::vector<ViewEvent> events) : events_(events.begin(), events.end()) {}
    ViewEvent next() override;

private:
    std::deque<ViewEvent> events_;
};

// Events pushed from any thread and taken by the main thread.
class QueuedInput : public ViewInput {
public:
    void push(const ViewEvent& e);
    ViewEvent next() override;
    // Drops events no drag took (call it before a press, so a late release of the last drag is not
    // read by the next one).
    void clear();

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<ViewEvent> events_;
};

// A polygon drawn by a tool: world corners and their colours.
struct DrawnPolygon {
    int count = 0;
    Vec3 points[4];
    Vec3 colours[4];
};

class Viewport {
public:
    Viewport(Document& document, int width, int height);
    ~Viewport();
    Viewport(const Viewport&) = delete;
    Viewport& operator=(const Viewport&) = delete;

    Document& document() { return document_; }
    Camera camera;

    // Points the camera (of that projection) at the bounding box of the visible polygon objects.
    void frameDocument(int32_t projection);
    // New image size; the camera keeps its projection and framing scale.
    void resize(int width, int height);

    // --- Tool ---------------------------------------------------------------------------------
    // Makes `tool` the active tool (null: none) and opens its settings panel; false when the tool
    // gave no panel or the panel did not open (the tool is active all the same).
    bool setTool(HostToolBase* tool);
    HostToolBase* tool() const { return tool_; }
    Settings& toolSettings() { return toolSettings_; }
    // The open settings panel, or null.
    HostDialogBase* toolPanel() const { return panel_; }
    // The tool's state for the document (HOST_CMD_ENABLED when it takes input).
    bool toolEnabled();

    // --- Input --------------------------------------------------------------------------------
    // A button press at (x, y): the active tool gets the press and runs its drag, taking the
    // following events from `input`, until a Release or Cancel. False when there is no enabled tool
    // (then nothing is read from `input`).
    bool press(double x, double y, int32_t button, ViewInput& input);
    // Called after each redraw the tool asks for during a drag (the tool's drawing is then in
    // toolDrawing()). With `drawImage` the view is rendered into image() first: a whole picture per
    // step, which a front end that draws the view itself does without.
    void setFrameObserver(std::function<void(const Viewport&)> observer, bool drawImage = false) {
        observer_ = std::move(observer);
        observerDrawsImage_ = drawImage;
    }
    // How many moves of the last drag the tool took, and whether it ended cancelled.
    int movesTaken() const { return movesTaken_; }
    bool lastDragCancelled() const { return lastCancelled_; }

    // --- Drawing ------------------------------------------------------------------------------
    // Draws the document and the tool's last highlight into image() and returns it.
    const Bitmap& render();
    const Bitmap& image() const { return image_; }
    // What the tool drew at its last redraw (kept after the drag, until the next drag or clear).
    const std::vector<DrawnPolygon>& toolDrawing() const { return toolDrawing_; }
    void clearToolDrawing() { toolDrawing_.clear(); }

    // --- What the host table's view entries call ------------------------------------------------
    int32_t projection() const { return camera.projection; }
    void drawPolygon(int count, const double* points, const double* colours);
    // The drag loop of the tool.
    void dragStart(int32_t button, double x, double y);
    int32_t dragStep(double* dx, double* dy, Settings* channels);
    bool dragEnd();
    void redrawRequested(int32_t flags);

    // The viewport whose tool is in a drag (the table's drag and redraw entries go to it), or null.
    static Viewport* dragging();

private:
    void fillTriangle(const Vec3 s[3], const Vec3 c[3], double bias);
    void drawLine(const Vec3& a, const Vec3& b, const Vec3& colour, double bias);
    bool project(const Vec3& world, Vec3& screen) const;
    void drawObject(const class PolygonObject& object);
    void closePanel();

    Document& document_;
    Bitmap image_;
    std::vector<double> depth_;
    double depthBias_ = 0.0;

    HostToolBase* tool_ = nullptr;
    Settings toolSettings_;
    HostDialogBase* panel_ = nullptr;
    std::vector<DrawnPolygon> toolDrawing_;
    bool recording_ = false;

    ViewInput* input_ = nullptr;
    std::function<void(const Viewport&)> observer_;
    bool observerDrawsImage_ = false;
    double pointerX_ = 0, pointerY_ = 0;
    int32_t dragButton_ = 0;
    bool dragOpen_ = false, cancelled_ = false, lastCancelled_ = false;
    int movesTaken_ = 0;
};

// Fills the view entries of the host table and routes its drag and redraw entries to a dragging
// viewport (the dialogs' own drags go on as before).
void fillViewportApi(HostApi& api);

}  // namespace host
