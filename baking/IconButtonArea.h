// IconButtonArea: a small user area of the baking dialog that shows one 24 x 24 cell of the
// dialog's picture ("pic.tif"): the object cell or the UVW-tag cell next to each drop area.
#pragma once

#include <cstdint>

#include "sources/HostBitmap.h"
#include "sources/HostUserArea.h"

class IconButtonArea : public HostUserArea {
public:
    // Side of an icon cell in pixels.
    static constexpr int32_t kCell = 24;

    IconButtonArea() = default;
    ~IconButtonArea() override = default;

    // The picture to draw from (not owned; null draws nothing) and the cell taken from it.
    void setBitmap(const HostBitmap* bitmap) { bitmap_ = bitmap; }
    void setSource(int32_t x, int32_t y, int32_t w, int32_t h);

    // Always one cell.
    int32_t minimumSize(int32_t* w, int32_t* h) override;
    // Clears the area and copies the source rectangle to its origin at the same size, blended by
    // the picture's alpha.
    void draw(int32_t x1, int32_t y1, int32_t x2, int32_t y2) override;

private:
    const HostBitmap* bitmap_ = nullptr;
    int32_t sx_ = 0, sy_ = 0, sw_ = kCell, sh_ = kCell;
};
