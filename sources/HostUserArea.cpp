#include "sources/HostUserArea.h"

#include "sources/Module.h"

void HostUserArea::redraw() { moduleApi()->uaRedraw(this); }

void HostUserArea::size(int32_t& w, int32_t& h) {
    int32_t width = 0, height = 0;
    moduleApi()->uaSize(this, &width, &height);
    w = width;
    h = height;
}

void HostUserArea::borderSize(int32_t style, int32_t out[4]) { moduleApi()->uaBorderSize(this, style, out); }

void HostUserArea::drawBorder(int32_t style) { moduleApi()->uaDrawBorder(this, style); }

void HostUserArea::clear(int32_t x1, int32_t y1, int32_t x2, int32_t y2) { moduleApi()->uaClear(this, x1, y1, x2, y2); }

void HostUserArea::setPen(double r, double g, double b) { moduleApi()->uaSetPen(this, r, g, b); }

void HostUserArea::drawLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    moduleApi()->uaDrawLine(this, x1, y1, x2, y2);
}

void HostUserArea::drawBitmap(const HostBitmap& bitmap, int32_t sx, int32_t sy, int32_t sw, int32_t sh, int32_t dx,
                              int32_t dy, int32_t dw, int32_t dh, int32_t mode) {
    if (!bitmap.valid()) return;
    moduleApi()->uaDrawBitmap(this, bitmap.handle(), sx, sy, sw, sh, dx, dy, dw, dh, mode);
}

void HostUserArea::notify(bool dragging) { moduleApi()->uaNotify(this, dragging ? 1 : 0); }
