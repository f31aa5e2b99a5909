#include "host/studio/StudioBrush.h"

#include <cmath>
#include <vector>
#include <nlohmann/json.hpp>

#include "host/Services.h"
#include "host/studio/Studio.h"

using nlohmann::json;

namespace host::studio {
namespace {

bool finite(const json& j, const char* key, double& out) {
    auto it = j.find(key);
    if (it == j.end() || !it->is_number()) return false;
    out = it->get<double>();
    return std::isfinite(out);
}

bool vec(const json& j, const char* key, Vec3& out) {
    auto it = j.find(key);
    if (it == j.end() || !it->is_array() || it->size() != 3) return false;
    double v[3];
    for (int i = 0; i < 3; ++i) {
        if (!(*it)[i].is_number()) return false;
        v[i] = (*it)[i].get<double>();
        if (!std::isfinite(v[i])) return false;
    }
    out = {v[0], v[1], v[2]};
    return true;
}

}  // namespace

void StudioBrush::StrokeInput::push(const ViewEvent& e) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(e);
        if (e.kind == ViewEvent::Kind::Move) ++moves_;
    }
    ready_.notify_one();
}

ViewEvent StudioBrush::StrokeInput::next() {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return !events_.empty(); });
    const ViewEvent e = events_.front();
    events_.pop_front();
    if (e.kind == ViewEvent::Kind::Move) --moves_;
    return e;
}

void StudioBrush::StrokeInput::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
    moves_ = 0;
}

void StudioBrush::StrokeInput::abandon() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
        moves_ = 0;
        events_.push_back({ViewEvent::Kind::Release, 0, 0});
    }
    ready_.notify_one();
}

size_t StudioBrush::StrokeInput::pendingMoves() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return moves_;
}

StudioBrush::StudioBrush(Document& document, StudioServer& server, MainTasks& tasks, SentMeshes& sent,
                         HostToolBase* tool, std::function<int64_t(Object*)> idOf)
    : doc_(document), server_(server), tasks_(tasks), tool_(tool), idOf_(std::move(idOf)), sent_(sent) {
    watcher_ = std::thread([this] { watch(); });
}

StudioBrush::~StudioBrush() {
    stop_ = true;
    if (dragging_) input_.abandon();
    if (watcher_.joinable()) watcher_.join();
    view_.reset();  // closes the panel
}

void StudioBrush::abandon() {
    if (dragging_) input_.abandon();
}

void StudioBrush::watch() {
    while (!stop_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (dragging_ && clockMs() - lastEventMs_.load() > static_cast<int64_t>(kDragTimeoutSeconds * 1000)) {
            lastEventMs_ = clockMs();
            input_.push({ViewEvent::Kind::Release, 0, 0});
        }
        if (dragging_ && server_.stopping()) input_.abandon();
    }
}

ApiResponse StudioBrush::setActive(bool on) {
    if (!tool_) return ApiResponse::error(404, "the module registered no brush");
    if (dragging_) return ApiResponse::error(409, "a stroke is being drawn");
    if (!on) {
        view_.reset();
        return ApiResponse::json("{}");
    }
    if (!view_) {
        view_ = std::make_unique<Viewport>(doc_, 640, 480);
        view_->setFrameObserver([this](const Viewport&) { keepFrame(false); });
    }
    // The brush works on the active polygon object in an editing mode.
    if (doc_.editingMode() == MODE_OBJECT) doc_.setEditingMode(MODE_POLYGONS);
    if (!view_->tool() && !view_->setTool(tool_)) return ApiResponse::error(500, "the brush's settings panel did not open");
    if (!view_->toolEnabled()) return ApiResponse::error(409, "select one polygon object to brush");
    return ApiResponse::json("{}");
}

