// Writes the module's images into a res/ folder: the three plug-in icons, the baking dialog's
// pic.tif and the 33 frames of the reduction dialog's slider wheels (Regler/Regler<row>_<frame>.tif).
//
//   make_resources [RES_FOLDER]      (default: the source tree's res/)
//
// Every image is drawn from a few simple shapes, so the files can be made again at any time.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "host/Bitmap.h"

namespace {

struct Colour {
    double r, g, b;
};

Colour mix(Colour a, Colour b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

uint8_t channel(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v * 255.0), 0L, 255L)); }

// An RGB drawing surface over a host bitmap.
class Canvas {
public:
    Canvas(int w, int h) { bitmap.init(w, h, 3, 8); }

    void set(int x, int y, Colour c) {
        if (x < 0 || y < 0 || x >= bitmap.width() || y >= bitmap.height()) return;
        bitmap.setPixel(x, y, channel(c.r), channel(c.g), channel(c.b));
    }
    void fill(Colour c) { rect(0, 0, bitmap.width(), bitmap.height(), c); }
    void rect(int x, int y, int w, int h, Colour c) {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) set(i, j, c);
    }
    void line(int x0, int y0, int x1, int y1, Colour c) {
        const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
        const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
        int err = dx + dy;
        for (;;) {
            set(x0, y0, c);
            if (x0 == x1 && y0 == y1) break;
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x0 += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y0 += sy;
            }
        }
    }
    // Fills the pixels whose centres lie inside the triangle.
    void triangle(double ax, double ay, double bx, double by, double cx, double cy, Colour c) {
        auto edge = [](double px, double py, double qx, double qy, double x, double y) {
            return (qx - px) * (y - py) - (qy - py) * (x - px);
        };
        const double area = edge(ax, ay, bx, by, cx, cy);
        for (int y = 0; y < bitmap.height(); ++y)
            for (int x = 0; x < bitmap.width(); ++x) {
                const double px = x + 0.5, py = y + 0.5;
                const double w0 = edge(bx, by, cx, cy, px, py), w1 = edge(cx, cy, ax, ay, px, py),
                             w2 = edge(ax, ay, bx, by, px, py);
                if (area > 0 ? (w0 >= 0 && w1 >= 0 && w2 >= 0) : (w0 <= 0 && w1 <= 0 && w2 <= 0)) set(x, y, c);
            }
    }
    void circle(double cx, double cy, double radius, Colour c) {
        for (int y = 0; y < bitmap.height(); ++y)
            for (int x = 0; x < bitmap.width(); ++x) {
                const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                if (std::abs(std::sqrt(dx * dx + dy * dy) - radius) < 0.6) set(x, y, c);
            }
    }

    host::Bitmap bitmap;
};

const Colour kBackground{0.82, 0.84, 0.87};
const Colour kInk{0.10, 0.12, 0.16};
const Colour kBlue{0.16, 0.36, 0.78};
const Colour kLightBlue{0.55, 0.70, 0.95};
const Colour kRed{0.85, 0.15, 0.12};

// Reduction: a finely split triangle on the left turns into one coarse triangle on the right.
Canvas reductionIcon() {
    Canvas c(24, 24);
    c.fill(kBackground);
    // Left: a triangle split into four.
    c.triangle(1, 20, 11, 20, 6, 4, kLightBlue);
    c.line(1, 20, 11, 20, kBlue);
    c.line(1, 20, 6, 4, kBlue);
    c.line(11, 20, 6, 4, kBlue);
    c.line(3, 12, 8, 12, kBlue);
    c.line(3, 12, 6, 20, kBlue);
    c.line(8, 12, 6, 20, kBlue);
    // Right: the same outline, one triangle.
    c.triangle(13, 20, 23, 20, 18, 4, kBlue);
    c.line(13, 20, 23, 20, kInk);
    c.line(13, 20, 18, 4, kInk);
    c.line(23, 20, 18, 4, kInk);
    return c;
}

// Baking: a sphere coloured the way a tangent-space normal map encodes its normals.
Canvas bakingIcon() {
    Canvas c(24, 24);
    c.fill({0.5, 0.5, 1.0});
    const double cx = 12.0, cy = 12.0, radius = 10.5;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x) {
            const double nx = (x + 0.5 - cx) / radius, ny = (cy - (y + 0.5)) / radius;
            const double rr = nx * nx + ny * ny;
            if (rr > 1.0) continue;
            const double nz = std::sqrt(1.0 - rr);
            c.set(x, y, {nx * 0.5 + 0.5, ny * 0.5 + 0.5, nz * 0.5 + 0.5});
        }
    c.circle(cx, cy, radius, kInk);
    return c;
}

// Brush: a quad grid with one polygon marked in the highlight colour and the brush ring around it.
Canvas brushIcon() {
    Canvas c(24, 24);
    c.fill(kBackground);
    c.rect(9, 9, 6, 6, kRed);
    for (int i = 3; i <= 21; i += 6) {
        c.line(i, 3, i, 21, kInk);
        c.line(3, i, 21, i, kInk);
    }
    c.circle(12, 12, 8.5, kBlue);
    c.circle(12, 12, 9.5, kBlue);
    return c;
}

