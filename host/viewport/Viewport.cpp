#include "host/viewport/Viewport.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include "host/Dialogs.h"
#include "host/HostHandles.h"
#include "host/Memory.h"
#include "host/Object.h"

namespace host {
namespace {

std::atomic<Viewport*> gDragging{nullptr};

constexpr Vec3 kBackground{0.23, 0.24, 0.26};
constexpr Vec3 kSurface{0.78, 0.78, 0.80};
// Share of the scene's size by which edges and tool drawings may lie behind the surface they show on.
constexpr double kOverlayBias = 2e-3;

double dot3(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 sub3(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 cross3(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3 unit3(const Vec3& v) {
    const double l = std::sqrt(dot3(v, v));
    return l > 0 ? v * (1.0 / l) : Vec3{};
}

uint8_t channel8(double v) {
    if (!(v > 0)) return 0;
    if (v >= 1) return 255;
    return static_cast<uint8_t>(std::lround(v * 255.0));
}

// Bounding box of the points of the visible polygon objects, in world coordinates.
bool sceneBox(const Document& doc, Vec3& lo, Vec3& hi) {
    bool any = false;
    for (Object* o : doc.allObjects()) {
        if (!o->isPolygonObject() || !o->visible) continue;
        const auto* p = static_cast<const PolygonObject*>(o);
        const Matrix m = o->globalMatrix();
        for (const Vec3f& v : p->points) {
            const Vec3 w = m.apply(Vec3{v.x, v.y, v.z});
            if (!std::isfinite(w.x) || !std::isfinite(w.y) || !std::isfinite(w.z)) continue;
            if (!any) {
                lo = hi = w;
                any = true;
                continue;
            }
            lo = {std::min(lo.x, w.x), std::min(lo.y, w.y), std::min(lo.z, w.z)};
            hi = {std::max(hi.x, w.x), std::max(hi.y, w.y), std::max(hi.z, w.z)};
        }
    }
    return any;
}

}  // namespace

ViewEvent ScriptedInput::next() {
    if (events_.empty()) return ViewEvent{ViewEvent::Kind::Release, 0, 0};
    const ViewEvent e = events_.front();
    events_.pop_front();
    return e;
}

void QueuedInput::push(const ViewEvent& e) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(e);
    }
    ready_.notify_one();
}

ViewEvent QueuedInput::next() {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return !events_.empty(); });
    const ViewEvent e = events_.front();
    events_.pop_front();
    return e;
}

void QueuedInput::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

Viewport::Viewport(Document& document, int width, int height) : document_(document) {
    camera.width = std::max(width, 1);
    camera.height = std::max(height, 1);
}

Viewport::~Viewport() {
    closePanel();
    Viewport* self = this;
    gDragging.compare_exchange_strong(self, nullptr);
}

Viewport* Viewport::dragging() { return gDragging.load(); }

void Viewport::frameDocument(int32_t projection) {
    Vec3 lo{-1, -1, -1}, hi{1, 1, 1};
    sceneBox(document_, lo, hi);
    camera = Camera::framing(projection, lo, hi, camera.width, camera.height);
}

void Viewport::resize(int width, int height) {
    camera.width = std::max(width, 1);
    camera.height = std::max(height, 1);
}

// ---- tool -----------------------------------------------------------------------------------

void Viewport::closePanel() {
    if (panel_ == nullptr) return;
    DialogHost::main().closeByModule(panel_);
    // The panel is the module's, made in host memory: destroy it, then give its block back.
    panel_->~HostDialogBase();
    memory::release(panel_);
    panel_ = nullptr;
}

bool Viewport::setTool(HostToolBase* tool) {
    closePanel();
    tool_ = tool;
    if (tool_ == nullptr) return true;
    panel_ = tool_->createSettingsPanel(wrapSettings(toolSettings_));
    if (panel_ == nullptr) return false;
    if (!DialogHost::main().open(panel_, 0)) {
        panel_->~HostDialogBase();
        memory::release(panel_);
        panel_ = nullptr;
        return false;
    }
    return true;
}

bool Viewport::toolEnabled() {
    return tool_ != nullptr && (tool_->state(toHandle(&document_)) & HOST_CMD_ENABLED) != 0;
}

// ---- input ----------------------------------------------------------------------------------

