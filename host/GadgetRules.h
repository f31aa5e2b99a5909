// Rules shared by the dialog host's files: how gadget kinds take values, how typed text becomes a
// number, and the one rectangle fill used by the layout and the canvases.
#pragma once

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "host/Dialogs.h"

namespace host::gadget_rules {

inline std::string trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

inline std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A finite number written in full (a trailing "%" divides by 100); nothing else.
inline std::optional<double> parseNumber(const std::string& input, bool percentField) {
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

inline bool isNumberKind(GadgetKind k) {
    return k == GadgetKind::Integer || k == GadgetKind::Real || k == GadgetKind::Percent;
}

inline bool isTextKind(GadgetKind k) {
    return k == GadgetKind::Text || k == GadgetKind::EditText || k == GadgetKind::Filename;
}

// Kinds whose text is a caption rather than a value.
inline bool isCaptionKind(GadgetKind k) {
    return k == GadgetKind::Button || k == GadgetKind::Group || k == GadgetKind::DropArea ||
           k == GadgetKind::Checkbox || k == GadgetKind::Radio || k == GadgetKind::UserArea;
}

// Clamps to the gadget's limits; an empty range (min above max) leaves the value as it is.
inline double clampToLimits(const Gadget& g, double v) {
    if (!g.limited || g.min > g.max) return v;
    return std::clamp(v, g.min, g.max);
}

inline double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

inline void fillRect(Bitmap& b, int x1, int y1, int x2, int y2, const uint8_t rgb[3]) {
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

inline bool hasChoice(const Gadget& g, int32_t id) {
    for (const auto& c : g.choices)
        if (c.first == id) return true;
    return false;
}

}  // namespace host::gadget_rules
