// Dialogs read back as text: a gadget's value as the dialog shows it, and a whole dialog, one
// gadget a line in tree order.
#include "Dialogs.h"

#include <cmath>
#include <cstdio>

#include "host/GadgetRules.h"
#include "host/HostHandles.h"
#include "host/Services.h"

namespace host {

using namespace gadget_rules;

namespace {

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

}  // namespace

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

}  // namespace host
