#include "host/studio/Studio.h"

#include <stb_image_write.h>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <cstring>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>

#include "host/ObjFile.h"
#include "host/StatusBar.h"
#include "host/Tags.h"
#include "host/formats/BakedMapImages.h"
#include "host/formats/FileOutput.h"

using nlohmann::json;

namespace host::studio {
namespace {

void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void putFloat(std::string& out, float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    put32(out, v);
}

// A hash of raw bytes, eight at a time (it only tells a changed mesh from the one seen before).
uint64_t fnv(uint64_t h, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w) * 1099511628211ull;
        h ^= h >> 29;
    }
    for (; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// Parses a request body; null (discarded) when it is not a JSON object.
json parseBody(const std::string& body) {
    json j = json::parse(body, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return json(json::value_t::discarded);
    return j;
}

// A whole number of the body that fits 64 bits signed (a larger one is not taken, never cut).
bool readInt(const json& j, const char* key, int64_t& out) {
    auto it = j.find(key);
    if (it == j.end() || !it->is_number_integer()) return false;
    if (it->is_number_unsigned() && it->get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)) return false;
    out = it->get<int64_t>();
    return true;
}

// A whole number of the body that fits 32 bits signed (plug-in, gadget and mode numbers).
bool readInt32(const json& j, const char* key, int32_t& out) {
    int64_t v = 0;
    if (!readInt(j, key, v) || v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<int32_t>(v);
    return true;
}

// A text of the body, or `fallback` when it is missing; false when it is there but not a text.
bool readText(const json& j, const char* key, std::string& out, const std::string& fallback = {}) {
    auto it = j.find(key);
    if (it == j.end()) {
        out = fallback;
        return true;
    }
    if (!it->is_string()) return false;
    out = it->get<std::string>();
    return true;
}

// A whole number of the query from 0 to `most`, or -1 when it is missing, not a number or larger.
int64_t queryNumber(const std::map<std::string, std::string>& query, const char* key, int64_t most) {
    auto it = query.find(key);
    if (it == query.end() || it->second.empty() || it->second.size() > 19) return -1;
    int64_t v = 0;
    for (char c : it->second) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
        if (v > most) return -1;
    }
    return v;
}

// The most moves one drag call of a dialog's user area gives.
constexpr size_t kMaxDragMoves = 1000;

json colourJson(const Colour& c) { return json::array({c.rgb.x, c.rgb.y, c.rgb.z, c.brightness}); }

}  // namespace

std::string encodeMesh(const PolygonObject& o) {
    const UVWTag* uv = static_cast<const UVWTag*>(o.tag(TAG_UVW));
    const NormalTag* normals = static_cast<const NormalTag*>(o.tag(TAG_NORMALS));
    const bool hasUv = uv && uv->elementCount() == o.polygonCount();
    const bool hasNormals = normals && normals->elementCount() == o.polygonCount();
    std::string out = "VXM1";
    out.reserve(16 + o.points.size() * 12 + o.polygons.size() * (16 + (hasUv ? 32 : 0) + (hasNormals ? 48 : 0)));
    put32(out, static_cast<uint32_t>(o.pointCount()));
    put32(out, static_cast<uint32_t>(o.polygonCount()));
    const bool hasSelection = o.polygonSelection.count() > 0;
    put32(out, (hasUv ? 1u : 0u) | (hasNormals ? 2u : 0u) | (hasSelection ? 4u : 0u));
    for (const Vec3f& p : o.points) {
        putFloat(out, p.x);
        putFloat(out, p.y);
        putFloat(out, p.z);
    }
    for (const Polygon& p : o.polygons)
        for (int c : {p.a, p.b, p.c, p.d}) put32(out, static_cast<uint32_t>(c));
    if (hasUv)
        for (const UVWRow& row : uv->data)
            for (int k = 0; k < 4; ++k) {
                putFloat(out, row.corner(k).x);
                putFloat(out, row.corner(k).y);
            }
    if (hasNormals)
        for (const NormalRow& row : normals->data)
            for (int16_t v : row.v) putFloat(out, static_cast<float>(v) / 32000.0f);
    if (hasSelection) {
        for (int i = 0; i < o.polygonCount(); ++i) out.push_back(o.polygonSelection.isSelected(i) ? 1 : 0);
        while (out.size() % 4 != 0) out.push_back(0);
    }
    return out;
}

std::unique_ptr<PolygonObject> shownCopy(const PolygonObject& o) {
    std::unique_ptr<Object> copy = o.cloneAlone();
    auto* p = static_cast<PolygonObject*>(copy.get());
    std::vector<int> polygonRemap(p->polygons.size(), -1), pointRemap(p->points.size(), -1);
    int polygons = 0, points = 0;
    for (size_t i = 0; i < p->polygons.size(); ++i) {
        const Polygon& q = p->polygons[i];
        if (q.a == q.b) continue;
        polygonRemap[i] = polygons++;
        for (int c : {q.a, q.b, q.c, q.d})
            if (c >= 0 && c < p->pointCount()) pointRemap[c] = 0;
    }
    for (int& r : pointRemap)
        if (r == 0) r = points++;
    p->compact(pointRemap, points, polygonRemap, polygons);
    copy.release();
    return std::unique_ptr<PolygonObject>(p);
}

std::string encodePng(const Bitmap& b) {
    if (b.empty()) return {};
    const int w = b.width(), h = b.height(), ch = b.channels();
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * ch);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < ch; ++c) pixels[(static_cast<size_t>(y) * w + x) * ch + c] = b.get8(x, y, c);
    std::string out;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<size_t>(size));
        },
        &out, w, h, ch, pixels.data(), w * ch);
    return out;
}

