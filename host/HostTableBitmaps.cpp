// The bitmap entries of the host table.
#include "host/HostServices.h"
#include "host/HostTableSections.h"

#include "host/HostHandles.h"

namespace host {
namespace {

// ---- bitmaps --------------------------------------------------------------------------------
HstBitmap* bmpMake() { return makeCounted<HstBitmap>(); }
void bmpDestroy(HstBitmap* b) { destroyCounted(b); }
int32_t bmpInit(HstBitmap* b, int32_t w, int32_t h, int32_t bitsPerPixel) {
    if (!b) return 0;
    int channels = 3, bits = 8;
    switch (bitsPerPixel) {
        case 8: channels = 1; break;
        case 16: channels = 1; bits = 16; break;
        case 24: break;
        case 32: channels = 4; break;
        case 48: bits = 16; break;
        case 64: channels = 4; bits = 16; break;
        default: return 0;
    }
    return b->bitmap.init(w, h, channels, bits) ? 1 : 0;
}
int32_t bmpLoad(HstBitmap* b, const HstFilename* path) {
    return b && path && b->bitmap.load(path->path, nullptr) ? 1 : 0;
}
int32_t bmpSave(HstBitmap* b, const HstFilename* path, int32_t format) {
    if (!b || !path) return 0;
    std::string error;
    if (b->bitmap.save(path->path, format, &error)) return 1;
    hostServices().console.print(error);
    return 0;
}
int32_t bmpWidth(const HstBitmap* b) { return b ? b->bitmap.width() : 0; }
int32_t bmpHeight(const HstBitmap* b) { return b ? b->bitmap.height() : 0; }
int32_t bmpBitsPerPixel(const HstBitmap* b) {
    return b ? b->bitmap.channels() * b->bitmap.bitsPerChannel() : 0;
}
uint8_t clamp8(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }
uint16_t clamp16(int32_t v) { return static_cast<uint16_t>(v < 0 ? 0 : (v > 65535 ? 65535 : v)); }
void bmpSetPixel(HstBitmap* b, int32_t x, int32_t y, int32_t r, int32_t g, int32_t bl) {
    if (b) b->bitmap.setPixel(x, y, clamp8(r), clamp8(g), clamp8(bl));
}
void bmpGetPixel(const HstBitmap* b, int32_t x, int32_t y, int32_t* r, int32_t* g, int32_t* bl) {
    if (!b) {
        *r = *g = *bl = 0;
        return;
    }
    const Bitmap& bm = b->bitmap;
    const bool grey = bm.channels() == 1;
    *r = bm.get8(x, y, 0);
    *g = bm.get8(x, y, grey ? 0 : 1);
    *bl = bm.get8(x, y, grey ? 0 : 2);
}
void bmpSetPixel16(HstBitmap* b, int32_t x, int32_t y, int32_t r, int32_t g, int32_t bl) {
    if (!b) return;
    Bitmap& bm = b->bitmap;
    if (bm.channels() == 1) {
        bm.set16(x, y, 0, clamp16((r + g + bl) / 3));
        return;
    }
    bm.set16(x, y, 0, clamp16(r));
    bm.set16(x, y, 1, clamp16(g));
    bm.set16(x, y, 2, clamp16(bl));
}
int32_t bmpInitFloat(HstBitmap* b, int32_t w, int32_t h, int32_t channels) {
    if (!b || (channels != 1 && channels != 3)) return 0;
    return b->bitmap.init(w, h, channels, 32) ? 1 : 0;
}
void bmpSetPixelFloat(HstBitmap* b, int32_t x, int32_t y, float r, float g, float bl) {
    if (!b) return;
    Bitmap& bm = b->bitmap;
    if (bm.channels() == 1) {
        // Grey maps send three equal channels: their value goes in untouched.
        bm.setFloat(x, y, 0, r == g && g == bl ? r : (r + g + bl) / 3.0f);
        return;
    }
    bm.setFloat(x, y, 0, r);
    bm.setFloat(x, y, 1, g);
    bm.setFloat(x, y, 2, bl);
}
void bmpGetPixelFloat(const HstBitmap* b, int32_t x, int32_t y, float* r, float* g, float* bl) {
    if (!b) {
        *r = *g = *bl = 0.0f;
        return;
    }
    const Bitmap& bm = b->bitmap;
    const bool grey = bm.channels() == 1;
    *r = bm.getFloat(x, y, 0);
    *g = bm.getFloat(x, y, grey ? 0 : 1);
    *bl = bm.getFloat(x, y, grey ? 0 : 2);
}

}  // namespace

void fillBitmapApi(HostApi& t) {
    t.bmpMake = bmpMake;
    t.bmpDestroy = bmpDestroy;
    t.bmpInit = bmpInit;
    t.bmpLoad = bmpLoad;
    t.bmpSave = bmpSave;
    t.bmpWidth = bmpWidth;
    t.bmpHeight = bmpHeight;
    t.bmpBitsPerPixel = bmpBitsPerPixel;
    t.bmpSetPixel = bmpSetPixel;
    t.bmpGetPixel = bmpGetPixel;
    t.bmpSetPixel16 = bmpSetPixel16;
    t.bmpInitFloat = bmpInitFloat;
    t.bmpSetPixelFloat = bmpSetPixelFloat;
    t.bmpGetPixelFloat = bmpGetPixelFloat;
}

}  // namespace host
