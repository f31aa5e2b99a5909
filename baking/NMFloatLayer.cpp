#include "baking/NMFloatLayer.h"

#include <cmath>

#include "baking/NMBakeThread.h"
#include "baking/NMImageFile.h"
#include "sources/HostBitmap.h"

namespace {

double clampUnit(double u) {
    if (!(u > 0.0)) return 0.0;
    return u > 1.0 ? 1.0 : u;
}

}  // namespace

NMBilinearTaps nmBilinearTaps(double u, double v, int32_t w, int32_t h) {
    const double px = clampUnit(u) * (w - 1), py = clampUnit(v) * (h - 1);
    NMBilinearTaps taps;
    taps.x0 = static_cast<int32_t>(std::floor(px));
    taps.x1 = static_cast<int32_t>(std::ceil(px));
    taps.y0 = static_cast<int32_t>(std::floor(py));
    taps.y1 = static_cast<int32_t>(std::ceil(py));
    taps.fx = px - taps.x0;
    taps.fy = py - taps.y0;
    return taps;
}

float NMAbstractFloatLayer::bilinear(double u, double v) {
    if (isEmpty()) return 0.0f;
    const NMBilinearTaps t = nmBilinearTaps(u, v, width(), height());
    const double a = elementAt(t.x0, t.y0), b = elementAt(t.x1, t.y0);
    const double c = elementAt(t.x0, t.y1), d = elementAt(t.x1, t.y1);
    return static_cast<float>((1.0 - t.fx) * (1.0 - t.fy) * a + t.fx * (1.0 - t.fy) * b + (1.0 - t.fx) * t.fy * c +
                              t.fx * t.fy * d);
}

bool NMAbstractFloatLayer::loadImageFile(const HostFilename& file) {
    HostBitmap bitmap;
    if (!bitmap.load(file)) return false;
    const int32_t w = bitmap.width(), h = bitmap.height();
    if (!allocate(w, h)) return false;
    for (int32_t y = 0; y < h; ++y) {
        float* out = row(y);
        const int32_t imageRow = nmImageRow(y, h);
        for (int32_t x = 0; x < w; ++x) {
            // The image is taken as grey: of its three channels the last one read is kept, 8-bit
            // values as value / 255, 16-bit ones as value / 65535 and float ones as they are.
            float r, g, b;
            bitmap.getPixelFloat(x, imageRow, &r, &g, &b);
            (void)r;
            (void)g;
            out[x] = b;
        }
    }
    return true;
}

bool NMAbstractFloatLayer::makeImage(HostBitmap& bitmap, int32_t format, int32_t bitDepth, HostThreadBase* thread) {
    if (isEmpty()) return false;
    const int32_t w = width(), h = height();
    if (!nmInitMapBitmap(bitmap, w, h, bitDepth, format, false)) return false;
    const int32_t max = nmChannelMax(bitDepth);
    const bool floats = nmFormatIsFloat(format);
    for (int32_t y = 0; y < h; ++y) {
        if (bakeStopRequested(thread)) return false;
        const float* in = row(y);
        const int32_t imageRow = nmImageRow(y, h);
        if (floats) {
            for (int32_t x = 0; x < w; ++x) bitmap.setPixelFloat(x, imageRow, in[x], in[x], in[x]);
            continue;
        }
        for (int32_t x = 0; x < w; ++x) {
            const int32_t c = nmChannel(static_cast<double>(in[x]) * max, max);
            nmSetMapPixel(bitmap, bitDepth, x, imageRow, c, c, c);
        }
    }
    return true;
}

bool NMAbstractFloatLayer::writeImageFile(const HostFilename& file, int32_t format, int32_t bitDepth,
                                          HostThreadBase* thread) {
    if (isEmpty()) return true;
    HostBitmap bitmap;
    if (!makeImage(bitmap, format, bitDepth, thread)) return false;
    return bitmap.save(file, format);
}