std::string pathProblem(const std::string& path) {
    if (path.empty()) return "the path is empty";
    if (path.size() > 4096) return "the path is longer than 4096 bytes";
    for (size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (c < 0x20 || c == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "U+%04X", c);
            return std::string("the path holds a control character (") + (c == 0 ? "NUL, " : "") + code +
                   ") at byte " + std::to_string(i + 1) + ": no file is named so";
        }
    }
    return {};
}

std::string fileKindProblem(const std::string& path, bool forWriting) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return {};  // missing: the reader or writer says so
    if (S_ISREG(st.st_mode)) return {};
    const char* kind = S_ISFIFO(st.st_mode)  ? "a FIFO"
                       : S_ISDIR(st.st_mode) ? "a folder"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                                             : "not a regular file";
    return path + " is " + kind + ": the studio " + (forWriting ? "writes" : "reads") + " regular files only";
}

Studio::Studio(Document& document, DialogHost& dialogs, StudioServer& server, StudioHooks hooks)
    : doc_(document), dialogs_(dialogs), server_(server), hooks_(std::move(hooks)) {}

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

void Studio::look() {
    busy_ = hooks_.busy ? hooks_.busy() : std::string();
    const std::vector<Object*> all = doc_.allObjects();
    // Forget objects that left the document (their addresses may come back for new ones).
    for (auto it = ids_.begin(); it != ids_.end();) {
        if (std::find(all.begin(), all.end(), it->first) == all.end()) {
            objects_.erase(it->second);
            summaries_.erase(it->first);
            it = ids_.erase(it);
        } else {
            ++it;
        }
    }
    for (Object* o : all) idOf(o);
    if (!busy_.empty()) return;  // a worker edits the arrays: keep the last look
    for (Object* o : all) {
        if (!o->isPolygonObject()) continue;
        const auto* p = static_cast<const PolygonObject*>(o);
        // Counts as a person sees them: a preview leaves retired polygons (a == b) and points that no
        // polygon uses in the arrays until the level is finished.
        Summary s;
        std::vector<uint8_t> used(p->points.size(), 0);
        for (const Polygon& q : p->polygons) {
            if (q.a == q.b) continue;
            ++s.polygons;
            (q.c == q.d ? s.triangles : s.quads)++;
            for (int c : {q.a, q.b, q.c, q.d})
                if (c >= 0 && c < p->pointCount() && !used[c]) {
                    used[c] = 1;
                    ++s.points;
                }
        }
        uint64_t h = 1469598103934665603ull;
        h = fnv(h, p->points.data(), p->points.size() * sizeof(Vec3f));
        h = fnv(h, p->polygons.data(), p->polygons.size() * sizeof(Polygon));
        for (int i = 0; i < p->polygonSelection.size(); ++i)
            if (p->polygonSelection.isSelected(i)) h = fnv(h, &i, sizeof i);
        if (const auto* uv = static_cast<const UVWTag*>(p->tag(TAG_UVW)))
            h = fnv(h, uv->data.data(), uv->data.size() * sizeof(UVWRow));
        Summary& old = summaries_[o];
        s.meshVersion = old.meshVersion + (old.hash != h ? 1 : 0);
        s.hash = h;
        old = s;
    }
}

