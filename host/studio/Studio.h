// The studio: the host's document and dialogs as the page sees them. It answers the page's interface
// calls (on the main thread, through StudioServer) and notices changes so that every open page is
// told to fetch the state again.
//
// The state (GET /api/state) is one JSON object: the document (path, editing mode, undo and redo
// depth), the objects (tree, visibility, selection, counts, tags, a mesh version that changes when
// the geometry does), the open dialogs with every gadget as the host keeps it, the status bar, and
// what the host is busy with. Meshes come separately and in binary (GET /api/mesh?id=N) when their
// version changed.
//
// While a worker thread edits the objects (a reduction pass), the geometry is neither read nor
// changed: counts come from the last look, mesh, undo, redo, open and save are answered 409.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "host/Dialogs.h"
#include "host/Document.h"
#include "host/studio/BackgroundRead.h"
#include "host/studio/MeshChanges.h"
#include "host/studio/StudioEncoding.h"
#include "host/studio/StudioServer.h"

namespace host::studio {

// What the front end lends the studio.
struct StudioHooks {
    // Runs a command plug-in as its menu entry would; the dialog it opened, or null with `error`.
    std::function<HostDialogBase*(int32_t pluginId, std::string* error)> openCommand;
    // Reads a mesh file into a document of its own; runs on a thread of its own (BackgroundRead).
    BackgroundRead::Reader readFile;
    // Writes polygon objects to a mesh file (the format by the path); OBJ when not given.
    std::function<bool(const std::string& path, const std::vector<const Object*>& objects, std::string* error)>
        writeFile;
    // What the host is busy with ("" when idle): while a worker edits the objects, geometry is left alone.
    std::function<std::string()> busy;
    // True while a dialog holds a preview that a change of the objects would break.
    std::function<bool()> previewOpen;
    // Command dialogs that collect the selected objects when they open: closed before the objects
    // change under them (undo, redo, a new selection) and opened again after.
    std::vector<int32_t> collectingDialogs;
    // The view's tool as the page sees it (a JSON object), or empty when the host has no tool.
    std::function<std::string()> toolState;
};

// A bake saved as a glTF asset: the baked object (by its id), the dialog (by plug-in id) and its
// file gadgets that name the maps (0: no occlusion map), the green convention of the normal map,
// and the file to write (.glb or .gltf).
struct AssetRequest {
    std::string path;
    int64_t object = 0;
    int32_t plugin = 0;
    int32_t normalGadget = 0;
    int32_t occlusionGadget = 0;
    bool greenDown = false;
};
// The file that keeps unsaved work when the host ends without a save: beside the document, its
// name with ".recovery.obj" for its suffix ("untitled.recovery.obj" in the working folder when the
// document has no file).
std::string recoveryPathFor(const std::string& documentPath);

class Studio {
public:
    Studio(Document& document, DialogHost& dialogs, StudioServer& server, StudioHooks hooks);
    ~Studio();
    Studio(const Studio&) = delete;
    Studio& operator=(const Studio&) = delete;

    // Registers every interface route on the server.
    void addRoutes();
    // Looks at the document and the dialogs; when anything the page shows changed, the state gets a
    // new version and the pages are told. Main thread only.
    void refresh();

    uint64_t version() const { return version_; }
    // Whether the document's content (points, polygons, UVs of its objects) differs from what was
    // last opened or saved; the selection, visibility and the view do not count.
    bool unsaved() const { return contentKnown_ && contentHash_ != savedHash_; }
    // Writes what the view shows to the recovery file beside the document (recoveryPathFor); its
    // whole path, or "" with `error`.
    std::string writeRecovery(std::string* error);
    // The current state as served (with its version).
    std::string stateJson() const;
    // The id the page knows an object by (stable while the object lives); 0 for null. Ids are whole
    // 64-bit numbers and are never cut: an id the page sends that names no object is refused.
    int64_t idOf(Object* object);
    Object* objectById(int64_t id) const;
    // The folder whose files the file picker lists (the working folder the host started in).
    void setStartFolder(std::string folder) { startFolder_ = std::move(folder); }
    // The id the next new object gets (tests: ids beyond 32 bits).
    void startIdsAt(int64_t next) { nextId_ = next; }

