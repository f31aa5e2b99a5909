// The canvases user areas draw on: size, border, clearing, pen, lines and bitmaps, and reading a
// drawn area back as a picture.
#include "Dialogs.h"

#include <algorithm>
#include <cmath>

#include "host/GadgetRules.h"
#include "host/HostHandles.h"
#include "host/Services.h"

namespace host {

using namespace gadget_rules;

namespace {

uint8_t to8(double v) { return static_cast<uint8_t>(std::lround(clamp01(v) * 255.0)); }

}  // namespace

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
    const bool alpha = (mode & HOST_BLIT_ALPHA) && b.channels() == 4;
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

// ---------------------------------------------------------------------------------------------
// Reading a user area back as a picture

Bitmap DialogHost::renderUserArea(HostDialogBase* dlg, int32_t id) {
    const Gadget* g = findGadget(dlg, id);
    if (!g || !g->area) return {};
    drawArea(g->area);
    g = findGadget(dlg, id);
    return g ? g->canvas : Bitmap{};
}

}  // namespace host