void StudioBrush::keepFrame(bool whole) {
    json highlight = json::array();
    for (const DrawnPolygon& p : view_->toolDrawing()) {
        json corners = json::array();
        for (int i = 0; i < p.count && i < 4; ++i)
            corners.push_back({p.points[i].x, p.points[i].y, p.points[i].z, p.colours[i].x, p.colours[i].y,
                               p.colours[i].z});
        highlight.push_back(std::move(corners));
    }
    // The whole mesh is encoded after the last step that waits, and at most every kMeshEveryMs while
    // steps follow each other: a long stroke's steps are not slowed by copies nobody fetches.
    const bool withMesh = whole || input_.pendingMoves() == 0 || clockMs() - lastMeshMs_ >= kMeshEveryMs;
    std::string mesh;
    int64_t id = 0;
    if (Object* o = doc_.activeObject(); withMesh && o && o->isPolygonObject()) {
        mesh = encodeMesh(*static_cast<PolygonObject*>(o));
        id = idOf_(o);
        lastMeshMs_ = clockMs();
    }
    {
        std::lock_guard<std::mutex> lock(frameMutex_);
        ++frame_.number;
        frame_.highlight = highlight.dump();
        if (withMesh) {
            frame_.mesh = std::move(mesh);
            frame_.objectId = id;
        }
    }
    frameCv_.notify_all();
}

ApiResponse StudioBrush::press(const std::string& body) {
    json j = json::parse(body, nullptr, false);
    double x = 0, y = 0, focal = 0, width = 0, height = 0;
    Vec3 position, right, up, forward;
    const json cam = j.is_object() && j.contains("camera") && j["camera"].is_object() ? j["camera"] : json::object();
    if (!j.is_object() || !finite(j, "x", x) || !finite(j, "y", y) || !finite(cam, "focal", focal) ||
        !finite(cam, "width", width) || !finite(cam, "height", height) || !vec(cam, "position", position) ||
        !vec(cam, "right", right) || !vec(cam, "up", up) || !vec(cam, "forward", forward))
        return ApiResponse::error(400, "a press gives x, y and the camera (position, right, up, forward, focal, width, height)");
    if (width < 16 || height < 16 || width > 8192 || height > 8192 || focal <= 0)
        return ApiResponse::error(400, "the view must be 16 to 8192 pixels a side with a positive focal length");
    if (dragging_.exchange(true)) return ApiResponse::error(409, "a stroke is already being drawn");
    input_.clear();
    lastEventMs_ = clockMs();
    const uint64_t before = [&] {
        std::lock_guard<std::mutex> lock(frameMutex_);
        return frame_.number;
    }();
    // The drag runs on the main thread and returns only at the release: the page is answered now.
    auto started = std::make_shared<std::atomic<int>>(0);
    auto job = tasks_.submit(
        [this, x, y, width, height, focal, position, right, up, forward, started] {
            if (!view_ || !view_->tool() || !view_->toolEnabled()) {
                *started = -1;
                dragging_ = false;
                frameCv_.notify_all();
                return;
            }
            view_->resize(static_cast<int>(width), static_cast<int>(height));
            Camera& c = view_->camera;
            c.projection = HOST_PROJECTION_PERSPECTIVE;
            c.width = static_cast<int>(width);
            c.height = static_cast<int>(height);
            c.position = position;
            c.right = right;
            c.up = up;
            c.forward = forward;
            c.focal = focal;
            *started = 1;
            view_->press(x, y, 1, input_);
            keepFrame(true);  // the state after the release (and the highlight cleared or kept as the tool left it)
            dragging_ = false;
            frameCv_.notify_all();
        },
        "a brush stroke");
    // Wait for the press's first frame (or its refusal), so the page sees the first collapse. A main
    // thread busy with other work does not take the press: it is withdrawn and answered busy.
    const auto deadline = std::chrono::steady_clock::now() + server_.mainThreadTimeout();
    std::unique_lock<std::mutex> lock(frameMutex_);
    for (;;) {
        frameCv_.wait_for(lock, std::chrono::milliseconds(20), [&] { return frame_.number != before || *started < 0; });
        if (frame_.number != before || *started < 0 || server_.stopping()) break;
        if (!job->started() && std::chrono::steady_clock::now() >= deadline && job->withdraw()) {
            dragging_ = false;
            lock.unlock();
            return server_.busyAnswer();
        }
        if (std::chrono::steady_clock::now() >= deadline + std::chrono::seconds(5)) break;
    }
    if (*started < 0) return ApiResponse::error(409, "the brush is not active on a polygon object");
    return ApiResponse::json(json{{"frame", frame_.number}}.dump());
}