    // The page's operations, also used by tests. Each answers like the interface does.
    ApiResponse select(const std::vector<int64_t>& ids);
    // Makes the polygons of a polygon-selection tag (an OBJ group) the object's polygon selection, in
    // the polygon editing mode.
    ApiResponse selectGroup(int64_t objectId, int64_t tagIndex);
    ApiResponse undo();
    ApiResponse redo();
    // Opens a mesh file: its objects join the document and become the selection. A file read within
    // a moment is answered as such; a longer read goes on while the host answers other calls and the
    // answer is 202 {"opening"}: the state names the file while it is read, and its outcome after.
    ApiResponse open(const std::string& path);
    // Stops waiting for the file being opened: nothing of it joins the document.
    ApiResponse stopOpening();
    // How long open() waits for a read before it answers 202 (tests: 0, to take the long road).
    void setOpenWait(std::chrono::milliseconds wait) { openWait_ = wait; }
    // The meshes last sent to the page, which the brush's strokes share.
    SentMeshes& sentMeshes() { return sentMeshes_; }
    ApiResponse save(const std::string& path);
    ApiResponse saveAsset(const AssetRequest& request);

private:
    struct Summary {
        int points = 0, polygons = 0, triangles = 0, quads = 0;
        uint64_t hash = 0;
        int meshVersion = 0;
    };
    struct RedoStep {
        std::vector<std::pair<Object*, std::unique_ptr<Object>>> states;
    };

    // The host's status bar as the page shows it: {"line", "percent"} (in the state, and on its own
    // while the main thread is held).
    static nlohmann::json statusBar();
    void look();
    std::string buildState() const;
    HostDialogBase* dialogOf(const std::string& body, int32_t* plugin, ApiResponse* error) const;
    ApiResponse dialogCall(const std::string& body);
    ApiResponse areaPng(const std::map<std::string, std::string>& query);
    ApiResponse mapPng(const std::map<std::string, std::string>& query);
    // Closes the collecting dialogs that are open, runs `change`, and opens them again.
    ApiResponse aroundObjects(const std::function<ApiResponse()>& change);
    bool alive(Object* o) const;
    // The read of open() once done: its objects join the document (or its error is answered).
    ApiResponse finishOpening();

    Document& doc_;
    DialogHost& dialogs_;
    StudioServer& server_;
    StudioHooks hooks_;
    std::map<Object*, int64_t> ids_;
    std::map<int64_t, Object*> objects_;
    int64_t nextId_ = 1;
    std::map<Object*, Summary> summaries_;
    std::vector<RedoStep> redo_;
    int undoDepthAfterUndo_ = -1;
    std::string busy_;
    std::string notice_;
    // The last mesh sent of each object, so that the next one goes as its changes.
    SentMeshes sentMeshes_;
    // How each plug-in's last run ended, from its end message (the value, and how many have come):
    // what the page decides on, never the status line's words.
    struct Ending {
        int32_t outcome = 0;
        int32_t count = 0;
    };
    std::map<int32_t, Ending> endings_;
    std::string state_;
    uint64_t version_ = 0;
    // The content as last looked at and as last opened or saved; `rebaseline_`: the next look takes
    // the content as saved (after a save, or an open into a document with nothing unsaved).
    std::string startFolder_;
    // The file being opened, whether the content counted as saved when it started, and the last
    // open that ended while no call waited for it (shown in the state until the next one).
    std::unique_ptr<BackgroundRead> reading_;
    bool savedBeforeReading_ = false;
    std::chrono::milliseconds openWait_{400};
    std::string opened_;  // JSON: {"serial", "path", and "loaded" ids, "error" or "stopped"}
    int openSerial_ = 0;
    uint64_t contentHash_ = 0, savedHash_ = 0;
    bool contentKnown_ = false, rebaseline_ = false;
};

}  // namespace host::studio