bool Viewport::press(double x, double y, int32_t button, ViewInput& input) {
    if (!toolEnabled()) return false;
    Viewport* none = nullptr;
    if (!gDragging.compare_exchange_strong(none, this)) return false;  // another view is in a drag
    input_ = &input;
    pointerX_ = x;
    pointerY_ = y;
    dragButton_ = button;
    dragOpen_ = false;
    cancelled_ = false;
    movesTaken_ = 0;
    toolDrawing_.clear();
    Settings msg;
    msg.setInt(HOST_MSG_ID, HOST_MSGKIND_INPUT);
    msg.setInt(HOST_MSG_CHANNEL, button);
    msg.setReal(HOST_MSG_MOUSE_X, x);
    msg.setReal(HOST_MSG_MOUSE_Y, y);
    tool_->mouseInput(toHandle(&document_), wrapSettings(toolSettings_), this, nullptr, wrapSettings(msg));
    lastCancelled_ = cancelled_;
    input_ = nullptr;
    dragOpen_ = false;
    gDragging.store(nullptr);
    return true;
}

void Viewport::dragStart(int32_t button, double x, double y) {
    dragOpen_ = true;
    cancelled_ = false;
    dragButton_ = button;
    pointerX_ = x;
    pointerY_ = y;
}

int32_t Viewport::dragStep(double* dx, double* dy, Settings* channels) {
    double mx = 0, my = 0;
    int32_t answer = DLG_DRAG_RELEASED;
    if (dragOpen_ && input_ != nullptr) {
        const ViewEvent e = input_->next();
        switch (e.kind) {
            case ViewEvent::Kind::Move:
                mx = e.x - pointerX_;
                my = e.y - pointerY_;
                pointerX_ = e.x;
                pointerY_ = e.y;
                ++movesTaken_;
                answer = DLG_DRAG_CONTINUE;
                break;
            case ViewEvent::Kind::Release: dragOpen_ = false; break;
            case ViewEvent::Kind::Cancel:
                dragOpen_ = false;
                cancelled_ = true;
                answer = DLG_DRAG_CANCELLED;
                break;
        }
    }
    if (dx) *dx = mx;
    if (dy) *dy = my;
    if (channels) {
        channels->setInt(HOST_MSG_CHANNEL, dragButton_);
        channels->setReal(HOST_MSG_MOUSE_X, pointerX_);
        channels->setReal(HOST_MSG_MOUSE_Y, pointerY_);
    }
    return answer;
}

bool Viewport::dragEnd() {
    dragOpen_ = false;
    return cancelled_;
}

void Viewport::redrawRequested(int32_t /*flags*/) {
    toolDrawing_.clear();
    if (tool_ != nullptr) tool_->draw(toHandle(&document_), wrapSettings(toolSettings_), this, 0);
    if (observer_) {
        if (observerDrawsImage_) render();
        observer_(*this);
    }
}

void Viewport::drawPolygon(int count, const double* points, const double* colours) {
    if (count < 3 || count > 4 || points == nullptr || colours == nullptr) return;
    DrawnPolygon p;
    p.count = count;
    for (int k = 0; k < count; ++k) {
        p.points[k] = {points[3 * k], points[3 * k + 1], points[3 * k + 2]};
        p.colours[k] = {colours[3 * k], colours[3 * k + 1], colours[3 * k + 2]};
    }
    toolDrawing_.push_back(p);
}

// ---- drawing --------------------------------------------------------------------------------

bool Viewport::project(const Vec3& world, Vec3& screen) const {
    return camera.worldToScreen(world, screen.x, screen.y, screen.z);
}

void Viewport::fillTriangle(const Vec3 s[3], const Vec3 c[3], double bias) {
    const double area = (s[1].x - s[0].x) * (s[2].y - s[0].y) - (s[1].y - s[0].y) * (s[2].x - s[0].x);
    if (area == 0 || !std::isfinite(area)) return;
    const int w = image_.width(), h = image_.height();
    const double minX = std::min({s[0].x, s[1].x, s[2].x}), maxX = std::max({s[0].x, s[1].x, s[2].x});
    const double minY = std::min({s[0].y, s[1].y, s[2].y}), maxY = std::max({s[0].y, s[1].y, s[2].y});
    const int x0 = std::max(0, static_cast<int>(std::floor(minX))), x1 = std::min(w - 1, static_cast<int>(std::ceil(maxX)));
    const int y0 = std::max(0, static_cast<int>(std::floor(minY))), y1 = std::min(h - 1, static_cast<int>(std::ceil(maxY)));
    const bool perspective = camera.isPerspective();
    auto edge = [](const Vec3& a, const Vec3& b, double px, double py) {
        return (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x);
    };
    for (int py = y0; py <= y1; ++py) {
        const double cy = py + 0.5;
        for (int px = x0; px <= x1; ++px) {
            const double cx = px + 0.5;
            const double l0 = edge(s[1], s[2], cx, cy) / area;
            const double l1 = edge(s[2], s[0], cx, cy) / area;
            const double l2 = edge(s[0], s[1], cx, cy) / area;
            if (l0 < 0 || l1 < 0 || l2 < 0) continue;
            const double z = perspective ? 1.0 / (l0 / s[0].z + l1 / s[1].z + l2 / s[2].z)
                                         : l0 * s[0].z + l1 * s[1].z + l2 * s[2].z;
            double& stored = depth_[static_cast<size_t>(py) * w + px];
            if (bias > 0 ? !(z <= stored + bias) : !(z < stored)) continue;
            if (bias == 0) stored = z;
            image_.setPixel(px, py, channel8(l0 * c[0].x + l1 * c[1].x + l2 * c[2].x),
                            channel8(l0 * c[0].y + l1 * c[1].y + l2 * c[2].y),
                            channel8(l0 * c[0].z + l1 * c[1].z + l2 * c[2].z));
        }
    }
}

