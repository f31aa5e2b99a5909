// Base of the module's user areas (gadgets that draw themselves and take mouse input): the host
// user-area interface plus drawing helpers that call the host for this area.
#pragma once

#include <cstdint>

#include "sources/HostBitmap.h"
#include "sources/HostInterface.h"

class HostUserArea : public HostUserAreaBase {
public:
    HostUserArea() = default;
    HostUserArea(const HostUserArea&) = delete;
    HostUserArea& operator=(const HostUserArea&) = delete;

    void redraw();
    // The area's current size (0 × 0 before the host laid it out).
    void size(int32_t& w, int32_t& h);
    // Border widths of a style: left, top, right, bottom.
    void borderSize(int32_t style, int32_t out[4]);
    void drawBorder(int32_t style);
    void clear(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    // Pen colour, each channel 0..1.
    void setPen(double r, double g, double b);
    void drawLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    // Copies the source rectangle of a bitmap into the destination rectangle.
    void drawBitmap(const HostBitmap& bitmap, int32_t sx, int32_t sy, int32_t sw, int32_t sh, int32_t dx, int32_t dy,
                    int32_t dw, int32_t dh, int32_t mode = HOST_BLIT_COPY);
    // Tells the dialog that this area's gadget changed; `dragging` while the mouse is still held.
    void notify(bool dragging);
};
