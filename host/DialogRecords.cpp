// The dialog records: gadgets built from layout resources, the stacked layout, the values the
// module sets and reads, timers, and messages delivered to open dialogs.
#include "Dialogs.h"

#include <algorithm>
#include <climits>

#include "host/GadgetRules.h"
#include "host/HostHandles.h"
#include "host/Services.h"

namespace host {

using namespace gadget_rules;

namespace {

constexpr int32_t kRow = 20;
constexpr int32_t kIndent = 12;
constexpr int32_t kMargin = 8;
constexpr int32_t kMinWidth = 320;
constexpr int32_t kMaxAreaSide = 4096;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Small types

DragItem DragItem::object(Object* o) { return {HOST_DRAG_OBJECT, toHandle(o)}; }
DragItem DragItem::tag(Tag* t) { return {HOST_DRAG_TAG, toHandle(t)}; }

bool Gadget::isPercent() const {
    if (integer) return false;
    return format == HOST_FORMAT_PERCENT || (format == 0 && kind == GadgetKind::Percent);
}

Gadget* DialogHost::Record::find(int32_t id) {
    for (Gadget& g : gadgets)
        if (g.id == id) return &g;
    return nullptr;
}

const Gadget* DialogHost::Record::find(int32_t id) const {
    for (const Gadget& g : gadgets)
        if (g.id == id) return &g;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Records

void DialogHost::reset() {
    dialogs_.clear();
    clock_ = nullptr;
    observer_ = nullptr;
    fileAnswers_.clear();
    fileRequests_.clear();
    dragScript_.clear();
    dragCancel_ = dragActive_ = dragCancelled_ = false;
    dragButton_ = 0;
    dragX_ = dragY_ = 0;
    dragMovesUsed_ = 0;
    dragCursor_ = 0;
    drawing_.clear();
}

DialogHost::Record* DialogHost::find(HostDialogBase* dlg) {
    for (auto& r : dialogs_)
        if (r->dialog == dlg) return r.get();
    return nullptr;
}

const DialogHost::Record* DialogHost::find(HostDialogBase* dlg) const {
    for (auto& r : dialogs_)
        if (r->dialog == dlg) return r.get();
    return nullptr;
}

Gadget* DialogHost::findGadget(HostDialogBase* dlg, int32_t id) {
    Record* r = find(dlg);
    return r ? r->find(id) : nullptr;
}

const Gadget* DialogHost::findGadget(HostDialogBase* dlg, int32_t id) const {
    const Record* r = find(dlg);
    return r ? r->find(id) : nullptr;
}

bool DialogHost::locateArea(HostUserAreaBase* a, Record*& record, Gadget*& gadget) {
    if (!a) return false;
    for (auto& r : dialogs_)
        for (Gadget& g : r->gadgets)
            if (g.area == a) {
                record = r.get();
                gadget = &g;
                return true;
            }
    return false;
}

Gadget* DialogHost::findArea(HostUserAreaBase* a) {
    Record* r = nullptr;
    Gadget* g = nullptr;
    return locateArea(a, r, g) ? g : nullptr;
}

void DialogHost::remove(HostDialogBase* dlg) {
    dialogs_.erase(std::remove_if(dialogs_.begin(), dialogs_.end(), [&](auto& r) { return r->dialog == dlg; }),
                   dialogs_.end());
}

std::vector<HostDialogBase*> DialogHost::openDialogs() const {
    std::vector<HostDialogBase*> out;
    for (auto& r : dialogs_)
        if (!r->closing) out.push_back(r->dialog);
    return out;
}

HostDialogBase* DialogHost::dialogOf(int32_t pluginId) const {
    for (auto& r : dialogs_)
        if (r->pluginId == pluginId && !r->closing) return r->dialog;
    return nullptr;
}

int32_t DialogHost::pluginIdOf(HostDialogBase* dlg) const {
    const Record* r = find(dlg);
    return r ? r->pluginId : 0;
}

int32_t DialogHost::layoutIdOf(HostDialogBase* dlg) const {
    const Record* r = find(dlg);
    return r ? r->layoutId : 0;
}

int32_t DialogHost::timerPeriod(HostDialogBase* dlg) const {
    const Record* r = find(dlg);
    return r ? r->timerPeriod : 0;
}

const Gadget* DialogHost::gadget(HostDialogBase* dlg, int32_t id) const { return findGadget(dlg, id); }

bool DialogHost::usable(const Record& r, const Gadget& g) const {
    const Gadget* at = &g;
    for (int guard = 0; at && guard < 256; ++guard) {
        if (!at->enabled) return false;
        at = at->parent ? r.find(at->parent) : nullptr;
    }
    return true;
}

bool DialogHost::usable(HostDialogBase* dlg, int32_t id) const {
    const Record* r = find(dlg);
    const Gadget* g = r ? r->find(id) : nullptr;
    return g && usable(*r, *g);
}

int DialogHost::depth(const Record& r, const Gadget& g) const {
    int d = 0;
    for (const Gadget* at = g.parent ? r.find(g.parent) : nullptr; at && d < 256;
         at = at->parent ? r.find(at->parent) : nullptr)
        ++d;
    return d;
}

std::vector<const Gadget*> DialogHost::treeOrder(const Record& r) const {
    std::vector<const Gadget*> out;
    // Children in layout order right after their parent; a parent always comes before them.
    auto add = [&](auto&& self, int32_t parent, int level) -> void {
        if (level > 64) return;
        for (const Gadget& g : r.gadgets) {
            if (g.parent != parent || g.kind == GadgetKind::Entry) continue;
            out.push_back(&g);
            self(self, g.id, level + 1);
        }
    };
    add(add, 0, 0);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Opening, layouts and the stacked layout

bool DialogHost::open(HostDialogBase* dlg, int32_t pluginId) {
    if (!dlg) return false;
    if (Record* r = find(dlg)) return !r->closing;
    auto rec = std::make_unique<Record>();
    rec->dialog = dlg;
    rec->pluginId = pluginId;
    dialogs_.push_back(std::move(rec));

    const bool created = dlg->createLayout() != 0;
    if (!find(dlg)) return false;  // closed or forgotten while creating
    if (!created) {
        remove(dlg);
        return false;
    }
    const bool initialised = dlg->initValues() != 0;
    if (!find(dlg)) return false;
    if (!initialised) {
        remove(dlg);
        return false;
    }
    std::vector<HostUserAreaBase*> areas;
    for (const Gadget& g : find(dlg)->gadgets)
        if (g.area) areas.push_back(g.area);
    for (HostUserAreaBase* a : areas)
        if (findArea(a)) a->initValues();
    if (Record* r = find(dlg)) relayout(*r);
    return find(dlg) != nullptr;
}

void DialogHost::closeByModule(HostDialogBase* dlg) {
    Record* r = find(dlg);
    if (!r || r->closing) return;
    r->closing = true;
    dlg->destroyWindow();
    remove(dlg);
}

void DialogHost::forget(HostDialogBase* dlg) { remove(dlg); }

bool DialogHost::loadLayout(HostDialogBase* dlg, int32_t layoutId) {
    Record* r = find(dlg);
    const Layout* layout = resources_ ? resources_->layout(layoutId) : nullptr;
    if (!r || !layout) return false;
    std::vector<Gadget> gadgets;
    gadgets.reserve(layout->gadgets.size());
    for (const LayoutGadget& lg : layout->gadgets) {
        Gadget g;
        g.id = lg.id;
        g.kind = lg.kind;
        g.parent = lg.parent;
        g.label = lg.label;
        g.enabled = !lg.disabled;
        switch (g.kind) {
            case GadgetKind::Checkbox:
                g.value = Gadget::Value::Bool;
                break;
            case GadgetKind::Integer:
                g.value = Gadget::Value::Number;
                g.integer = true;
                break;
            case GadgetKind::Real:
            case GadgetKind::Percent:
                g.value = Gadget::Value::Number;
                break;
            case GadgetKind::Text:
            case GadgetKind::EditText:
            case GadgetKind::Filename:
                g.value = Gadget::Value::Text;
                break;
            case GadgetKind::Color:
                g.value = Gadget::Value::Colour;
                break;
            case GadgetKind::Choice:
            case GadgetKind::Popup:
            case GadgetKind::RadioGroup:
                g.value = Gadget::Value::Number;
                for (const LayoutGadget* c : layout->choices(g.id)) g.choices.emplace_back(c->id, c->label);
                g.number = g.choices.empty() ? 0 : g.choices.front().first;
                break;
            default:
                break;
        }
        gadgets.push_back(std::move(g));
    }
    r->gadgets = std::move(gadgets);
    r->layoutId = layoutId;
    r->title = layout->title;
    relayout(*r);
    return true;
}

bool DialogHost::attachUserArea(HostDialogBase* dlg, int32_t gadgetId, HostUserAreaBase* area) {
    Gadget* g = findGadget(dlg, gadgetId);
    if (!g || !area || g->kind != GadgetKind::UserArea) return false;
    if (g->area == area) return true;
    if (Gadget* old = findArea(area)) {  // an area lives in one gadget at a time
        old->area = nullptr;
        old->canvas.clear();
    }
    g->area = area;
    g->canvas.clear();
    const bool ok = area->init() != 0;
    g = findGadget(dlg, gadgetId);
    if (!g || g->area != area) return false;
    if (!ok) {
        g->area = nullptr;
        return false;
    }
    relayout(*find(dlg));
    return true;
}

void DialogHost::relayout(Record& record) {
    HostDialogBase* dlg = record.dialog;
    // Ask every area for its size first: the answers may call back into the host.
    struct AreaSize {
        int32_t gadget;
        HostUserAreaBase* area;
        int32_t w, h;
    };
    std::vector<AreaSize> sizes;
    for (const Gadget& g : record.gadgets)
        if (g.area) sizes.push_back({g.id, g.area, 0, 0});
    for (AreaSize& s : sizes) {
        int32_t w = 0, h = 0;
        if (findArea(s.area)) s.area->minimumSize(&w, &h);
        s.w = std::clamp<int32_t>(w, 0, kMaxAreaSide);
        s.h = std::clamp<int32_t>(h, 0, kMaxAreaSide);
    }
    Record* r = find(dlg);
    if (!r) return;
    auto areaSize = [&](const Gadget& g, int32_t& w, int32_t& h) {
        for (const AreaSize& s : sizes)
            if (s.gadget == g.id && s.area == g.area) {
                w = s.w;
                h = s.h;
                return true;
            }
        return false;
    };

    const std::vector<const Gadget*> order = treeOrder(*r);
    int32_t width = kMinWidth;
    for (const Gadget* g : order) {
        int32_t w = 0, h = 0;
        if (g->kind == GadgetKind::UserArea && areaSize(*g, w, h))
            width = std::max(width, kMargin + depth(*r, *g) * kIndent + w + kMargin);
    }
    // Rows in tree order; containers then stretch over their children.
    int32_t y = kMargin;
    std::vector<std::pair<int32_t, int32_t>> rects;  // index into order -> top
    for (const Gadget* cg : order) {
        Gadget& g = *r->find(cg->id);
        const int32_t x = kMargin + depth(*r, g) * kIndent;
        int32_t w = width - x - kMargin, h = kRow;
        int32_t aw = 0, ah = 0;
        if (g.kind == GadgetKind::UserArea && areaSize(g, aw, ah)) {
            w = aw;
            h = ah;
        }
        g.rect = {x, y, w, h};
        y += h;
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const Gadget& child = **it;
        if (!child.parent) continue;
        Gadget* parent = r->find(child.parent);
        if (!parent || parent->kind == GadgetKind::Choice || parent->kind == GadgetKind::Popup) continue;
        parent->rect.h = std::max(parent->rect.h, child.rect.y + child.rect.h - parent->rect.y);
    }
    // Canvases follow the areas' sizes; an area whose size changed is told so.
    std::vector<std::pair<HostUserAreaBase*, std::pair<int32_t, int32_t>>> resized;
    for (Gadget& g : r->gadgets) {
        if (!g.area) continue;
        const int32_t w = g.rect.w, h = g.rect.h;
        if (g.canvas.width() == w && g.canvas.height() == h && !(w == 0 || h == 0)) continue;
        if (w == 0 || h == 0) {
            if (g.canvas.empty()) continue;
            g.canvas.clear();
        } else {
            g.canvas.init(w, h, 3, 8);
            fillRect(g.canvas, 0, 0, w - 1, h - 1, kAreaBackground);
        }
        resized.push_back({g.area, {w, h}});
    }
    for (auto& [area, size] : resized)
        if (findArea(area)) area->sized(size.first, size.second);
}

// ---------------------------------------------------------------------------------------------
// Gadget values as the module sets and reads them

bool DialogHost::setInt(HostDialogBase* dlg, int32_t id, int32_t v, int32_t min, int32_t max, int32_t step) {
    Gadget* g = findGadget(dlg, id);
    if (!g) return false;
    if (g->kind == GadgetKind::Checkbox) {
        g->flag = v != 0;
        return true;
    }
    if (!isNumberKind(g->kind) && !isChoiceKind(g->kind)) return false;
    g->value = Gadget::Value::Number;
    g->integer = isNumberKind(g->kind);
    g->limited = true;
    g->min = min;
    g->max = max;
    g->step = step;
    g->number = clampToLimits(*g, v);
    return true;
}

bool DialogHost::setReal(HostDialogBase* dlg, int32_t id, double v, double min, double max, double step,
                         int32_t format) {
    Gadget* g = findGadget(dlg, id);
    if (!g || !isNumberKind(g->kind)) return false;
    if (std::isnan(v) || std::isnan(min) || std::isnan(max)) return false;
    g->value = Gadget::Value::Number;
    g->integer = false;
    g->format = format;
    g->limited = true;
    g->min = min;
    g->max = max;
    g->step = step;
    g->number = clampToLimits(*g, v);
    return true;
}

bool DialogHost::setBool(HostDialogBase* dlg, int32_t id, bool v) {
    Gadget* g = findGadget(dlg, id);
    if (!g || g->kind != GadgetKind::Checkbox) return false;
    g->flag = v;
    return true;
}

bool DialogHost::setString(HostDialogBase* dlg, int32_t id, const std::string& v) {
    Gadget* g = findGadget(dlg, id);
    if (!g) return false;
    if (isTextKind(g->kind)) {
        g->text = v;
        return true;
    }
    if (isNumberKind(g->kind)) {
        // The field takes the text as if it were typed, within its limits.
        const std::optional<double> n = parseNumber(v, g->isPercent());
        if (!n) return false;
        g->number = clampToLimits(*g, g->integer ? std::trunc(*n) : *n);
        return true;
    }
    if (isChoiceKind(g->kind)) {
        for (const auto& c : g->choices)
            if (c.second == v) {
                g->number = c.first;
                return true;
            }
        return false;
    }
    if (isCaptionKind(g->kind)) {
        g->label = v;
        return true;
    }
    return false;
}

bool DialogHost::setFilename(HostDialogBase* dlg, int32_t id, const std::string& v) {
    Gadget* g = findGadget(dlg, id);
    if (!g || !isTextKind(g->kind)) return false;
    g->text = v;
    return true;
}

bool DialogHost::setColour(HostDialogBase* dlg, int32_t id, const Colour& c, double maxBrightness, int32_t flags) {
    Gadget* g = findGadget(dlg, id);
    if (!g || g->kind != GadgetKind::Color) return false;
    if (std::isnan(c.rgb.x) || std::isnan(c.rgb.y) || std::isnan(c.rgb.z) || std::isnan(c.brightness) ||
        std::isnan(maxBrightness))
        return false;
    g->maxBrightness = maxBrightness;
    g->colourFlags = flags;
    g->colour.rgb = {clamp01(c.rgb.x), clamp01(c.rgb.y), clamp01(c.rgb.z)};
    g->colour.brightness = std::max(0.0, maxBrightness > 0 ? std::min(c.brightness, maxBrightness) : c.brightness);
    return true;
}

bool DialogHost::getInt(HostDialogBase* dlg, int32_t id, int32_t& out) const {
    double number = 0;
    if (!getReal(dlg, id, number)) return false;
    const double t = std::trunc(number);
    out = t >= static_cast<double>(INT32_MAX)   ? INT32_MAX
          : t <= static_cast<double>(INT32_MIN) ? INT32_MIN
                                                : static_cast<int32_t>(t);
    return true;
}

bool DialogHost::getReal(HostDialogBase* dlg, int32_t id, double& out) const {
    const Gadget* g = findGadget(dlg, id);
    if (!g) return false;
    if (g->kind == GadgetKind::Checkbox) {
        out = g->flag ? 1.0 : 0.0;
        return true;
    }
    if (!isNumberKind(g->kind) && !isChoiceKind(g->kind)) return false;
    out = g->number;
    return true;
}

bool DialogHost::getBool(HostDialogBase* dlg, int32_t id, bool& out) const {
    const Gadget* g = findGadget(dlg, id);
    if (!g) return false;
    if (g->kind == GadgetKind::Checkbox) {
        out = g->flag;
        return true;
    }
    if (!isNumberKind(g->kind)) return false;
    out = g->number != 0;
    return true;
}

bool DialogHost::getString(HostDialogBase* dlg, int32_t id, std::string& out) const {
    const Gadget* g = findGadget(dlg, id);
    if (!g) return false;
    if (isTextKind(g->kind)) {
        out = g->text;
        return true;
    }
    if (isNumberKind(g->kind) || isChoiceKind(g->kind)) {
        out = g->valueText();
        return true;
    }
    if (isCaptionKind(g->kind)) {
        out = g->label;
        return true;
    }
    return false;
}

bool DialogHost::getFilename(HostDialogBase* dlg, int32_t id, std::string& out) const {
    const Gadget* g = findGadget(dlg, id);
    if (!g || !isTextKind(g->kind)) return false;
    out = g->text;
    return true;
}

bool DialogHost::getColour(HostDialogBase* dlg, int32_t id, Colour& out) const {
    const Gadget* g = findGadget(dlg, id);
    if (!g || g->kind != GadgetKind::Color) return false;
    out = g->colour;
    return true;
}

bool DialogHost::enable(HostDialogBase* dlg, int32_t id, bool on) {
    Gadget* g = findGadget(dlg, id);
    if (!g) return false;
    g->enabled = on;
    return true;
}

void DialogHost::setTimer(HostDialogBase* dlg, int32_t periodMs) {
    Record* r = find(dlg);
    if (!r) return;
    r->timerPeriod = std::max<int32_t>(periodMs, 0);
    r->timerDue = periodMs > 0 ? (clock_ ? clock_() : clockMs()) + periodMs : 0;
}

bool DialogHost::gadgetRect(HostDialogBase* dlg, int32_t id, Rect& out) const {
    const Gadget* g = findGadget(dlg, id);
    if (!g) return false;
    out = g->rect;
    return true;
}

void DialogHost::setDragCursor(HostDialogBase* dlg, int32_t cursor) {
    if (find(dlg)) dragCursor_ = cursor;
}

int32_t DialogHost::dragItemCount(const Settings& msg) { return std::max(0, msg.getInt(DLG_MSG_DRAG_COUNT, 0)); }

void* DialogHost::dragItem(const Settings& msg, int32_t i, int32_t* kind) {
    if (i < 0 || i >= dragItemCount(msg)) {
        if (kind) *kind = 0;
        return nullptr;
    }
    if (kind) *kind = msg.getInt(DLG_MSG_DRAG_ITEMS + 2 * i + 1, 0);
    return msg.getLink(DLG_MSG_DRAG_ITEMS + 2 * i);
}

int32_t DialogHost::command(HostDialogBase* dlg, int32_t gadgetId, bool dragging) {
    Settings msg;
    msg.setInt(HOST_MSG_ID, DLG_MSGKIND_COMMAND);
    msg.setBool(DLG_MSG_DRAGGING, dragging);
    return dlg->command(gadgetId, wrapSettings(msg));
}

void DialogHost::deliver(const Event& e) {
    Settings msg;
    msg.setInt(HOST_MSG_ID, e.id);
    msg.setInt(DLG_MSG_VALUE1, e.value1);
    msg.setInt(DLG_MSG_VALUE2, e.value2);
    for (HostDialogBase* dlg : openDialogs()) {
        const Record* r = find(dlg);
        if (!r || r->closing) continue;
        if (e.kind == Event::Kind::DialogMessage) {
            const bool forThis = e.target ? e.target == dlg : r->pluginId == e.id;
            if (!forThis) continue;
        }
        dlg->coreMessage(e.id, wrapSettings(msg));
    }
    if (observer_) observer_(e);
}

}  // namespace host
