#include "baking/NMTexelSpans.h"

#include <cmath>

namespace {

// Pixel coordinates are held well inside the integer range before rounding; farther texels are
// never visited anyway.
constexpr double kFar = 1e12;

int64_t roundPixel(double v) {
    if (v > kFar) v = kFar;
    if (v < -kFar) v = -kFar;
    return static_cast<int64_t>(v + 0.5);
}

}  // namespace

NMTexelSpans::NMTexelSpans(const double X[3], const double Y[3]) {
    int64_t x[3], y[3];
    for (int i = 0; i < 3; ++i) {
        x[i] = roundPixel(X[i]);
        y[i] = roundPixel(Y[i]);
    }
    for (int i = 0; i < 3; ++i) {
        const int j = (i + 1) % 3;
        if (y[i] <= y[j])
            edges_[i] = {x[i], y[i], x[j], y[j]};
        else
            edges_[i] = {x[j], y[j], x[i], y[i]};
    }
    top_ = edges_[0].ya;
    bottom_ = edges_[0].yb;
    for (const Edge& e : edges_) {
        if (e.ya < top_) top_ = e.ya;
        if (e.yb > bottom_) bottom_ = e.yb;
    }
}

void NMTexelSpans::span(int64_t y, int64_t* first, int64_t* last) const {
    if (y < top_) y = top_;
    if (y > bottom_) y = bottom_;
    int64_t lo = INT64_MAX, hi = INT64_MIN;
    for (const Edge& e : edges_) {
        if (y < e.ya || y > e.yb) continue;
        const int64_t dy = e.yb - e.ya;
        if (dy == 0) {
            // A flat edge covers its whole row.
            const int64_t a = e.xa < e.xb ? e.xa : e.xb, b = e.xa < e.xb ? e.xb : e.xa;
            if (a < lo) lo = a;
            if (b > hi) hi = b;
            continue;
        }
        // Where a Bresenham walk that starts with half a step of error stands after k rows.
        const int64_t dx = e.xb - e.xa, k = y - e.ya;
        const int64_t adx = dx < 0 ? -dx : dx;
        const int64_t steps = static_cast<int64_t>((static_cast<__int128>(k) * adx + dy / 2) / dy);
        const int64_t x = dx < 0 ? e.xa - steps : e.xa + steps;
        if (x < lo) lo = x;
        if (x > hi) hi = x;
    }
    *first = lo;
    *last = hi;
}
