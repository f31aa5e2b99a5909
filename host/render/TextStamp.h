// Captions on rendered images: a small built-in 5 × 7 pixel font (capital letters, digits and a
// few signs; small letters are drawn as capitals, unknown characters as blanks), scaled by whole
// pixels.
#pragma once

#include <string>

#include "host/Bitmap.h"

namespace host::render {

// Width in pixels of `text` at `scale`.
int textWidth(const std::string& text, int scale);
// Height in pixels of a line at `scale`.
int textHeight(int scale);
// Draws `text` with its top-left corner at (x, y); pixels outside the bitmap are skipped.
void stampText(Bitmap& image, int x, int y, const std::string& text, int scale, uint8_t r, uint8_t g, uint8_t b);

}  // namespace host::render
