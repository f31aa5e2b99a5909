#include "host/studio/Studio.h"

#include <filesystem>
#include <nlohmann/json.hpp>

#include "host/ObjFile.h"
#include "host/Tags.h"
#include "host/formats/BakedMapImages.h"
#include "host/formats/FileOutput.h"
#include "host/studio/StudioRequest.h"

using nlohmann::json;

namespace host::studio {

Studio::Studio(Document& document, DialogHost& dialogs, StudioServer& server, StudioHooks hooks)
    : doc_(document), dialogs_(dialogs), server_(server), hooks_(std::move(hooks)) {
    std::error_code ec;
    startFolder_ = std::filesystem::current_path(ec).string();
    // The runs' end messages (the bake's message to its dialogs, the reduction pass's special event),
    // delivered on this (the main) thread like everything the state reads.
    dialogs_.setEventObserver([this](const Event& e) {
        const bool bakeEnd = e.kind == Event::Kind::DialogMessage && e.id == OMBRIN_ID;
        const bool passEnd = e.kind == Event::Kind::Special && e.id == VEXLOR_ID;
        if (!bakeEnd && !passEnd) return;
        Ending& ending = endings_[e.id];
        ending.outcome = e.value1;
        ++ending.count;
    });
}

Studio::~Studio() { dialogs_.setEventObserver({}); }

bool Studio::alive(Object* o) const {
    if (!o) return false;
    for (Object* x : doc_.allObjects())
        if (x == o) return true;
    return false;
}

int64_t Studio::idOf(Object* o) {
    if (!o) return 0;
    auto it = ids_.find(o);
    if (it != ids_.end()) return it->second;
    const int64_t id = nextId_++;
    ids_[o] = id;
    objects_[id] = o;
    return id;
}

Object* Studio::objectById(int64_t id) const {
    auto it = objects_.find(id);
    return it == objects_.end() ? nullptr : it->second;
}

ApiResponse Studio::select(const std::vector<int64_t>& ids) {
    std::vector<Object*> chosen;
    for (int64_t id : ids) {
        Object* o = objectById(id);
        if (!alive(o)) return ApiResponse::error(404, "no object " + std::to_string(id));
        chosen.push_back(o);
    }
    // A dialog that holds a preview keeps what it collected; others collect the new selection.
    auto change = [&] {
        doc_.clearActive();
        for (Object* o : chosen) doc_.setActive(o, true);
        return ApiResponse::json("{}");
    };
    if (hooks_.previewOpen && hooks_.previewOpen()) return change();
    return aroundObjects(change);
}

ApiResponse Studio::selectGroup(int64_t objectId, int64_t tagIndex) {
    Object* o = objectById(objectId);
    if (!alive(o) || !o->isPolygonObject()) return ApiResponse::error(404, "no polygon object " + std::to_string(objectId));
    if (tagIndex < 0 || tagIndex >= static_cast<int64_t>(o->tags().size()) ||
        o->tags()[static_cast<size_t>(tagIndex)]->type() != TAG_POLYGON_SELECTION)
        return ApiResponse::error(404, "the object has no polygon group " + std::to_string(tagIndex));
    if (!busy_.empty()) return ApiResponse::error(409, "cannot select while " + busy_);
    if (hooks_.previewOpen && hooks_.previewOpen())
        return ApiResponse::error(409, "commit or close the preview before selecting polygons");
    auto* p = static_cast<PolygonObject*>(o);
    const SelectionSet& group = static_cast<const SelectionTag*>(o->tags()[static_cast<size_t>(tagIndex)].get())->set;
    // The group's polygons become the polygon selection, in the polygon mode, on the active object.
    return aroundObjects([&] {
        p->polygonSelection.resize(p->polygonCount());
        p->polygonSelection.deselectAll();
        for (int i = 0; i < p->polygonCount(); ++i)
            if (group.isSelected(i)) p->polygonSelection.select(i);
        doc_.setEditingMode(MODE_POLYGONS);
        doc_.clearActive();
        doc_.setActive(o, true);
        return ApiResponse::json(json{{"selected", p->polygonSelection.count()}}.dump());
    });
}

ApiResponse Studio::aroundObjects(const std::function<ApiResponse()>& change) {
    std::vector<int32_t> reopen;
    for (int32_t plugin : hooks_.collectingDialogs)
        if (HostDialogBase* d = dialogs_.dialogOf(plugin)) {
            if (!dialogs_.close(d)) return ApiResponse::error(409, "the dialog would not close");
            reopen.push_back(plugin);
        }
    ApiResponse r = change();
    notice_.clear();
    for (int32_t plugin : reopen) {
        std::string error;
        if (!hooks_.openCommand || !hooks_.openCommand(plugin, &error))
            notice_ = "a dialog was closed: " + error;
    }
    return r;
}

ApiResponse Studio::undo() {
    if (!busy_.empty()) return ApiResponse::error(409, "cannot undo while " + busy_);
    if (hooks_.previewOpen && hooks_.previewOpen())
        return ApiResponse::error(409, "commit or close the preview before undoing");
    if (doc_.undoDepth() == 0) return ApiResponse::error(409, "nothing to undo");
    return aroundObjects([this] {
        // Keep what the step takes back, so that redo can put it again.
        std::vector<std::pair<Object*, std::unique_ptr<Object>>> before;
        for (Object* o : doc_.allObjects()) before.emplace_back(o, o->cloneAlone());
        if (!doc_.undoLast()) return ApiResponse::error(500, "the undo step could not be taken back");
        RedoStep step;
        for (auto& [o, state] : before)
            if (!o->sameStateAs(*state)) step.states.emplace_back(o, std::move(state));
        if (undoDepthAfterUndo_ != -1 && undoDepthAfterUndo_ != doc_.undoDepth() + 1) redo_.clear();
        redo_.push_back(std::move(step));
        undoDepthAfterUndo_ = doc_.undoDepth();
        return ApiResponse::json("{}");
    });
}

ApiResponse Studio::redo() {
    if (!busy_.empty()) return ApiResponse::error(409, "cannot redo while " + busy_);
    if (hooks_.previewOpen && hooks_.previewOpen())
        return ApiResponse::error(409, "commit or close the preview before redoing");
    // New work since the last undo makes the undone steps unreachable.
    if (doc_.undoDepth() != undoDepthAfterUndo_) redo_.clear();
    if (redo_.empty()) return ApiResponse::error(409, "nothing to redo");
    return aroundObjects([this] {
        RedoStep step = std::move(redo_.back());
        redo_.pop_back();
        doc_.startUndo();
        for (auto& [o, state] : step.states)
            if (alive(o)) doc_.addUndo(UNDO_OBJECT_CHANGE, o);
        doc_.endUndo();
        for (auto& [o, state] : step.states)
            if (alive(o)) o->copyStateFrom(*state);
        undoDepthAfterUndo_ = doc_.undoDepth();
        return ApiResponse::json("{}");
    });
}

ApiResponse Studio::open(const std::string& path) {
    if (!busy_.empty()) return ApiResponse::error(409, "cannot open a file while " + busy_);
    if (reading_) return ApiResponse::error(409, "wait: " + reading_->path() + " is being opened");
    if (path.empty()) return ApiResponse::error(400, "give the path of a file to open");
    if (const std::string why = pathProblem(path); !why.empty()) return ApiResponse::error(400, "cannot open: " + why);
    // Checked before the file is opened: a FIFO would hold the reading thread until a writer came.
    if (const std::string why = fileKindProblem(path, false); !why.empty()) return ApiResponse::error(422, why);
    if (!hooks_.readFile) return ApiResponse::error(500, "this host cannot read files");
    // Work that was saved stays saved with another file's objects beside it (both are on disk).
    savedBeforeReading_ = !unsaved();
    reading_ = std::make_unique<BackgroundRead>(path, hooks_.readFile);
    if (reading_->waitFor(openWait_)) return finishOpening();
    return ApiResponse::json(json{{"opening", path}}.dump(), 202);
}

ApiResponse Studio::finishOpening() {
    std::vector<Object*> loaded;
    std::string error;
    Document* read = reading_->result(&loaded, &error);
    json outcome = {{"serial", ++openSerial_}, {"path", reading_->path()}};
    ApiResponse answer;
    if (!read) {
        outcome["error"] = error;
        answer = ApiResponse::error(422, error);
    } else {
        rebaseline_ = savedBeforeReading_;
        answer = aroundObjects([&] {
            doc_.clearActive();
            json ids = json::array();
            for (Object* o : loaded) {
                Object* moved = doc_.insert(read->remove(o));
                doc_.setActive(moved, true);
                ids.push_back(idOf(moved));
            }
            if (doc_.path.empty()) doc_.path = reading_->path();
            outcome["loaded"] = ids;
            return ApiResponse::json(json{{"loaded", ids}}.dump());
        });
    }
    reading_.reset();
    opened_ = outcome.dump();
    return answer;
}

ApiResponse Studio::stopOpening() {
    if (!reading_) return ApiResponse::error(409, "no file is being opened");
    // The reading thread cannot be interrupted inside a format's parser: it is left to end, and what it
    // read is dropped with it.
    const std::string path = reading_->path();
    reading_.reset();
    opened_ = json{{"serial", ++openSerial_}, {"path", path}, {"stopped", true}}.dump();
    return ApiResponse::json(json{{"stopped", path}}.dump());
}

std::string recoveryPathFor(const std::string& documentPath) {
    if (documentPath.empty()) return "untitled.recovery.obj";
    std::filesystem::path p(documentPath);
    return (p.parent_path() / (p.stem().string() + ".recovery.obj")).string();
}

namespace {

// What the view shows of every polygon object: copies without the polygons a preview retired and the
// points no polygon uses (the document keeps them until the preview is finished).
std::vector<std::unique_ptr<Object>> shownObjects(Document& doc, int* points) {
    std::vector<std::unique_ptr<Object>> copies;
    for (Object* o : doc.allObjects())
        if (o->isPolygonObject()) {
            copies.push_back(shownCopy(*static_cast<PolygonObject*>(o)));
            *points += static_cast<PolygonObject*>(copies.back().get())->pointCount();
        }
    return copies;
}

}  // namespace

std::string Studio::writeRecovery(std::string* error) {
    if (!busy_.empty()) {
        *error = "the document is being edited (" + busy_ + ")";
        return {};
    }
    int points = 0;
    const std::vector<std::unique_ptr<Object>> copies = shownObjects(doc_, &points);
    std::vector<const Object*> out;
    for (const auto& c : copies) out.push_back(c.get());
    const std::string path = recoveryPathFor(doc_.path);
    if (out.empty()) {
        *error = "the document holds no polygon object";
        return {};
    }
    if (!writeObj(path, out, error)) return {};
    std::error_code ec;
    const std::filesystem::path whole = std::filesystem::absolute(path, ec).lexically_normal();
    return ec ? path : whole.string();
}

ApiResponse Studio::save(const std::string& path) {
    if (!busy_.empty()) return ApiResponse::error(409, "cannot save while " + busy_);
    if (path.empty()) return ApiResponse::error(400, "give the path of the file to write");
    if (const std::string why = pathProblem(path); !why.empty()) return ApiResponse::error(400, "cannot save: " + why);
    // A FIFO would hold the main thread until a reader came; a device or a folder is no mesh file.
    if (const std::string why = fileKindProblem(path, true); !why.empty()) return ApiResponse::error(422, why);
    // What is written is what the view shows: polygons retired by a preview and points no polygon
    // uses are left out of the file (the document keeps them until the preview is finished).
    int points = 0;
    const std::vector<std::unique_ptr<Object>> copies = shownObjects(doc_, &points);
    std::vector<const Object*> out;
    for (const auto& c : copies) out.push_back(c.get());
    if (out.empty()) return ApiResponse::error(409, "the document holds no polygon object to save");
    std::string error;
    const bool written = hooks_.writeFile ? hooks_.writeFile(path, out, &error) : writeObj(path, out, &error);
    if (!written) return ApiResponse::error(422, error);
    // The reply names the file written, as a whole path (the page does not know the host's folder).
    std::error_code ec;
    const std::filesystem::path whole = std::filesystem::absolute(path, ec).lexically_normal();
    // Saved as: the document is that file from now on (its name in the view, the folder of its maps).
    doc_.path = ec ? path : whole.string();
    rebaseline_ = true;
    return ApiResponse::json(
        json{{"saved", doc_.path}, {"objects", out.size()}, {"points", points}}.dump());
}

ApiResponse Studio::saveAsset(const AssetRequest& r) {
    if (!busy_.empty()) return ApiResponse::error(409, "cannot save while " + busy_);
    if (const std::string why = pathProblem(r.path); !why.empty()) return ApiResponse::error(400, "cannot save: " + why);
    if (const std::string why = fileKindProblem(r.path, true); !why.empty()) return ApiResponse::error(422, why);
    const std::string ext = std::filesystem::path(r.path).extension().string();
    if (ext != ".glb" && ext != ".gltf") return ApiResponse::error(400, "an asset is a .glb or .gltf file");
    Object* o = objectById(r.object);
    if (!alive(o) || !o->isPolygonObject()) return ApiResponse::error(404, "no polygon object " + std::to_string(r.object));
    HostDialogBase* d = dialogs_.dialogOf(r.plugin);
    if (!d) return ApiResponse::error(404, "no such dialog is open");
    // The maps are only ever files that the dialog names, never a path the page gives.
    auto mapFile = [&](int32_t gadget) -> const std::string* {
        const Gadget* g = dialogs_.gadget(d, gadget);
        return g && g->kind == GadgetKind::Filename && !g->text.empty() ? &g->text : nullptr;
    };
    const std::string* normal = mapFile(r.normalGadget);
    if (!normal) return ApiResponse::error(404, "the dialog names no normal map there");
    const std::string* occlusion = r.occlusionGadget ? mapFile(r.occlusionGadget) : nullptr;
    if (r.occlusionGadget && !occlusion) return ApiResponse::error(404, "the dialog names no occlusion map there");
    for (const std::string* map : {normal, occlusion})
        if (map)
            if (const std::string why = fileKindProblem(*map, false); !why.empty()) return ApiResponse::error(422, why);

    std::unique_ptr<PolygonObject> copy = shownCopy(*static_cast<PolygonObject*>(o));
    formats::keepBakedNormals(*copy);
    formats::BakedMapsOf maps;
    std::string error, bytes;
    if (!formats::bakedMapsFromFiles(*normal, r.greenDown, occlusion ? *occlusion : std::string(), maps[copy.get()],
                                     error))
        return ApiResponse::error(422, error);
    if (!formats::encodeGltf({copy.get()}, ext == ".glb", bytes, &error, &maps) ||
        !formats::replaceFileWith(r.path, bytes, &error))
        return ApiResponse::error(422, error);
    return ApiResponse::json(json{{"saved", r.path}, {"object", o->name()}}.dump());
}

}  // namespace host::studio