std::string Studio::buildState() const {
    json objects = json::array();
    for (Object* o : doc_.allObjects()) {
        json j;
        j["id"] = ids_.at(o);
        j["name"] = o->name();
        j["type"] = o->type();
        j["parent"] = o->parent() ? ids_.at(o->parent()) : 0;
        j["visible"] = o->visible;
        j["active"] = o->active;
        auto s = summaries_.find(o);
        if (s != summaries_.end()) {
            j["points"] = s->second.points;
            j["polygons"] = s->second.polygons;
            j["triangles"] = s->second.triangles;
            j["quads"] = s->second.quads;
            j["meshVersion"] = s->second.meshVersion;
        }
        json tags = json::array();
        std::map<int32_t, int> number;
        for (size_t i = 0; i < o->tags().size(); ++i) {
            const Tag& t = *o->tags()[i];
            tags.push_back({{"index", i},
                            {"type", t.type()},
                            {"typeName", tagTypeName(t.type())},
                            {"name", t.name()},
                            {"number", ++number[t.type()]}});
        }
        j["tags"] = std::move(tags);
        objects.push_back(std::move(j));
    }

    json dialogs = json::array();
    for (HostDialogBase* d : dialogs_.openDialogs()) {
        json dj;
        const int32_t layoutId = dialogs_.layoutIdOf(d);
        dj["plugin"] = dialogs_.pluginIdOf(d);
        dj["layout"] = layoutId;
        const Layout* layout = dialogs_.resources() ? dialogs_.resources()->layout(layoutId) : nullptr;
        dj["title"] = layout ? layout->title : std::string();
        json gadgets = json::array();
        if (layout) {
            for (const LayoutGadget& lg : layout->gadgets) {
                const Gadget* g = dialogs_.gadget(d, lg.id);
                if (!g) continue;
                json gj;
                gj["id"] = g->id;
                gj["kind"] = gadgetKindName(g->kind);
                gj["parent"] = g->parent;
                gj["label"] = g->label;
                gj["enabled"] = g->enabled;
                gj["usable"] = dialogs_.usable(d, g->id);
                gj["shown"] = g->valueText();
                switch (g->value) {
                    case Gadget::Value::Number: gj["number"] = g->number; break;
                    case Gadget::Value::Bool: gj["flag"] = g->flag; break;
                    case Gadget::Value::Text: gj["text"] = g->text; break;
                    case Gadget::Value::Colour: gj["colour"] = colourJson(g->colour); break;
                    case Gadget::Value::None: break;
                }
                if (isChoiceKind(g->kind)) gj["chosen"] = static_cast<int64_t>(g->number);
                gj["integer"] = g->integer;
                gj["percent"] = g->isPercent();
                if (g->limited) {
                    gj["min"] = g->min;
                    gj["max"] = g->max;
                    gj["step"] = g->step;
                }
                if (!g->choices.empty()) {
                    json c = json::array();
                    for (const auto& [id, text] : g->choices) c.push_back(json::array({id, text}));
                    gj["choices"] = std::move(c);
                }
                // Only the area's own redraw requests change its picture; drawing it for the page does
                // not count (that would make every fetch of the picture a change of the state).
                if (g->kind == GadgetKind::UserArea)
                    gj["area"] = {{"w", g->rect.w}, {"h", g->rect.h}, {"redraws", g->redrawRequests}};
                gadgets.push_back(std::move(gj));
            }
        }
        dj["gadgets"] = std::move(gadgets);
        dialogs.push_back(std::move(dj));
    }

    StatusBar& bar = StatusBar::main();
    json state;
    state["document"] = {{"path", doc_.path},
                         {"mode", doc_.editingMode()},
                         {"undo", doc_.undoDepth()},
                         {"redo", redo_.size()}};
    state["objects"] = std::move(objects);
    state["dialogs"] = std::move(dialogs);
    state["status"] = {{"line", bar.line()}, {"percent", bar.percent()}};
    if (hooks_.toolState) {
        json tool = json::parse(hooks_.toolState(), nullptr, false);
        if (!tool.is_discarded()) state["tool"] = std::move(tool);
    }
    state["busy"] = busy_;
    state["notice"] = notice_;
    return state.dump();
}

