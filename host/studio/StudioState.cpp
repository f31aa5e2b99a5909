// The state as the page sees it: what changed since the last look, and the JSON the page draws from.
#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>

#include "host/StatusBar.h"
#include "host/Tags.h"
#include "host/studio/Studio.h"

using nlohmann::json;

namespace host::studio {
namespace {

// A hash of raw bytes, eight at a time (it only tells a changed mesh from the one seen before). Every
// interface call looks at the document, so a dense mesh's tens of megabytes go through four
// independent lanes, which the processor runs side by side.
uint64_t fnv(uint64_t h, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t i = 0;
    if (n >= 64) {
        uint64_t lane[4] = {h, h ^ 0x9e3779b97f4a7c15ull, h ^ 0xc2b2ae3d27d4eb4full, h ^ 0x165667b19e3779f9ull};
        for (; i + 32 <= n; i += 32)
            for (int k = 0; k < 4; ++k) {
                uint64_t w;
                std::memcpy(&w, p + i + 8 * k, 8);
                lane[k] = (lane[k] ^ w) * 1099511628211ull;
                lane[k] ^= lane[k] >> 29;
            }
        h = lane[0];
        for (int k = 1; k < 4; ++k) h = ((h ^ lane[k]) * 1099511628211ull) ^ (h >> 31);
    }
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w) * 1099511628211ull;
        h ^= h >> 29;
    }
    for (; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// Where the document's content hash starts (any fixed number).
constexpr uint64_t kContentSeed = 0x5eed;

json colourJson(const Colour& c) { return json::array({c.rgb.x, c.rgb.y, c.rgb.z, c.brightness}); }

}  // namespace

void Studio::look() {
    busy_ = hooks_.busy ? hooks_.busy() : std::string();
    // A new change after an undo makes the undone steps unreachable: the page's Redo goes off at once,
    // not only when it is pressed.
    if (undoDepthAfterUndo_ != -1 && doc_.undoDepth() != undoDepthAfterUndo_) {
        redo_.clear();
        undoDepthAfterUndo_ = -1;
    }
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
    uint64_t content = fnv(1469598103934665603ull, &kContentSeed, sizeof kContentSeed);
    for (Object* o : all) {
        if (!o->isPolygonObject()) continue;
        const auto* p = static_cast<const PolygonObject*>(o);
        // What a file keeps (points, polygons, UVs) first: the document's content; then the selection,
        // which the view shows but no file holds.
        uint64_t h = 1469598103934665603ull;
        h = fnv(h, p->points.data(), p->points.size() * sizeof(Vec3f));
        h = fnv(h, p->polygons.data(), p->polygons.size() * sizeof(Polygon));
        if (const auto* uv = static_cast<const UVWTag*>(p->tag(TAG_UVW)))
            h = fnv(h, uv->data.data(), uv->data.size() * sizeof(UVWRow));
        content = fnv(content, &h, sizeof h);
        for (const std::pair<int, int>& run : p->polygonSelection.ranges()) h = fnv(h, &run, sizeof run);
        Summary& old = summaries_[o];
        if (old.hash == h && old.meshVersion > 0) continue;  // every call looks: a dense mesh is not counted again
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
        s.meshVersion = old.meshVersion + 1;
        s.hash = h;
        old = s;
    }
    contentHash_ = content;
    if (!contentKnown_ || rebaseline_) savedHash_ = content;
    contentKnown_ = true;
    rebaseline_ = false;
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

    json state;
    state["document"] = {{"path", doc_.path},
                         {"mode", doc_.editingMode()},
                         {"undo", doc_.undoDepth()},
                         {"redo", redo_.size()},
                         {"unsaved", unsaved()}};
    state["objects"] = std::move(objects);
    state["dialogs"] = std::move(dialogs);
    state["status"] = statusBar();
    if (hooks_.toolState) {
        json tool = json::parse(hooks_.toolState(), nullptr, false);
        if (!tool.is_discarded()) state["tool"] = std::move(tool);
    }
    state["busy"] = busy_;
    state["notice"] = notice_;
    json endings = json::object();
    for (const auto& [plugin, ending] : endings_)
        endings[std::to_string(plugin)] = {{"outcome", ending.outcome}, {"count", ending.count}};
    state["endings"] = std::move(endings);
    // The file being read (whole seconds, so that the state changes once a second while it lasts)
    // and how the last open ended.
    state["opening"] = reading_ ? json{{"path", reading_->path()}, {"bytes", reading_->bytes()},
                                       {"seconds", static_cast<int>(reading_->seconds())}}
                                : json(nullptr);
    state["opened"] = opened_.empty() ? json(nullptr) : json::parse(opened_, nullptr, false);
    return state.dump();
}

json Studio::statusBar() {
    const StatusBar& bar = StatusBar::main();
    return {{"line", bar.line()}, {"percent", bar.percent()}};
}

void Studio::refresh() {
    // A file read meanwhile joins the document once no worker edits it.
    if (reading_ && reading_->done() && (!hooks_.busy || hooks_.busy().empty())) finishOpening();
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

}  // namespace host::studio