ApiResponse StudioBrush::event(const std::string& body) {
    json j = json::parse(body, nullptr, false);
    std::string kind;
    if (j.is_object() && j.contains("kind") && j["kind"].is_string()) kind = j["kind"].get<std::string>();
    // A move gives the pointer's path since the last one: [[x, y], ...], each point one step.
    std::vector<ViewEvent> moves;
    if (kind == "move") {
        auto path = j.find("path");
        if (path == j.end() || !path->is_array() || path->empty())
            return ApiResponse::error(400, "a move gives its path: [[x, y], ...]");
        if (path->size() > kMaxPathPoints)
            return ApiResponse::error(400, "a move gives at most " + std::to_string(kMaxPathPoints) +
                                               " positions; send a longer path in parts");
        for (const json& p : *path) {
            if (!p.is_array() || p.size() != 2 || !p[0].is_number() || !p[1].is_number())
                return ApiResponse::error(400, "each point of a path is [x, y]");
            const double x = p[0].get<double>(), y = p[1].get<double>();
            if (!std::isfinite(x) || !std::isfinite(y)) return ApiResponse::error(400, "a point of the path is not finite");
            moves.push_back({ViewEvent::Kind::Move, x, y});
        }
    }
    if (kind != "move" && kind != "release" && kind != "cancel")
        return ApiResponse::error(400, "the event is move, release or cancel");
    if (!dragging_) return ApiResponse::error(409, "no stroke is being drawn");
    if (kind == "move" && input_.pendingMoves() + moves.size() > kMaxPendingMoves) {
        ApiResponse busy = ApiResponse::error(503, "the brush is still working through " +
                                                       std::to_string(input_.pendingMoves()) +
                                                       " positions; send these again in a moment");
        return busy;
    }
    lastEventMs_ = clockMs();
    uint64_t before;
    {
        std::lock_guard<std::mutex> lock(frameMutex_);
        before = frame_.number;
    }
    if (kind == "move")
        for (const ViewEvent& e : moves) input_.push(e);
    else
        input_.push({kind == "release" ? ViewEvent::Kind::Release : ViewEvent::Kind::Cancel, 0, 0});
    // Answer with the frame after this event (or after the drag ended, for a release).
    std::unique_lock<std::mutex> lock(frameMutex_);
    // A move that collapses nothing draws no new frame: wait only briefly for one.
    frameCv_.wait_for(lock, std::chrono::milliseconds(kind == "move" ? 300 : 5000),
                      [&] { return frame_.number != before || (kind != "move" && !dragging_); });
    if (kind != "move") {
        // The drag ends after the steps that wait for the main thread; a stopping server does not wait.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (dragging_.load() && !server_.stopping() && std::chrono::steady_clock::now() < deadline)
            frameCv_.wait_for(lock, std::chrono::milliseconds(100), [&] { return !dragging_.load(); });
    }
    return ApiResponse::json(
        "{\"frame\":" + std::to_string(frame_.number) + ",\"object\":" + std::to_string(frame_.objectId) +
        ",\"dragging\":" + (dragging_ ? "true" : "false") + ",\"highlight\":" + frame_.highlight + "}");
}

void StudioBrush::addRoutes() {
    server_.route("POST", "/api/brush", [this](const ApiRequest& r) {
        json j = json::parse(r.body, nullptr, false);
        if (!j.is_object() || !j.contains("on") || !j["on"].is_boolean())
            return ApiResponse::error(400, "give on: true or false");
        return setActive(j["on"].get<bool>());
    });
    server_.routeDirect("POST", "/api/brush/press", [this](const ApiRequest& r) { return press(r.body); });
    server_.routeDirect("POST", "/api/brush/event", [this](const ApiRequest& r) { return event(r.body); });
    server_.routeDirect("GET", "/api/brush/mesh", [this](const ApiRequest& r) {
        std::string mesh;
        int64_t id = 0;
        {
            std::lock_guard<std::mutex> lock(frameMutex_);
            if (frame_.mesh.empty()) return ApiResponse::error(404, "no stroke has been drawn");
            mesh = frame_.mesh;
            id = frame_.objectId;
        }
        // With `base`, as /api/mesh: the changes since the copy the page holds.
        return sent_.respond(r, id, std::move(mesh));
    });
}

}  // namespace host::studio