void Studio::refresh() {
    look();
    std::string s = buildState();
    if (s == state_) return;
    state_ = std::move(s);
    ++version_;
    server_.publish(version_);
}

std::string Studio::stateJson() const {
    // The cached text ends with "}": the version goes in front of it.
    if (state_.size() < 2) return "{\"version\":" + std::to_string(version_) + "}";
    return "{\"version\":" + std::to_string(version_) + "," + state_.substr(1);
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
    if (path.empty()) return ApiResponse::error(400, "give the path of a file to open");
    if (const std::string why = pathProblem(path); !why.empty()) return ApiResponse::error(400, "cannot open: " + why);
    // Checked before the file is opened: a FIFO would hold the main thread until a writer came.
    if (const std::string why = fileKindProblem(path, false); !why.empty()) return ApiResponse::error(422, why);
    if (!hooks_.loadFile) return ApiResponse::error(500, "this host cannot read files");
    std::vector<Object*> loaded;
    std::string error;
    if (!hooks_.loadFile(path, &loaded, &error)) return ApiResponse::error(422, error);
    return aroundObjects([&] {
        doc_.clearActive();
        for (Object* o : loaded) doc_.setActive(o, true);
        json ids = json::array();
        for (Object* o : loaded) ids.push_back(idOf(o));
        return ApiResponse::json(json{{"loaded", ids}}.dump());
    });
}

ApiResponse Studio::save(const std::string& path) {
    if (!busy_.empty()) return ApiResponse::error(409, "cannot save while " + busy_);
    if (path.empty()) return ApiResponse::error(400, "give the path of the file to write");
    if (const std::string why = pathProblem(path); !why.empty()) return ApiResponse::error(400, "cannot save: " + why);
    // A FIFO would hold the main thread until a reader came; a device or a folder is no mesh file.
    if (const std::string why = fileKindProblem(path, true); !why.empty()) return ApiResponse::error(422, why);
    // What is written is what the view shows: polygons retired by a preview and points no polygon
    // uses are left out of the file (the document keeps them until the preview is finished).
    std::vector<std::unique_ptr<Object>> copies;
    std::vector<const Object*> out;
    int points = 0;
    for (Object* o : doc_.allObjects())
        if (o->isPolygonObject()) {
            copies.push_back(shownCopy(*static_cast<PolygonObject*>(o)));
            out.push_back(copies.back().get());
            points += static_cast<PolygonObject*>(copies.back().get())->pointCount();
        }
    if (out.empty()) return ApiResponse::error(409, "the document holds no polygon object to save");
    std::string error;
    const bool written = hooks_.writeFile ? hooks_.writeFile(path, out, &error) : writeObj(path, out, &error);
    if (!written) return ApiResponse::error(422, error);
    // The reply names the file written, as a whole path (the page does not know the host's folder).
    std::error_code ec;
    const std::filesystem::path whole = std::filesystem::absolute(path, ec).lexically_normal();
    return ApiResponse::json(
        json{{"saved", ec ? path : whole.string()}, {"objects", out.size()}, {"points", points}}.dump());
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
        return ApiResponse::binary(encodeMesh(*static_cast<PolygonObject*>(o)), "application/octet-stream");
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
