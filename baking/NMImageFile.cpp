#include "baking/NMImageFile.h"

#include "baking/BakeSettings.h"

bool nmFormatHolds16Bits(int32_t format) { return format == BAKE_FORMAT_TIFF || format == BAKE_FORMAT_PNG; }

bool nmFormatIsFloat(int32_t format) { return format == BAKE_FORMAT_EXR || format == BAKE_FORMAT_EXR_HALF; }

bool nmInitMapBitmap(HostBitmap& bitmap, int32_t w, int32_t h, int32_t bitDepth, int32_t format, bool colour) {
    if (nmFormatIsFloat(format)) return bitmap.initFloat(w, h, colour ? 3 : 1);
    if (bitDepth == 8) return bitmap.init(w, h, 24);
    if (bitDepth == 16 && nmFormatHolds16Bits(format)) return bitmap.init(w, h, colour ? 48 : 16);
    return false;
}
