// The person at the dialog, as a front end or a test scripts it: entries, presses, choices, drags
// in user areas, drops, closing, the file chooser's answers, and time passing for the timers.
#include "Dialogs.h"

#include <algorithm>
#include <string>

#include "host/GadgetRules.h"
#include "host/HostHandles.h"
#include "host/Services.h"

namespace host {

using namespace gadget_rules;

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

}  // namespace host
