#include "baking/NMVectorLayer.h"

#include <cmath>

#include "baking/NMBakeThread.h"
#include "baking/NMImageFile.h"
#include "sources/HostBitmap.h"

NMVector3f normalise(const NMVector3f& v) {
    const float l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (l == 0.0f) return {0.0f, 0.0f, 0.0f};
    return {v.x / l, v.y / l, v.z / l};
}

NMVector3f NMAbstractVectorLayer::bilinear(double u, double v) {
    if (isEmpty()) return {};
    const NMBilinearTaps t = nmBilinearTaps(u, v, width(), height());
    const NMVector3f a = elementAt(t.x0, t.y0), b = elementAt(t.x1, t.y0);
    const NMVector3f c = elementAt(t.x0, t.y1), d = elementAt(t.x1, t.y1);
    const double wa = (1.0 - t.fx) * (1.0 - t.fy), wb = t.fx * (1.0 - t.fy), wc = (1.0 - t.fx) * t.fy,
                 wd = t.fx * t.fy;
    return {static_cast<float>(wa * a.x + wb * b.x + wc * c.x + wd * d.x),
            static_cast<float>(wa * a.y + wb * b.y + wc * c.y + wd * d.y),
            static_cast<float>(wa * a.z + wb * b.z + wc * c.z + wd * d.z)};
}

bool NMAbstractVectorLayer::loadImageFile(const HostFilename& file) {
    HostBitmap bitmap;
    if (!bitmap.load(file)) return false;
    const int32_t w = bitmap.width(), h = bitmap.height();
    if (!allocate(w, h)) return false;
    for (int32_t y = 0; y < h; ++y) {
        NMVector3f* out = row(y);
        const int32_t imageRow = nmImageRow(y, h);
        for (int32_t x = 0; x < w; ++x) {
            int32_t r, g, b;
            bitmap.getPixel(x, imageRow, &r, &g, &b);
            out[x] = {static_cast<float>((r - 127.5) / 127.5), static_cast<float>((g - 127.5) / 127.5),
                      static_cast<float>((b - 127.5) / 127.5)};
        }
    }
    return true;
}

bool NMAbstractVectorLayer::makeImage(HostBitmap& bitmap, int32_t format, int32_t bitDepth, HostThreadBase* thread,
                                      bool negateY) {
    if (isEmpty()) return false;
    const int32_t w = width(), h = height();
    if (!nmInitMapBitmap(bitmap, w, h, bitDepth, format, true)) return false;
    const int32_t max = nmChannelMax(bitDepth);
    const double half = max / 2.0;
    const bool floats = nmFormatIsFloat(format);
    for (int32_t y = 0; y < h; ++y) {
        if (bakeStopRequested(thread)) return false;
        const NMVector3f* in = row(y);
        const int32_t imageRow = nmImageRow(y, h);
        if (floats) {
            for (int32_t x = 0; x < w; ++x)
                bitmap.setPixelFloat(x, imageRow, in[x].x, negateY ? -in[x].y : in[x].y, in[x].z);
            continue;
        }
        for (int32_t x = 0; x < w; ++x) {
            const double ny = negateY ? -static_cast<double>(in[x].y) : in[x].y;
            nmSetMapPixel(bitmap, bitDepth, x, imageRow, nmChannel(in[x].x * half + half, max),
                          nmChannel(ny * half + half, max), nmChannel(in[x].z * half + half, max));
        }
    }
    return true;
}

bool NMAbstractVectorLayer::writeImageFile(const HostFilename& file, int32_t format, int32_t bitDepth,
                                           HostThreadBase* thread) {
    if (isEmpty()) return true;
    HostBitmap bitmap;
    if (!makeImage(bitmap, format, bitDepth, thread)) return false;
    return bitmap.save(file, format);
}

void NMAbstractVectorLayer::normaliseAll() {
    const int32_t w = width(), h = height();
    for (int32_t y = 0; y < h; ++y) {
        NMVector3f* r = row(y);
        for (int32_t x = 0; x < w; ++x) r[x] = normalise(r[x]);
    }
}

bool NMAbstractVectorLayer::makeBumpLayer(NMAbstractFloatLayer& heights, float strength) {
    const int32_t w = heights.width(), h = heights.height();
    if (!allocate(w, h)) return false;
    for (int32_t y = 0; y < h; ++y) {
        const float* up = heights.row(y == 0 ? h - 1 : y - 1);
        const float* mid = heights.row(y);
        const float* down = heights.row(y == h - 1 ? 0 : y + 1);
        NMVector3f* out = row(y);
        for (int32_t x = 0; x < w; ++x) {
            const int32_t l = x == 0 ? w - 1 : x - 1, r = x == w - 1 ? 0 : x + 1;
            const double gx = (up[r] + 2.0 * mid[r] + down[r]) - (up[l] + 2.0 * mid[l] + down[l]);
            const double gy = (down[l] + 2.0 * down[x] + down[r]) - (up[l] + 2.0 * up[x] + up[r]);
            // Heights that grow along a direction tilt the normal against it, on both axes.
            const float nx = static_cast<float>(-strength * gx), ny = static_cast<float>(-strength * gy);
            out[x] = normalise(NMVector3f{nx, ny, 1.0f});
        }
    }
    return true;
}
