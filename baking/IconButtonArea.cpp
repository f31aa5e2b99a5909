#include "baking/IconButtonArea.h"

void IconButtonArea::setSource(int32_t x, int32_t y, int32_t w, int32_t h) {
    sx_ = x;
    sy_ = y;
    sw_ = w;
    sh_ = h;
}

int32_t IconButtonArea::minimumSize(int32_t* w, int32_t* h) {
    *w = kCell;
    *h = kCell;
    return 1;
}

void IconButtonArea::draw(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    // The cell is blended over a cleared area, so that every redraw gives the same picture.
    clear(x1, y1, x2, y2);
    if (bitmap_ == nullptr || !bitmap_->valid()) return;
    drawBitmap(*bitmap_, sx_, sy_, sw_, sh_, 0, 0, sw_, sh_, HOST_BLIT_ALPHA);
}
