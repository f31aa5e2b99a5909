#include "reduction/ReglerArea.h"

#include <cmath>

#include "sources/HostFilename.h"
#include "sources/HostSettings.h"
#include "sources/Module.h"

namespace {

// Border style of the area.
constexpr int32_t kBorderStyle = 1;
// Mouse positions and moves further out than this are not taken.
constexpr double kFarPixels = 1.0e9;

// Index of a row's first frame: rows before it hold 3, 4, ... frames.
int32_t firstFrame(int32_t row) { return 3 * row + row * (row - 1) / 2; }

double bounded(double v) {
    if (!(v >= 0.0)) return 0.0;  // negative, or not a number
    return v > ReglerArea::MAX_VALUE ? ReglerArea::MAX_VALUE : v;
}

}  // namespace

ReglerArea::ReglerArea() { load(modulePath()); }

ReglerArea::ReglerArea(const char* moduleFolder) { load(moduleFolder != nullptr ? moduleFolder : ""); }

void ReglerArea::load(const char* moduleFolder) {
    const HostFilename folder = HostFilename(moduleFolder) + "res" + "Regler";
    // "ReglerR_F.tif": both numbers have one digit (rows 1-6, frames 1-8).
    char name[] = "Regler0_0.tif";
    for (int32_t row = 0; row < ROWS; ++row) {
        for (int32_t frame = 0; frame < framesOf(row); ++frame) {
            name[6] = static_cast<char>('1' + row);
            name[8] = static_cast<char>('1' + frame);
            HostBitmap& bitmap = frames_[firstFrame(row) + frame];
            if (!bitmap.load(folder + name)) {
                bitmap.destroy();
                return;  // this and every later image stays empty
            }
            if (loaded_ == 0) {
                frameWidth_ = bitmap.width();
                frameHeight_ = bitmap.height();
            }
            ++loaded_;
        }
    }
}

bool ReglerArea::rowLoaded(int32_t row) const {
    return row >= 0 && row < ROWS && loaded_ >= firstFrame(row) + framesOf(row);
}

double ReglerArea::step(int32_t row) {
    static constexpr double steps[ROWS] = {1e-6, 1e-4, 0.01, 1.0, 100.0, 10000.0};
    return row >= 0 && row < ROWS ? steps[row] : 0.0;
}

void ReglerArea::setValue(double v) { value_ = bounded(v); }

HostString ReglerArea::formatValue(double v) {
    v = bounded(v);
    int64_t whole = static_cast<int64_t>(v);
    // Rounded to the nearest millionth, so that a sum of steps shows the digits it was made of.
    int64_t millionths = std::llround((v - static_cast<double>(whole)) * 1.0e6);
    if (millionths >= 1000000) {
        ++whole;
        millionths -= 1000000;
    }
    char digits[8] = ".000000";
    for (int32_t k = 6; k >= 1; --k) {
        digits[k] = static_cast<char>('0' + millionths % 10);
        millionths /= 10;
    }
    return HostString::fromInt(whole) + digits;
}

int32_t ReglerArea::init() {
    borderSize(kBorderStyle, border_);
    for (int32_t& c : counters_) c = 0;
    value_ = 0.0;
    return 1;
}

int32_t ReglerArea::minimumSize(int32_t* w, int32_t* h) {
    *w = border_[0] + border_[2] + frameWidth_;
    *h = border_[1] + border_[3] + ROWS * frameHeight_ + ROWS + 1;
    return 1;
}

int32_t ReglerArea::separatorY(int32_t i) const { return border_[1] + (ROWS - i) * (frameHeight_ + 1); }

int32_t ReglerArea::rowTop(int32_t row) const { return border_[1] + (ROWS - 1 - row) * (frameHeight_ + 1) + 1; }

int32_t ReglerArea::rowAt(int32_t y) const {
    // Each row takes its frame's pixels and the separator below them.
    const int32_t below = y - border_[1] - 1;
    if (below < 0) return ROWS;
    return ROWS - 1 - below / (frameHeight_ + 1);
}

void ReglerArea::draw(int32_t /*x1*/, int32_t /*y1*/, int32_t /*x2*/, int32_t /*y2*/) {
    int32_t w = 0, h = 0;
    size(w, h);
    if (w <= 0 || h <= 0) minimumSize(&w, &h);
    clear(0, 0, w - 1, h - 1);
    drawBorder(kBorderStyle);
    for (int32_t i = 0; i <= ROWS; ++i) {
        // The fourth line from the bottom parts the fine rows (below 1) from the coarse ones.
        if (i == 3)
            setPen(0.5, 0.0, 0.0);
        else
            setPen(0.0, 0.0, 0.0);
        const int32_t y = separatorY(i);
        drawLine(border_[0], y, w - 1 - border_[2], y);
    }
    for (int32_t row = 0; row < ROWS; ++row) {
        if (!rowLoaded(row)) continue;
        const HostBitmap& frame = frames_[firstFrame(row) + counters_[row]];
        drawBitmap(frame, 0, 0, frame.width(), frame.height(), border_[0], rowTop(row), frameWidth_, frameHeight_);
    }
}

void ReglerArea::turn(int32_t row, int32_t pixels) {
    const double next = value_ + pixels * step(row);
    if (next < 0.0) {
        value_ = 0.0;  // the wheel stays where it was
        return;
    }
    value_ = bounded(next);
    const int32_t n = framesOf(row);
    counters_[row] = ((counters_[row] + pixels % n) % n + n) % n;
}

void ReglerArea::dragRow(int32_t row) {
    const HostApi* api = moduleApi();
    HostSettings channels;
    channels.make();
    double pending = 0.0;  // part of a pixel not yet turned
    for (;;) {
        double dx = 0.0, dy = 0.0;
        if (api->mouseDrag(&dx, &dy, channels.handle()) != DLG_DRAG_CONTINUE) break;
        if (!(std::fabs(dx) < kFarPixels)) continue;
        pending += dx;
        const double whole = std::trunc(pending);
        pending -= whole;
        if (whole == 0.0) continue;
        turn(row, static_cast<int32_t>(whole));
        redraw();
        notify(true);
    }
    api->mouseDragEnd();
    notify(false);
}

int32_t ReglerArea::inputEvent(const HstSettings* msg) {
    const HostSettings input(msg);
    if (input.getInt(HOST_MSG_ID, 0) != HOST_MSGKIND_INPUT) return 0;
    const int32_t channel = input.getInt(HOST_MSG_CHANNEL, 0);
    if (channel == CHANNEL_WHEEL) {
        redraw();
        notify(false);
        return 1;
    }
    if (channel != CHANNEL_LEFT) return 0;
    const double x = input.getReal(HOST_MSG_MOUSE_X, 0.0);
    const double y = input.getReal(HOST_MSG_MOUSE_Y, 0.0);
    if (!(std::fabs(x) < kFarPixels && std::fabs(y) < kFarPixels)) return 1;
    const int32_t row = rowAt(static_cast<int32_t>(std::floor(y)));
    if (row < 0 || row >= ROWS) return 1;
    if (moduleApi()->mouseDragStart(CHANNEL_LEFT, x, y, 0) == 0) return 1;
    dragRow(row);
    return 1;
}
