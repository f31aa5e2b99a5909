// Headless dialogs: gadget state, the stacked layout, user areas and their canvases, and the
// person's side (entries, presses, drags, drops, timers, events).
#include "Dialogs.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "host/HostHandles.h"
#include "host/Services.h"

namespace host {

namespace {

constexpr int32_t kRow = 20;
constexpr int32_t kIndent = 12;
constexpr int32_t kMargin = 8;
constexpr int32_t kMinWidth = 320;
constexpr int32_t kMaxAreaSide = 4096;

// Reals as a field shows them: plain decimals (up to nine, trailing zeros dropped) for everyday
// magnitudes, twelve significant digits with an exponent for the very large and very small.
std::string realText(double v) {
    if (!std::isfinite(v)) return numberText(v);
    char buf[64];
    const double a = std::fabs(v);
    if (a != 0 && (a >= 1e15 || a < 1e-9)) {
        std::snprintf(buf, sizeof buf, "%.12g", v);
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%.9f", v);
    std::string s = buf;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
}

std::string trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A finite number written in full (a trailing "%" divides by 100); nothing else.
std::optional<double> parseNumber(const std::string& input, bool percentField) {
    std::string s = trim(input);
    bool percent = percentField;
    if (!s.empty() && s.back() == '%') {
        percent = true;
        s = trim(s.substr(0, s.size() - 1));
    }
    if (s.empty()) return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || !std::isfinite(v)) return std::nullopt;
    return percent ? v / 100.0 : v;
}

bool isNumberKind(GadgetKind k) {
    return k == GadgetKind::Integer || k == GadgetKind::Real || k == GadgetKind::Percent;
}

bool isTextKind(GadgetKind k) {
    return k == GadgetKind::Text || k == GadgetKind::EditText || k == GadgetKind::Filename;
}

// Kinds whose text is a caption rather than a value.
bool isCaptionKind(GadgetKind k) {
    return k == GadgetKind::Button || k == GadgetKind::Group || k == GadgetKind::DropArea ||
           k == GadgetKind::Checkbox || k == GadgetKind::Radio || k == GadgetKind::UserArea;
}

// Clamps to the gadget's limits; an empty range (min above max) leaves the value as it is.
double clampToLimits(const Gadget& g, double v) {
    if (!g.limited || g.min > g.max) return v;
    return std::clamp(v, g.min, g.max);
}

double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

uint8_t to8(double v) { return static_cast<uint8_t>(std::lround(clamp01(v) * 255.0)); }

void fillRect(Bitmap& b, int x1, int y1, int x2, int y2, const uint8_t rgb[3]) {
    if (b.empty()) return;
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, b.width() - 1);
    y2 = std::min(y2, b.height() - 1);
    for (int y = y1; y <= y2; ++y)
        for (int x = x1; x <= x2; ++x) b.setPixel(x, y, rgb[0], rgb[1], rgb[2]);
}

bool hasChoice(const Gadget& g, int32_t id) {
    for (const auto& c : g.choices)
        if (c.first == id) return true;
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Small types

DragItem DragItem::object(Object* o) { return {HOST_DRAG_OBJECT, toHandle(o)}; }
DragItem DragItem::tag(Tag* t) { return {HOST_DRAG_TAG, toHandle(t)}; }

bool Gadget::isPercent() const {
    if (integer) return false;
    return format == DLG_FORMAT_PERCENT || (format == 0 && kind == GadgetKind::Percent);
}

std::string Gadget::valueText() const {
    switch (kind) {
        case GadgetKind::Integer:
        case GadgetKind::Real:
        case GadgetKind::Percent:
            if (integer) return numberText(static_cast<long long>(number));
            return isPercent() ? realText(number * 100.0) + " %" : realText(number);
        case GadgetKind::Checkbox:
            return flag ? "[x]" : "[ ]";
        case GadgetKind::Choice:
        case GadgetKind::Popup:
        case GadgetKind::RadioGroup:
            for (const auto& c : choices)
                if (c.first == static_cast<int32_t>(number)) return c.second;
            return "(none)";
        case GadgetKind::Text:
        case GadgetKind::EditText:
            return text;
        case GadgetKind::Filename:
            return text.empty() ? "(none)" : text;
        case GadgetKind::Color:
            return "colour " + realText(colour.rgb.x) + " " + realText(colour.rgb.y) + " " + realText(colour.rgb.z) +
                   ", brightness " + realText(colour.brightness * 100.0) + " %";
        default:
            return label;
    }
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

DialogHost& DialogHost::main() {
    static DialogHost* host = [] {
        static DialogHost h;
        EventQueue::main().setHandler([](const Event& e) { DialogHost::main().deliver(e); });
        return &h;
    }();
    return *host;
}

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

bool DialogHost::chooseFile(std::string& path, bool forSave, const std::string& title) {
    FileRequest req{forSave, title, path, {}};
    std::string answer;
    if (!fileAnswers_.empty()) {
        answer = fileAnswers_.front();
        fileAnswers_.pop_front();
    }
    const bool chosen = !answer.empty() && answer != "cancel";
    if (chosen) {
        path = answer;
        req.answer = answer;
    }
    fileRequests_.push_back(std::move(req));
    return chosen;
}

// ---------------------------------------------------------------------------------------------
// User areas and their canvases

void DialogHost::drawArea(HostUserAreaBase* a) {
    Gadget* g = findArea(a);
    if (!g || g->canvas.empty()) return;
    if (std::find(drawing_.begin(), drawing_.end(), a) != drawing_.end()) return;  // no nested redraw
    const int32_t w = g->canvas.width(), h = g->canvas.height();
    drawing_.push_back(a);
    a->draw(0, 0, w - 1, h - 1);
    drawing_.erase(std::find(drawing_.begin(), drawing_.end(), a));
    if ((g = findArea(a))) ++g->drawCount;
}

void DialogHost::areaRedraw(HostUserAreaBase* a) {
    Gadget* g = findArea(a);
    if (!g) return;
    ++g->redrawRequests;
    drawArea(a);
}

bool DialogHost::areaSize(HostUserAreaBase* a, int32_t& w, int32_t& h) const {
    for (auto& r : dialogs_)
        for (const Gadget& g : r->gadgets)
            if (g.area == a) {
                w = g.rect.w;
                h = g.rect.h;
                return true;
            }
    return false;
}

int32_t DialogHost::borderWidth(int32_t style) { return style <= 0 ? 0 : style == 1 ? 1 : 2; }

void DialogHost::areaDrawBorder(HostUserAreaBase* a, int32_t style) {
    Gadget* g = findArea(a);
    if (!g || g->canvas.empty()) return;
    Bitmap& c = g->canvas;
    const int w = c.width(), h = c.height();
    for (int k = 0; k < borderWidth(style); ++k) {
        fillRect(c, k, k, w - 1 - k, k, kAreaBorder);
        fillRect(c, k, h - 1 - k, w - 1 - k, h - 1 - k, kAreaBorder);
        fillRect(c, k, k, k, h - 1 - k, kAreaBorder);
        fillRect(c, w - 1 - k, k, w - 1 - k, h - 1 - k, kAreaBorder);
    }
}

void DialogHost::areaClear(HostUserAreaBase* a, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    if (Gadget* g = findArea(a)) fillRect(g->canvas, x1, y1, x2, y2, kAreaBackground);
}

void DialogHost::areaSetPen(HostUserAreaBase* a, double r, double gr, double b) {
    Gadget* g = findArea(a);
    if (!g) return;
    g->pen[0] = to8(std::isnan(r) ? 0 : r);
    g->pen[1] = to8(std::isnan(gr) ? 0 : gr);
    g->pen[2] = to8(std::isnan(b) ? 0 : b);
}

void DialogHost::areaDrawLine(HostUserAreaBase* a, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    Gadget* g = findArea(a);
    if (!g || g->canvas.empty()) return;
    const int w = g->canvas.width(), h = g->canvas.height();
    long long ax = x1, ay = y1, bx = x2, by = y2;
    // Ends far off the canvas are first clipped to it (Liang-Barsky), so that the walk below stays
    // short; lines near the canvas are drawn unclipped, pixel for pixel.
    constexpr long long kFar = 4096;
    auto far = [&](long long v, int size) { return v < -kFar || v > size + kFar; };
    if (far(ax, w) || far(bx, w) || far(ay, h) || far(by, h)) {
        const double dx = static_cast<double>(bx - ax), dy = static_cast<double>(by - ay);
        const double p[4] = {-dx, dx, -dy, dy};
        const double q[4] = {static_cast<double>(ax + 1), static_cast<double>(w - ax), static_cast<double>(ay + 1),
                             static_cast<double>(h - ay)};
        double t0 = 0, t1 = 1;
        for (int i = 0; i < 4; ++i) {
            if (p[i] == 0) {
                if (q[i] < 0) return;
                continue;
            }
            const double t = q[i] / p[i];
            if (p[i] < 0) {
                if (t > t1) return;
                t0 = std::max(t0, t);
            } else {
                if (t < t0) return;
                t1 = std::min(t1, t);
            }
        }
        const long long cx1 = std::llround(ax + t0 * dx), cy1 = std::llround(ay + t0 * dy);
        const long long cx2 = std::llround(ax + t1 * dx), cy2 = std::llround(ay + t1 * dy);
        ax = cx1;
        ay = cy1;
        bx = cx2;
        by = cy2;
    }
    // Bresenham, both ends included; pixels off the canvas are skipped.
    const long long dx = std::llabs(bx - ax), sx = ax < bx ? 1 : -1;
    const long long dy = -std::llabs(by - ay), sy = ay < by ? 1 : -1;
    long long err = dx + dy;
    for (long long x = ax, y = ay;;) {
        if (x >= 0 && y >= 0 && x < w && y < h)
            g->canvas.setPixel(static_cast<int>(x), static_cast<int>(y), g->pen[0], g->pen[1], g->pen[2]);
        if (x == bx && y == by) break;
        const long long e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

void DialogHost::areaDrawBitmap(HostUserAreaBase* a, const Bitmap& b, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                                int32_t dx, int32_t dy, int32_t dw, int32_t dh, int32_t mode) {
    Gadget* g = findArea(a);
    if (!g || g->canvas.empty() || b.empty() || sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
    Bitmap& c = g->canvas;
    const bool alpha = (mode & DLG_BLIT_ALPHA) && b.channels() == 4;
    // Only the part of the target rectangle that lies on the canvas is visited.
    const long long i0 = std::max<long long>(0, -static_cast<long long>(dx));
    const long long j0 = std::max<long long>(0, -static_cast<long long>(dy));
    const long long i1 = std::min<long long>(dw, static_cast<long long>(c.width()) - dx);
    const long long j1 = std::min<long long>(dh, static_cast<long long>(c.height()) - dy);
    for (long long j = j0; j < j1; ++j) {
        const long long y = static_cast<long long>(sy) + j * sh / dh;  // nearest source row
        if (y < 0 || y >= b.height()) continue;
        for (long long i = i0; i < i1; ++i) {
            const long long x = static_cast<long long>(sx) + i * sw / dw;
            if (x < 0 || x >= b.width()) continue;
            uint8_t rgb[3];
            if (b.channels() == 1) {
                rgb[0] = rgb[1] = rgb[2] = b.get8(static_cast<int>(x), static_cast<int>(y), 0);
            } else {
                for (int k = 0; k < 3; ++k) rgb[k] = b.get8(static_cast<int>(x), static_cast<int>(y), k);
            }
            const int tx = static_cast<int>(dx + i), ty = static_cast<int>(dy + j);
            if (alpha) {
                const int al = b.get8(static_cast<int>(x), static_cast<int>(y), 3);
                for (int k = 0; k < 3; ++k)
                    rgb[k] = static_cast<uint8_t>((rgb[k] * al + c.get8(tx, ty, k) * (255 - al) + 127) / 255);
            }
            c.setPixel(tx, ty, rgb[0], rgb[1], rgb[2]);
        }
    }
}

void DialogHost::areaNotify(HostUserAreaBase* a, bool dragging) {
    Record* r = nullptr;
    Gadget* g = nullptr;
    if (!locateArea(a, r, g)) return;
    command(r->dialog, g->id, dragging);
}

int32_t DialogHost::command(HostDialogBase* dlg, int32_t gadgetId, bool dragging) {
    Settings msg;
    msg.setInt(HOST_MSG_ID, DLG_MSGKIND_COMMAND);
    msg.setBool(DLG_MSG_DRAGGING, dragging);
    return dlg->command(gadgetId, wrapSettings(msg));
}

// ---------------------------------------------------------------------------------------------
// The mouse drag loop

void DialogHost::scriptDrag(const std::vector<DragMove>& moves, bool cancel) {
    dragScript_.assign(moves.begin(), moves.end());
    dragCancel_ = cancel;
    dragMovesUsed_ = 0;
}

bool DialogHost::mouseDragStart(int32_t button, double x, double y, int32_t /*flags*/) {
    dragActive_ = true;
    dragCancelled_ = false;
    dragButton_ = button;
    dragX_ = x;
    dragY_ = y;
    return true;
}

int32_t DialogHost::mouseDrag(double* dx, double* dy, Settings* channels) {
    double mx = 0, my = 0;
    int32_t answer = DLG_DRAG_RELEASED;
    if (dragActive_ && !dragScript_.empty()) {
        const DragMove m = dragScript_.front();
        dragScript_.pop_front();
        ++dragMovesUsed_;
        mx = m.dx;
        my = m.dy;
        dragX_ += m.dx;
        dragY_ += m.dy;
        answer = DLG_DRAG_CONTINUE;
    } else if (dragActive_ && dragCancel_) {
        dragCancelled_ = true;
        answer = DLG_DRAG_CANCELLED;
    }
    if (dx) *dx = mx;
    if (dy) *dy = my;
    if (channels) {
        channels->setInt(HOST_MSG_CHANNEL, dragButton_);
        channels->setReal(HOST_MSG_MOUSE_X, dragX_);
        channels->setReal(HOST_MSG_MOUSE_Y, dragY_);
        channels->setBool(DLG_MSG_DRAGGING, answer == DLG_DRAG_CONTINUE);
    }
    return answer;
}

bool DialogHost::mouseDragEnd() {
    const bool cancelled = dragCancelled_;
    dragActive_ = false;
    dragCancelled_ = false;
    dragScript_.clear();  // the button is up: moves not taken are gone
    dragCancel_ = false;
    return cancelled;
}

// ---------------------------------------------------------------------------------------------
// What a person does

bool DialogHost::applyUserValue(Gadget& g, const UserValue& v) {
    if (isNumberKind(g.kind)) {
        double n = 0;
        if (v.type == UserValue::Type::Number) {
            n = v.number;
        } else if (v.type == UserValue::Type::Text) {
            const std::optional<double> p = parseNumber(v.text, g.isPercent());
            if (!p) return false;
            n = *p;
        } else {
            return false;
        }
        if (!std::isfinite(n)) return false;
        if (g.limited && g.min > g.max) return false;  // an empty range takes nothing
        if (g.integer) n = std::clamp(std::round(n), static_cast<double>(INT32_MIN), static_cast<double>(INT32_MAX));
        g.number = clampToLimits(g, n);
        return true;
    }
    switch (g.kind) {
        case GadgetKind::Checkbox:
            if (v.type == UserValue::Type::Bool)
                g.flag = v.flag;
            else if (v.type == UserValue::Type::Number && (v.number == 0 || v.number == 1))
                g.flag = v.number != 0;
            else
                return false;
            return true;
        case GadgetKind::Choice:
        case GadgetKind::Popup:
        case GadgetKind::RadioGroup:
            if (v.type != UserValue::Type::Number || !hasChoice(g, static_cast<int32_t>(v.number)) ||
                v.number != std::trunc(v.number))
                return false;
            g.number = v.number;
            return true;
        case GadgetKind::EditText:
        case GadgetKind::Filename:
            if (v.type != UserValue::Type::Text) return false;
            g.text = v.text;
            return true;
        case GadgetKind::Color: {
            if (v.type != UserValue::Type::Colour) return false;
            const Colour& c = v.colour;
            if (!std::isfinite(c.rgb.x) || !std::isfinite(c.rgb.y) || !std::isfinite(c.rgb.z) ||
                !std::isfinite(c.brightness))
                return false;
            g.colour.rgb = {clamp01(c.rgb.x), clamp01(c.rgb.y), clamp01(c.rgb.z)};
            g.colour.brightness =
                std::max(0.0, g.maxBrightness > 0 ? std::min(c.brightness, g.maxBrightness) : c.brightness);
            return true;
        }
        default:
            return false;
    }
}

bool DialogHost::setByUser(HostDialogBase* dlg, int32_t id, const UserValue& value) {
    Record* r = find(dlg);
    Gadget* g = r ? r->find(id) : nullptr;
    if (!g || r->closing || !usable(*r, *g)) return false;
    if (!applyUserValue(*g, value)) return false;
    command(dlg, id, false);
    return true;
}

bool DialogHost::enter(HostDialogBase* dlg, int32_t id, const std::string& text) {
    const Gadget* g = findGadget(dlg, id);
    if (!g) return false;
    const std::string t = trim(text);
    if (isNumberKind(g->kind)) return setByUser(dlg, id, UserValue(text));
    switch (g->kind) {
        case GadgetKind::Checkbox: {
            const std::string l = lower(t);
            if (l == "on" || l == "yes" || l == "true" || l == "1" || l == "x") return setByUser(dlg, id, true);
            if (l == "off" || l == "no" || l == "false" || l == "0") return setByUser(dlg, id, false);
            return false;
        }
        case GadgetKind::Choice:
        case GadgetKind::Popup:
        case GadgetKind::RadioGroup: {
            for (const auto& c : g->choices)
                if (lower(c.second) == lower(t) || std::to_string(c.first) == t) return choose(dlg, id, c.first);
            return false;
        }
        case GadgetKind::EditText:
        case GadgetKind::Filename:
            return setByUser(dlg, id, UserValue(text));
        case GadgetKind::Color: {
            std::istringstream in(t);
            Colour c;
            if (!(in >> c.rgb.x >> c.rgb.y >> c.rgb.z)) return false;
            if (!(in >> c.brightness)) {
                if (!in.eof()) return false;
                c.brightness = g->colour.brightness;
            }
            std::string rest;
            if (in.clear(), in >> rest) return false;
            return setByUser(dlg, id, UserValue(c));
        }
        default:
            return false;
    }
}

bool DialogHost::press(HostDialogBase* dlg, int32_t id) {
    Record* r = find(dlg);
    const Gadget* g = r ? r->find(id) : nullptr;
    if (!g || r->closing || !usable(*r, *g)) return false;
    switch (g->kind) {
        case GadgetKind::Button:
            command(dlg, id, false);
            return true;
        case GadgetKind::Checkbox:
            return setByUser(dlg, id, !g->flag);
        case GadgetKind::Radio:
            return choose(dlg, g->parent, id);
        default:
            return false;
    }
}

bool DialogHost::choose(HostDialogBase* dlg, int32_t id, int32_t choiceId) {
    Record* r = find(dlg);
    const Gadget* g = r ? r->find(id) : nullptr;
    if (!g || !isChoiceKind(g->kind) || !hasChoice(*g, choiceId)) return false;
    const Gadget* entry = r->find(choiceId);
    if (entry && !usable(*r, *entry)) return false;
    return setByUser(dlg, id, UserValue(static_cast<long long>(choiceId)));
}

AreaDragResult DialogHost::dragUserArea(HostDialogBase* dlg, int32_t id, int32_t button, double x, double y,
                                        const std::vector<DragMove>& moves, bool cancel) {
    AreaDragResult result;
    Record* r = find(dlg);
    const Gadget* g = r ? r->find(id) : nullptr;
    if (!g || !g->area || r->closing || !usable(*r, *g)) return result;
    HostUserAreaBase* area = g->area;
    scriptDrag(moves, cancel);
    Settings msg;
    msg.setInt(HOST_MSG_ID, HOST_MSGKIND_INPUT);
    msg.setInt(HOST_MSG_CHANNEL, button);
    msg.setReal(HOST_MSG_MOUSE_X, x);
    msg.setReal(HOST_MSG_MOUSE_Y, y);
    result.delivered = true;
    result.answer = area->inputEvent(wrapSettings(msg));
    result.movesUsed = dragMovesUsed_;
    // A press that ran no drag loop (or left it early) leaves the button up all the same.
    dragActive_ = false;
    dragCancelled_ = false;
    dragCancel_ = false;
    dragScript_.clear();
    return result;
}

DropResult DialogHost::drop(HostDialogBase* dlg, int32_t id, const std::vector<DragItem>& items, bool finished) {
    const Gadget* g = findGadget(dlg, id);
    if (!g || g->kind == GadgetKind::Entry) return {};
    return dropAt(dlg, g->rect.x + g->rect.w / 2.0, g->rect.y + g->rect.h / 2.0, items, finished);
}

DropResult DialogHost::dropAt(HostDialogBase* dlg, double x, double y, const std::vector<DragItem>& items,
                              bool finished) {
    DropResult result;
    Record* r = find(dlg);
    if (!r || r->closing) return result;
    // The gadget under the pointer is the deepest one whose rectangle holds it; a disabled one
    // (or one in a disabled group) takes no drop.
    const Gadget* under = nullptr;
    for (const Gadget* g : treeOrder(*r))
        if (g->rect.contains(x, y)) under = g;
    if (under && !usable(*r, *under)) return result;

    Settings msg;
    msg.setInt(HOST_MSG_ID, HOST_MSGKIND_DRAG_RECEIVE);
    msg.setReal(HOST_MSG_MOUSE_X, x);
    msg.setReal(HOST_MSG_MOUSE_Y, y);
    msg.setBool(HOST_MSG_DRAG_FINISHED, finished);
    msg.setInt(DLG_MSG_DRAG_COUNT, static_cast<int32_t>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        msg.setLink(DLG_MSG_DRAG_ITEMS + 2 * static_cast<int32_t>(i), items[i].handle);
        msg.setInt(DLG_MSG_DRAG_ITEMS + 2 * static_cast<int32_t>(i) + 1, items[i].kind);
    }
    Settings answer;
    dragCursor_ = 0;
    result.delivered = true;
    result.answer = dlg->message(wrapSettings(msg), wrapSettings(answer));
    result.cursor = dragCursor_;
    return result;
}

bool DialogHost::close(HostDialogBase* dlg) {
    Record* r = find(dlg);
    if (!r || r->closing) return false;
    const int32_t answer = dlg->askClose();
    if (!find(dlg)) return true;  // it closed itself
    if (answer != 0) return false;
    closeByModule(dlg);
    return true;
}

int DialogHost::tick(int64_t nowMs) {
    int ran = 0;
    for (HostDialogBase* dlg : openDialogs()) {
        Record* r = find(dlg);
        if (!r || r->closing || r->timerPeriod <= 0 || nowMs < r->timerDue) continue;
        // A late tick runs the timer once; the next one is due at the first period boundary after now.
        const int64_t period = r->timerPeriod;
        r->timerDue += period * ((nowMs - r->timerDue) / period + 1);
        Settings msg;
        msg.setInt(HOST_MSG_ID, DLG_MSGKIND_TIMER);
        dlg->timer(wrapSettings(msg));
        ++ran;
    }
    return ran;
}

int DialogHost::tick() { return tick(clock_ ? clock_() : clockMs()); }

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

// ---------------------------------------------------------------------------------------------
// Reading back

std::string DialogHost::render(HostDialogBase* dlg) const {
    const Record* r = find(dlg);
    if (!r) return {};
    std::string out = r->title.empty() ? std::string("(untitled dialog)") : r->title;
    out += "\n";
    for (const Gadget* g : treeOrder(*r)) {
        std::string line(static_cast<size_t>(2 * (depth(*r, *g) + 1)), ' ');
        auto labelled = [&](const std::string& value) { return g->label.empty() ? value : g->label + ": " + value; };
        switch (g->kind) {
            case GadgetKind::Group:
                line += g->label + ":";
                break;
            case GadgetKind::DropArea:
                line += labelled("[drop here]");
                break;
            case GadgetKind::RadioGroup:
                line += g->label + ":";
                break;
            case GadgetKind::Radio: {
                const Gadget* group = r->find(g->parent);
                const bool on = group && static_cast<int32_t>(group->number) == g->id;
                line += (on ? "(*) " : "( ) ") + g->label;
                break;
            }
            case GadgetKind::Checkbox:
                line += g->valueText() + " " + g->label;
                break;
            case GadgetKind::Button:
                line += "[" + g->label + "]";
                break;
            case GadgetKind::UserArea:
                line += labelled("[area " + std::to_string(g->rect.w) + " x " + std::to_string(g->rect.h) + "]");
                break;
            default:
                line += labelled(g->valueText());
                break;
        }
        if (!usable(*r, *g)) line += " (disabled)";
        out += line + "\n";
    }
    return out;
}

Bitmap DialogHost::renderUserArea(HostDialogBase* dlg, int32_t id) {
    const Gadget* g = findGadget(dlg, id);
    if (!g || !g->area) return {};
    drawArea(g->area);
    g = findGadget(dlg, id);
    return g ? g->canvas : Bitmap{};
}

}  // namespace host
