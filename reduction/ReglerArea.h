// The error slider of the reduction dialog: six thumb wheels stacked in one user area. Dragging a
// wheel sideways adds pixels x its step to the value (1e-6 on the bottom wheel up to 10000 on the
// top one) and turns the wheel through its frames; the value never goes below 0. The dialog gets a
// command for the area's gadget after every move (dragging) and once more when the button is
// released.
//
// Layout (y grows downwards), with the borders of border style 1 and the frame size of the first
// image:
//   top border, then 7 one-pixel separators with the 6 rows between them (row 5, step 10000, at the
//   top; row 0, step 1e-6, at the bottom), then the bottom border.
#pragma once

#include <cstdint>

#include "sources/HostBitmap.h"
#include "sources/HostString.h"
#include "sources/HostUserArea.h"

class ReglerArea : public HostUserArea {
public:
    static constexpr int32_t ROWS = 6;
    static constexpr int32_t FRAME_COUNT = 33;  // rows of 3, 4, ..., 8 frames
    // Input channels: the left mouse button, and the wheel (which only refreshes).
    static constexpr int32_t CHANNEL_LEFT = 1;
    static constexpr int32_t CHANNEL_WHEEL = 100;
    // The largest value the slider holds (the limit of the dialog's real fields).
    static constexpr double MAX_VALUE = 9.0e18;

    // Loads the wheel images Regler1_1.tif ... Regler6_8.tif from the module folder's res/Regler.
    ReglerArea();
    // The same from another module folder.
    explicit ReglerArea(const char* moduleFolder);
    ~ReglerArea() override = default;  // the bitmaps release themselves

    // Reads the border widths, clears the counters and the value.
    int32_t init() override;
    int32_t minimumSize(int32_t* w, int32_t* h) override;
    void draw(int32_t x1, int32_t y1, int32_t x2, int32_t y2) override;
    int32_t inputEvent(const HstSettings* msg) override;

    double value() const { return value_; }
    // Takes v, raised to 0 when below (or not a number), lowered to MAX_VALUE when above.
    void setValue(double v);
    // The value as "<integer part>.<six decimals>", e.g. 0.000100 or 12.500000.
    HostString text() const { return formatValue(value_); }
    static HostString formatValue(double v);

    // The value one pixel of sideways drag adds on a row (0 at the bottom).
    static double step(int32_t row);
    // Frames of a row: row + 3.
    static int32_t framesOf(int32_t row) { return row + 3; }
    // The frame a row shows now.
    int32_t frameCounter(int32_t row) const { return row >= 0 && row < ROWS ? counters_[row] : 0; }
    // Images loaded; a row is shown only when all its frames are.
    int32_t loadedImages() const { return loaded_; }
    bool rowLoaded(int32_t row) const;
    int32_t frameWidth() const { return frameWidth_; }
    int32_t frameHeight() const { return frameHeight_; }
    // The row under a y of the area, or a number outside 0..5 when none is.
    int32_t rowAt(int32_t y) const;
    // Top edge of a row's frame in the area.
    int32_t rowTop(int32_t row) const;
    // y of separator i, counted from the bottom (0 = below row 0, 6 = above row 5).
    int32_t separatorY(int32_t i) const;

private:
    void load(const char* moduleFolder);
    // Adds `pixels` of drag on a row to the value and turns its wheel.
    void turn(int32_t row, int32_t pixels);
    void dragRow(int32_t row);

    HostBitmap frames_[FRAME_COUNT];
    int32_t loaded_ = 0;
    int32_t frameWidth_ = 0;
    int32_t frameHeight_ = 0;
    int32_t border_[4] = {1, 1, 1, 1};  // left, top, right, bottom
    int32_t counters_[ROWS] = {};
    double value_ = 0.0;
};