void Viewport::drawLine(const Vec3& a, const Vec3& b, const Vec3& colour, double bias) {
    const int w = image_.width(), h = image_.height();
    const double steps = std::ceil(std::max(std::fabs(b.x - a.x), std::fabs(b.y - a.y)));
    if (!std::isfinite(steps) || steps > 4.0 * (w + h)) return;
    const int n = static_cast<int>(steps);
    const bool perspective = camera.isPerspective();
    for (int i = 0; i <= n; ++i) {
        const double t = n == 0 ? 0.0 : static_cast<double>(i) / n;
        const int px = static_cast<int>(std::floor(a.x + (b.x - a.x) * t));
        const int py = static_cast<int>(std::floor(a.y + (b.y - a.y) * t));
        if (px < 0 || py < 0 || px >= w || py >= h) continue;
        const double z = perspective ? 1.0 / ((1 - t) / a.z + t / b.z) : a.z + (b.z - a.z) * t;
        if (!(z <= depth_[static_cast<size_t>(py) * w + px] + bias)) continue;
        image_.setPixel(px, py, channel8(colour.x), channel8(colour.y), channel8(colour.z));
    }
}

void Viewport::drawObject(const PolygonObject& object) {
    const Matrix m = object.globalMatrix();
    const int pointCount = object.pointCount();
    std::vector<Vec3> world(pointCount);
    for (int i = 0; i < pointCount; ++i) {
        const Vec3f& v = object.points[i];
        world[i] = m.apply(Vec3{v.x, v.y, v.z});
    }
    for (int i = 0; i < object.polygonCount(); ++i) {
        const Polygon& p = object.polygons[i];
        if (p.a == p.b || object.hiddenPolygons.isSelected(i)) continue;
        const int corners[4] = {p.a, p.b, p.c, p.d};
        const int n = p.isTriangle() ? 3 : 4;
        bool usable = true;
        Vec3 w[4], s[4];
        for (int k = 0; k < n && usable; ++k) {
            usable = corners[k] >= 0 && corners[k] < pointCount;
            if (usable) {
                w[k] = world[corners[k]];
                usable = project(w[k], s[k]);
            }
        }
        if (!usable) continue;
        const Vec3 normal = unit3(n == 3 ? cross3(sub3(w[1], w[0]), sub3(w[2], w[0]))
                                         : cross3(sub3(w[1], w[3]), sub3(w[2], w[0])));
        Vec3 centroid;
        for (int k = 0; k < n; ++k) centroid = centroid + w[k] * (1.0 / n);
        const Vec3 towards = camera.isPerspective() ? unit3(sub3(centroid, camera.position)) : camera.forward;
        const double light = 0.2 + 0.75 * std::fabs(dot3(normal, towards));
        const Vec3 colour = kSurface * light;
        const Vec3 colours[3] = {colour, colour, colour};
        const Vec3 first[3] = {s[0], s[1], s[2]};
        fillTriangle(first, colours, 0.0);
        if (n == 4) {
            const Vec3 second[3] = {s[0], s[2], s[3]};
            fillTriangle(second, colours, 0.0);
        }
    }
    // Edges over the surface, darker.
    for (int i = 0; i < object.polygonCount(); ++i) {
        const Polygon& p = object.polygons[i];
        if (p.a == p.b || object.hiddenPolygons.isSelected(i)) continue;
        const int corners[4] = {p.a, p.b, p.c, p.d};
        const int n = p.isTriangle() ? 3 : 4;
        Vec3 s[4];
        bool usable = true;
        for (int k = 0; k < n && usable; ++k)
            usable = corners[k] >= 0 && corners[k] < pointCount && project(world[corners[k]], s[k]);
        if (!usable) continue;
        for (int k = 0; k < n; ++k) drawLine(s[k], s[(k + 1) % n], kSurface * 0.3, depthBias_);
    }
}