// The baking dialog's icons: an object (a cube) in cell (0, 0) and a tag (a label) in cell (24, 0).
Canvas pictures() {
    Canvas c(48, 24);
    c.fill(kBackground);
    // Cube: front square, top and side faces.
    const Colour front{0.45, 0.62, 0.90}, top{0.70, 0.80, 0.97}, side{0.30, 0.45, 0.75};
    c.rect(4, 9, 11, 11, front);
    c.triangle(4, 9, 9, 4, 20, 4, top);
    c.triangle(4, 9, 20, 4, 15, 9, top);
    c.triangle(15, 9, 20, 4, 20, 15, side);
    c.triangle(15, 9, 20, 15, 15, 20, side);
    c.line(4, 9, 15, 9, kInk);
    c.line(4, 19, 15, 19, kInk);
    c.line(4, 9, 4, 19, kInk);
    c.line(15, 9, 15, 19, kInk);
    c.line(4, 9, 9, 4, kInk);
    c.line(15, 9, 20, 4, kInk);
    c.line(9, 4, 20, 4, kInk);
    c.line(20, 4, 20, 15, kInk);
    c.line(15, 19, 20, 15, kInk);
    // Tag: a label with a pointed left end and a hole.
    const Colour label{0.95, 0.78, 0.30};
    c.rect(32, 7, 13, 10, label);
    c.triangle(27, 12, 32, 7, 32, 17, label);
    c.line(32, 6, 44, 6, kInk);
    c.line(32, 17, 44, 17, kInk);
    c.line(44, 6, 44, 17, kInk);
    c.line(27, 12, 32, 6, kInk);
    c.line(27, 12, 32, 17, kInk);
    c.rect(31, 11, 2, 2, kInk);
    return c;
}

// One frame of a slider wheel: a ribbed cylinder seen from the side. The ridges are `period`
// pixels apart and move `shift` pixels to the right; the strip is shaded darker towards its top
// and bottom edges and towards both ends, as a round wheel would be.
constexpr int kWheelWidth = 120;
constexpr int kWheelHeight = 12;

Canvas wheelFrame(int period, int shift) {
    Canvas c(kWheelWidth, kWheelHeight);
    const Colour base{0.72, 0.74, 0.78};
    const Colour ridge{0.25, 0.27, 0.32};
    const Colour shine{0.95, 0.96, 0.98};
    for (int y = 0; y < kWheelHeight; ++y) {
        const double v = (y + 0.5) / kWheelHeight * 2.0 - 1.0;
        const double across = 0.55 + 0.45 * std::sqrt(std::max(0.0, 1.0 - v * v));
        for (int x = 0; x < kWheelWidth; ++x) {
            const double u = (x + 0.5) / kWheelWidth * 2.0 - 1.0;
            const double along = 0.6 + 0.4 * std::sqrt(std::max(0.0, 1.0 - u * u));
            const int phase = ((x - shift) % period + period) % period;
            Colour colour = base;
            if (phase == 0)
                colour = ridge;
            else if (phase == 1)
                colour = shine;
            const double light = across * along;
            c.set(x, y, {colour.r * light, colour.g * light, colour.b * light});
        }
    }
    // Top and bottom rims.
    for (int x = 0; x < kWheelWidth; ++x) {
        c.set(x, 0, mix(kInk, base, 0.3));
        c.set(x, kWheelHeight - 1, mix(kInk, base, 0.3));
    }
    return c;
}

bool save(const Canvas& canvas, const std::filesystem::path& path) {
    std::string error;
    if (!canvas.bitmap.save(path.string(), host::IMAGE_TIFF, &error)) {
        std::fprintf(stderr, "make_resources: %s: %s\n", path.string().c_str(), error.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path res = argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::path(VEXLOR_RES_DIR);
    std::error_code ec;
    std::filesystem::create_directories(res / "Regler", ec);
    if (ec) {
        std::fprintf(stderr, "make_resources: cannot make %s: %s\n", (res / "Regler").string().c_str(),
                     ec.message().c_str());
        return 1;
    }
    bool ok = save(reductionIcon(), res / "VXIcon.tif");
    ok = save(bakingIcon(), res / "OMBIcon.tif") && ok;
    ok = save(brushIcon(), res / "TessikIcon.tif") && ok;
    ok = save(pictures(), res / "pic.tif") && ok;
    // Row k (1 at the bottom, 6 at the top) turns through k + 2 frames; its ridges are two pixels a
    // frame apart, so the last frame leads back into the first.
    int frames = 0;
    for (int row = 1; row <= 6; ++row) {
        const int count = row + 2;
        const int step = 2;
        for (int frame = 1; frame <= count; ++frame) {
            const std::string name = "Regler" + std::to_string(row) + "_" + std::to_string(frame) + ".tif";
            ok = save(wheelFrame(count * step, (frame - 1) * step), res / "Regler" / name) && ok;
            ++frames;
        }
    }
    if (!ok) return 1;
    std::printf("make_resources: wrote 4 images and %d wheel frames to %s\n", frames, res.string().c_str());
    return 0;
}
