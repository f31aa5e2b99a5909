// The brush in the studio's view. The page's camera becomes the host viewport's camera, a press in
// the view starts the viewport's drag loop on the main thread, and the page's pointer moves are fed
// to that loop as they come, from the HTTP threads, while the main thread is inside the drag. After
// each step the tool redraws, the studio keeps a frame (the tool's highlight and the object's mesh)
// that the page fetches without waiting for the main thread. Each drag is one undo step of the
// document (the viewport's rule).
//
// A drag whose page went away (no event for kDragTimeoutSeconds) is ended as released, so the host
// never waits for a hand that is gone.
//
// Bounds, so that a stroke never holds the main thread for long: a move event gives at most
// kMaxPathPoints positions, and while kMaxPendingMoves positions wait for the main thread further
// moves are answered 503 (the page sends its next part only after the answer to the last). A press
// that the main thread does not take up within the server's main-thread timeout is answered 503.
// abandon() (Ctrl-C) drops the waiting positions and ends the drag as released.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host/Dialogs.h"
#include "host/Document.h"
#include "host/studio/MeshChanges.h"
#include "host/studio/StudioServer.h"
#include "host/viewport/Viewport.h"

namespace host::studio {

class StudioBrush {
public:
    static constexpr double kDragTimeoutSeconds = 10.0;
    static constexpr size_t kMaxPathPoints = 500;
    static constexpr size_t kMaxPendingMoves = 500;

    // `tool` is the registered brush tool (null: the studio has no brush).
    // `idOf` names objects as the page knows them (main thread). A stroke's meshes go as changes to
    // the copies in `sent` (the document's, shared with its mesh route).
    StudioBrush(Document& document, StudioServer& server, MainTasks& tasks, SentMeshes& sent, HostToolBase* tool,
                std::function<int64_t(Object*)> idOf);
    ~StudioBrush();

    void addRoutes();
    // True while the brush is the active tool of the view.
    bool active() const { return view_ && view_->tool() != nullptr; }
    bool dragging() const { return dragging_.load(); }
    // The settings panel of the active brush, or null.
    HostDialogBase* panel() const { return view_ ? view_->toolPanel() : nullptr; }

    // Main thread: the brush on or off (on opens its settings panel).
    ApiResponse setActive(bool on);
    // Any thread: ends a drag under way as soon as the step in hand is done (its waiting positions
    // are dropped). For Ctrl-C.
    void abandon();

    // The page's calls (HTTP threads), also used by tests.
    ApiResponse press(const std::string& body);
    ApiResponse event(const std::string& body);

private:
    struct Frame {
        uint64_t number = 0;
        std::string highlight;  // JSON: [[x, y, z, r, g, b] per corner ...] per polygon
        std::string mesh;       // the active object's binary mesh after the step
        int64_t objectId = 0;
    };

    // Main thread, inside the drag: the frame after a step (with the whole mesh when `whole`).
    void keepFrame(bool whole);
    static constexpr int64_t kMeshEveryMs = 100;
    int64_t lastMeshMs_ = 0;
    void watch();

    Document& doc_;
    StudioServer& server_;
    MainTasks& tasks_;
    HostToolBase* tool_;
    std::function<int64_t(Object*)> idOf_;
    SentMeshes& sent_;
    std::unique_ptr<Viewport> view_;
    // The page's events for the drag loop (pushed by HTTP threads, taken by the main thread).
    class StrokeInput : public ViewInput {
    public:
        void push(const ViewEvent& e);
        ViewEvent next() override;
        // Drops every waiting event.
        void clear();
        // Drops the waiting moves and ends the drag as released.
        void abandon();
        size_t pendingMoves() const;

    private:
        mutable std::mutex mutex_;
        std::condition_variable ready_;
        std::deque<ViewEvent> events_;
        size_t moves_ = 0;
    };
    StrokeInput input_;
    std::atomic<bool> dragging_{false};
    std::atomic<int64_t> lastEventMs_{0};

    std::mutex frameMutex_;
    std::condition_variable frameCv_;
    Frame frame_;

    std::atomic<bool> stop_{false};
    std::thread watcher_;
};

}  // namespace host::studio
