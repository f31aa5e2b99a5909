// The brush in the studio's view. The page's camera becomes the host viewport's camera, a press in
// the view starts the viewport's drag loop on the main thread, and the page's pointer moves are fed
// to that loop as they come, from the HTTP threads, while the main thread is inside the drag. After
// each step the tool redraws, the studio keeps a frame (the tool's highlight and the object's mesh)
// that the page fetches without waiting for the main thread. Each drag is one undo step of the
// document (the viewport's rule).
//
// A drag whose page went away (no event for kDragTimeoutSeconds) is ended as released, so the host
// never waits for a hand that is gone.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host/Dialogs.h"
#include "host/Document.h"
#include "host/studio/StudioServer.h"
#include "host/viewport/Viewport.h"

namespace host::studio {

class StudioBrush {
public:
    static constexpr double kDragTimeoutSeconds = 10.0;

    // `tool` is the registered brush tool (null: the studio has no brush).
    // `idOf` names objects as the page knows them (main thread).
    StudioBrush(Document& document, StudioServer& server, MainTasks& tasks, HostToolBase* tool,
                std::function<int(Object*)> idOf);
    ~StudioBrush();

    void addRoutes();
    // True while the brush is the active tool of the view.
    bool active() const { return view_ && view_->tool() != nullptr; }
    bool dragging() const { return dragging_.load(); }
    // The settings panel of the active brush, or null.
    HostDialogBase* panel() const { return view_ ? view_->toolPanel() : nullptr; }

    // Main thread: the brush on or off (on opens its settings panel).
    ApiResponse setActive(bool on);

private:
    struct Frame {
        uint64_t number = 0;
        std::string highlight;  // JSON: [[x, y, z, r, g, b] per corner ...] per polygon
        std::string mesh;       // the active object's binary mesh after the step
        int objectId = 0;
    };

    ApiResponse press(const std::string& body);  // HTTP thread
    ApiResponse event(const std::string& body);  // HTTP thread
    void keepFrame();                            // main thread, inside the drag
    void watch();

    Document& doc_;
    StudioServer& server_;
    MainTasks& tasks_;
    HostToolBase* tool_;
    std::function<int(Object*)> idOf_;
    std::unique_ptr<Viewport> view_;
    QueuedInput input_;
    std::atomic<bool> dragging_{false};
    std::atomic<int64_t> lastEventMs_{0};

    std::mutex frameMutex_;
    std::condition_variable frameCv_;
    Frame frame_;

    std::atomic<bool> stop_{false};
    std::thread watcher_;
};

}  // namespace host::studio
