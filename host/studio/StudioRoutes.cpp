// The page's interface: each route reads and checks its request, then calls the studio's operation.
#include <cmath>
#include <nlohmann/json.hpp>

#include "host/studio/Studio.h"
#include "host/studio/StudioFiles.h"
#include "host/studio/StudioRequest.h"

using nlohmann::json;

namespace host::studio {
namespace {

// The most moves one drag call of a dialog's user area gives.
constexpr size_t kMaxDragMoves = 1000;

}  // namespace

HostDialogBase* Studio::dialogOf(const std::string& body, int32_t* plugin, ApiResponse* error) const {
    json j = parseBody(body);
    int32_t p = 0;
    if (j.is_discarded() || !readInt32(j, "plugin", p)) {
        *error = ApiResponse::error(400, "the request names no dialog (\"plugin\": its plug-in id, a 32-bit number)");
        return nullptr;
    }
    HostDialogBase* d = dialogs_.dialogOf(p);
    if (!d) *error = ApiResponse::error(404, "no dialog of plug-in " + std::to_string(p) + " is open");
    *plugin = p;
    return d;
}

ApiResponse Studio::dialogCall(const std::string& body) {
    ApiResponse failure;
    int32_t plugin = 0;
    HostDialogBase* d = dialogOf(body, &plugin, &failure);
    if (!d) return failure;
    const json j = parseBody(body);
    std::string action;
    if (!readText(j, "action", action)) return ApiResponse::error(400, "the action is a text");
    int32_t id = 0;
    if (action == "close") {
        return dialogs_.close(d) ? ApiResponse::json("{}") : ApiResponse::error(409, "the dialog stays open");
    }
    if (!readInt32(j, "gadget", id)) return ApiResponse::error(400, "the request names no gadget (a 32-bit number)");
    const Gadget* g = dialogs_.gadget(d, id);
    if (!g) return ApiResponse::error(404, "the dialog has no gadget " + std::to_string(id));

    if (action == "set") {
        auto v = j.find("value");
        if (v == j.end()) return ApiResponse::error(400, "the request gives no value");
        bool ok = false;
        if (isChoiceKind(g->kind) && v->is_number_integer()) {
            int32_t entry = 0;
            if (!readInt32(j, "value", entry)) return ApiResponse::error(404, "the choice has no such entry");
            ok = dialogs_.choose(d, id, entry);
        } else if (v->is_string() && g->kind == GadgetKind::Filename) {
            const std::string file = v->get<std::string>();
            if (const std::string why = pathProblem(file); !why.empty() && !file.empty())
                return ApiResponse::error(400, "the file name is refused: " + why);
            ok = dialogs_.enter(d, id, file);
        } else if (v->is_boolean()) {
            ok = dialogs_.setByUser(d, id, v->get<bool>());
        } else if (v->is_number()) {
            ok = dialogs_.setByUser(d, id, v->get<double>());
        } else if (v->is_string()) {
            ok = dialogs_.enter(d, id, v->get<std::string>());
        } else {
            return ApiResponse::error(400, "the value must be a number, a check mark or a text");
        }
        return ok ? ApiResponse::json("{}") : ApiResponse::error(409, "the gadget did not take the value");
    }
    if (action == "press") {
        const size_t asked = dialogs_.fileRequests().size();
        if (auto f = j.find("file"); f != j.end()) {
            if (!f->is_string()) return ApiResponse::error(400, "the file answered is a text");
            if (const std::string why = pathProblem(f->get<std::string>()); !why.empty())
                return ApiResponse::error(400, "the file answered is refused: " + why);
            dialogs_.queueFileAnswer(f->get<std::string>());
        }
        if (!dialogs_.press(d, id)) return ApiResponse::error(409, "the button cannot be pressed now");
        json out = json::object();
        // The dialog asked for a file that the page did not give yet: the page asks the person and
        // presses again with the answer.
        if (dialogs_.fileRequests().size() > asked && !j.contains("file")) {
            const FileRequest& r = dialogs_.fileRequests().back();
            out["fileRequest"] = {{"forSave", r.forSave}, {"title", r.title}, {"proposed", r.proposed}};
        }
        return ApiResponse::json(out.dump());
    }
    if (action == "drag") {
        double x = 0.0, y = 0.0;
        for (auto [key, slot] : {std::pair<const char*, double*>{"x", &x}, {"y", &y}})
            if (auto v = j.find(key); v != j.end()) {
                if (!v->is_number() || !std::isfinite(v->get<double>()))
                    return ApiResponse::error(400, std::string("the drag's ") + key + " is not a finite number");
                *slot = v->get<double>();
            }
        std::vector<DragMove> moves;
        auto m = j.find("moves");
        if (m == j.end() || !m->is_array()) return ApiResponse::error(400, "a drag needs its moves ([[dx, dy], ...])");
        // A hand sends a few moves at a time: a long list would hold the main thread.
        if (m->size() > kMaxDragMoves)
            return ApiResponse::error(400,
                                      "a drag gives at most " + std::to_string(kMaxDragMoves) + " moves at a time");
        for (const json& step : *m) {
            if (!step.is_array() || step.size() != 2 || !step[0].is_number() || !step[1].is_number() ||
                !std::isfinite(step[0].get<double>()) || !std::isfinite(step[1].get<double>()))
                return ApiResponse::error(400, "each move is [dx, dy] in finite numbers");
            moves.push_back({step[0].get<double>(), step[1].get<double>()});
        }
        const AreaDragResult r = dialogs_.dragUserArea(d, id, 1, x, y, moves);
        if (!r.delivered) return ApiResponse::error(409, "the area cannot be dragged now");
        return ApiResponse::json(json{{"moves", r.movesUsed}}.dump());
    }
    if (action == "drop") {
        int64_t objectId = 0;
        if (!readInt(j, "object", objectId)) return ApiResponse::error(400, "a drop names the object dragged");
        Object* o = objectById(objectId);
        if (!alive(o)) return ApiResponse::error(404, "no object " + std::to_string(objectId));
        DragItem item = DragItem::object(o);
        int64_t tagIndex = -1;
        if (readInt(j, "tag", tagIndex)) {
            if (tagIndex < 0 || tagIndex >= static_cast<int64_t>(o->tags().size()))
                return ApiResponse::error(404, "the object has no tag " + std::to_string(tagIndex));
            item = DragItem::tag(o->tags()[static_cast<size_t>(tagIndex)].get());
        }
        const DropResult r = dialogs_.drop(d, id, {item}, true);
        if (!r.delivered) return ApiResponse::error(409, "the drop area takes nothing now");
        // Cursor 19 is the host's "will take it" cursor; anything else refused the payload.
        return ApiResponse::json(json{{"accepted", r.cursor == 19}, {"cursor", r.cursor}}.dump());
    }
    return ApiResponse::error(400, "unknown dialog action \"" + action + "\"");
}

ApiResponse Studio::areaPng(const std::map<std::string, std::string>& query) {
    const int64_t plugin = queryNumber(query, "plugin", INT32_MAX), gadget = queryNumber(query, "gadget", INT32_MAX);
    if (plugin < 0 || gadget < 0) return ApiResponse::error(400, "give plugin and gadget as numbers");
    HostDialogBase* d = dialogs_.dialogOf(static_cast<int32_t>(plugin));
    if (!d) return ApiResponse::error(404, "no such dialog is open");
    const Gadget* g = dialogs_.gadget(d, static_cast<int32_t>(gadget));
    if (!g || g->kind != GadgetKind::UserArea) return ApiResponse::error(404, "no such user area");
    const Bitmap canvas = dialogs_.renderUserArea(d, static_cast<int32_t>(gadget));
    if (canvas.empty()) return ApiResponse::error(404, "the area has nothing drawn");
    return ApiResponse::binary(encodePng(canvas), "image/png");
}

ApiResponse Studio::mapPng(const std::map<std::string, std::string>& query) {
    const int64_t plugin = queryNumber(query, "plugin", INT32_MAX), gadget = queryNumber(query, "gadget", INT32_MAX);
    if (plugin < 0 || gadget < 0) return ApiResponse::error(400, "give plugin and gadget as numbers");
    HostDialogBase* d = dialogs_.dialogOf(static_cast<int32_t>(plugin));
    if (!d) return ApiResponse::error(404, "no such dialog is open");
    // Only a file that a dialog names is shown: the page cannot ask for any file of the disk.
    const Gadget* g = dialogs_.gadget(d, static_cast<int32_t>(gadget));
    if (!g || g->kind != GadgetKind::Filename || g->text.empty())
        return ApiResponse::error(404, "the dialog names no image file there");
    if (const std::string why = pathProblem(g->text); !why.empty()) return ApiResponse::error(404, why);
    if (const std::string why = fileKindProblem(g->text, false); !why.empty()) return ApiResponse::error(404, why);
    Bitmap image;
    std::string error;
    if (!image.load(g->text, &error)) return ApiResponse::error(404, error);
    return ApiResponse::binary(encodePng(image), "image/png");
}

void Studio::addRoutes() {
    // The status bar as it is now, answered off the main thread: the page shows it while a long call
    // (a prepare, a reduction, a bake's start) holds the main thread and the state cannot be had.
    server_.routeDirect("GET", "/api/progress", [](const ApiRequest&) { return ApiResponse::json(statusBar().dump()); });
    // The state is looked at anew for each request, so that it shows what the calls before it did.
    server_.route("GET", "/api/state", [this](const ApiRequest&) {
        refresh();
        return ApiResponse::json(stateJson());
    });
    server_.route("GET", "/api/mesh", [this](const ApiRequest& r) {
        auto it = r.query.find("id");
        if (it == r.query.end()) return ApiResponse::error(400, "give the object's id");
        const int64_t id = queryNumber(r.query, "id", INT64_MAX);
        if (id < 0) return ApiResponse::error(400, "the id is not a whole number of at most 64 bits");
        Object* o = objectById(id);
        if (!alive(o)) return ApiResponse::error(404, "no object " + it->second);
        if (!o->isPolygonObject()) return ApiResponse::error(404, o->name() + " is not a polygon object");
        if (!busy_.empty()) return ApiResponse::error(409, "the mesh is being edited (" + busy_ + ")");
        // With `base` (the serial of the copy the page holds), only the changes (MeshChanges.h).
        return sentMeshes_.respond(r, id, encodeMesh(*static_cast<PolygonObject*>(o)));
    });
    // The file picker: folders and mesh files under the start folder only.
    server_.route("GET", "/api/files", [this](const ApiRequest& r) {
        auto it = r.query.find("dir");
        return listFolder(startFolder_, it == r.query.end() ? std::string() : it->second);
    });
    server_.route("GET", "/api/area.png", [this](const ApiRequest& r) { return areaPng(r.query); });
    server_.route("GET", "/api/map.png", [this](const ApiRequest& r) { return mapPng(r.query); });
    server_.route("POST", "/api/select", [this](const ApiRequest& r) {
        json j = parseBody(r.body);
        if (j.is_discarded() || !j.contains("ids") || !j["ids"].is_array())
            return ApiResponse::error(400, "give the ids of the objects to select");
        std::vector<int64_t> ids;
        for (const json& v : j["ids"]) {
            if (!v.is_number_integer() ||
                (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)))
                return ApiResponse::error(400, "object ids are whole numbers of at most 64 bits");
            ids.push_back(v.get<int64_t>());
        }
        return select(ids);
    });
    server_.route("POST", "/api/select-group", [this](const ApiRequest& r) {
        json j = parseBody(r.body);
        int64_t object = 0, tag = 0;
        if (j.is_discarded() || !readInt(j, "object", object) || !readInt(j, "tag", tag))
            return ApiResponse::error(400, "give the object's id and the index of its polygon group tag");
        return selectGroup(object, tag);
    });
    server_.route("POST", "/api/visible", [this](const ApiRequest& r) {
        json j = parseBody(r.body);
        int64_t id = 0;
        if (j.is_discarded() || !readInt(j, "id", id) || !j.contains("visible") || !j["visible"].is_boolean())
            return ApiResponse::error(400, "give the object's id and visible: true or false");
        Object* o = objectById(id);
        if (!alive(o)) return ApiResponse::error(404, "no object " + std::to_string(id));
        o->visible = j["visible"].get<bool>();
        return ApiResponse::json("{}");
    });
    server_.route("POST", "/api/mode", [this](const ApiRequest& r) {
        json j = parseBody(r.body);
        int32_t mode = 0;
        if (j.is_discarded() || !readInt32(j, "mode", mode) ||
            (mode != MODE_OBJECT && mode != MODE_POLYGONS && mode != MODE_POINTS))
            return ApiResponse::error(400, "the editing mode is 12 (objects), 7 (polygons) or 5 (points)");
        if (hooks_.previewOpen && hooks_.previewOpen())
            return ApiResponse::error(409, "commit or close the preview before changing the mode");
        // The reduction dialog collects by the mode (a selection in polygon mode, whole objects else).
        return aroundObjects([&] {
            doc_.setEditingMode(mode);
            return ApiResponse::json("{}");
        });
    });
    server_.route("POST", "/api/undo", [this](const ApiRequest&) { return undo(); });
    server_.route("POST", "/api/redo", [this](const ApiRequest&) { return redo(); });
    auto pathOf = [](const std::string& body, std::string& path) {
        json j = parseBody(body);
        if (j.is_discarded() || !j.contains("path") || !j["path"].is_string()) return false;
        path = j["path"].get<std::string>();
        return true;
    };
    server_.route("POST", "/api/open", [this, pathOf](const ApiRequest& r) {
        std::string path;
        if (!pathOf(r.body, path)) return ApiResponse::error(400, "give the path of the file to open");
        return open(path);
    }, "opening a file");
    server_.route("POST", "/api/open/stop", [this](const ApiRequest&) { return stopOpening(); });
    server_.route("POST", "/api/save", [this, pathOf](const ApiRequest& r) {
        std::string path;
        if (!pathOf(r.body, path)) return ApiResponse::error(400, "give the path of the file to write");
        return save(path);
    }, "saving a file");
    server_.route("POST", "/api/save-asset", [this, pathOf](const ApiRequest& r) {
        AssetRequest a;
        json j = parseBody(r.body);
        if (!pathOf(r.body, a.path) || !readInt(j, "object", a.object) || !readInt32(j, "plugin", a.plugin) ||
            !readInt32(j, "normal", a.normalGadget))
            return ApiResponse::error(400, "give the asset's path, the object's id, the dialog and its normal map gadget");
        if (j.contains("occlusion") && !readInt32(j, "occlusion", a.occlusionGadget))
            return ApiResponse::error(400, "the occlusion map's gadget is a 32-bit number");
        a.greenDown = j.contains("greenDown") && j["greenDown"].is_boolean() && j["greenDown"].get<bool>();
        return saveAsset(a);
    }, "saving an asset");
    server_.route("POST", "/api/command", [this](const ApiRequest& r) {
        json j = parseBody(r.body);
        int32_t plugin = 0;
        if (j.is_discarded() || !readInt32(j, "plugin", plugin))
            return ApiResponse::error(400, "give the command's plug-in id (a 32-bit number)");
        if (!busy_.empty()) return ApiResponse::error(409, "wait: " + busy_);
        std::string error;
        if (!hooks_.openCommand || !hooks_.openCommand(plugin, &error))
            return ApiResponse::error(409, error);
        return ApiResponse::json("{}");
    });
    server_.route("POST", "/api/dialog", [this](const ApiRequest& r) { return dialogCall(r.body); });
}

}  // namespace host::studio