const Bitmap& Viewport::render() {
    const int w = camera.width, h = camera.height;
    if (image_.width() != w || image_.height() != h || image_.channels() != 3) image_.init(w, h, 3, 8);
    const uint8_t bg[3] = {channel8(kBackground.x), channel8(kBackground.y), channel8(kBackground.z)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image_.setPixel(x, y, bg[0], bg[1], bg[2]);
    depth_.assign(static_cast<size_t>(w) * h, std::numeric_limits<double>::infinity());

    Vec3 lo, hi;
    double size = 1.0;
    if (sceneBox(document_, lo, hi)) size = std::sqrt(dot3(sub3(hi, lo), sub3(hi, lo)));
    if (!(size > 0) || !std::isfinite(size)) size = 1.0;
    depthBias_ = kOverlayBias * size;

    for (Object* o : document_.allObjects())
        if (o->isPolygonObject() && o->visible) drawObject(*static_cast<const PolygonObject*>(o));

    for (const DrawnPolygon& p : toolDrawing_) {
        Vec3 s[4];
        bool usable = true;
        for (int k = 0; k < p.count && usable; ++k) usable = project(p.points[k], s[k]);
        if (!usable) continue;
        const Vec3 first[3] = {s[0], s[1], s[2]};
        const Vec3 firstColours[3] = {p.colours[0], p.colours[1], p.colours[2]};
        fillTriangle(first, firstColours, depthBias_);
        if (p.count == 4) {
            const Vec3 second[3] = {s[0], s[2], s[3]};
            const Vec3 secondColours[3] = {p.colours[0], p.colours[2], p.colours[3]};
            fillTriangle(second, secondColours, depthBias_);
        }
    }
    return image_;
}

// ---- host table -----------------------------------------------------------------------------
namespace {

// The dialogs' drag and redraw entries, used while no viewport is in a drag.
int32_t (*gDialogDragStart)(int32_t, double, double, int32_t) = nullptr;
int32_t (*gDialogDrag)(double*, double*, HstSettings*) = nullptr;
int32_t (*gDialogDragEnd)() = nullptr;
void (*gRedraw)(int32_t) = nullptr;

Viewport* asViewport(void* view) { return static_cast<Viewport*>(view); }

int32_t viewProjection(void* view) { return view ? asViewport(view)->projection() : HOST_PROJECTION_PERSPECTIVE; }
int32_t viewScreenToWorld(void* view, double x, double y, double depth, double out[3]) {
    if (!view || !out) return 0;
    const Camera& camera = asViewport(view)->camera;
    // Positions off the view show nothing: there is nothing under them to convert.
    if (!(x >= 0 && y >= 0 && x <= camera.width && y <= camera.height)) return 0;
    const Vec3 p = camera.screenToWorld(x, y, depth);
    out[0] = p.x;
    out[1] = p.y;
    out[2] = p.z;
    return 1;
}
void viewDrawPolygon(void* view, int32_t count, const double* points, const double* colours) {
    if (view) asViewport(view)->drawPolygon(count, points, colours);
}
void eventAdd(int32_t /*flags*/) {}

int32_t dragStart(int32_t button, double x, double y, int32_t flags) {
    if (Viewport* v = Viewport::dragging()) {
        v->dragStart(button, x, y);
        return 1;
    }
    return gDialogDragStart ? gDialogDragStart(button, x, y, flags) : 0;
}
int32_t dragStep(double* dx, double* dy, HstSettings* channels) {
    if (Viewport* v = Viewport::dragging()) return v->dragStep(dx, dy, channels ? &asSettings(channels) : nullptr);
    return gDialogDrag ? gDialogDrag(dx, dy, channels) : DLG_DRAG_RELEASED;
}
int32_t dragEnd() {
    if (Viewport* v = Viewport::dragging()) return v->dragEnd() ? 1 : 0;
    return gDialogDragEnd ? gDialogDragEnd() : 0;
}
void redraw(int32_t flags) {
    if (gRedraw) gRedraw(flags);
    if (Viewport* v = Viewport::dragging()) v->redrawRequested(flags);
}

}  // namespace

void fillViewportApi(HostApi& api) {
    if (api.mouseDragStart != dragStart) gDialogDragStart = api.mouseDragStart;
    if (api.mouseDrag != dragStep) gDialogDrag = api.mouseDrag;
    if (api.mouseDragEnd != dragEnd) gDialogDragEnd = api.mouseDragEnd;
    if (api.viewsRedraw != redraw) gRedraw = api.viewsRedraw;
    api.mouseDragStart = dragStart;
    api.mouseDrag = dragStep;
    api.mouseDragEnd = dragEnd;
    api.viewsRedraw = redraw;
    api.viewProjection = viewProjection;
    api.viewScreenToWorld = viewScreenToWorld;
    api.viewDrawPolygon = viewDrawPolygon;
    api.eventAdd = eventAdd;
}

}  // namespace host
