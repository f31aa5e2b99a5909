// PNG images for host bitmaps, through libpng: 1, 3 or 4 channels of 8 or 16 bits. Palettes and
// 1/2/4-bit grey expand to 8 bits on load, grey with alpha becomes RGBA. (The in-memory encoder for
// the studio's pictures, encodePng, is declared with the bitmap.)
//
// libpng may not print: its messages go through our own error and warning functions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace host {
class Bitmap;
}

namespace host::formats {

bool looksLikePng(const std::vector<uint8_t>& bytes);
bool decodePng(const std::vector<uint8_t>& bytes, Bitmap& out, std::string& why);
// Writes the whole file into `file` (left open for the caller to flush and close).
bool encodePngFile(const Bitmap& bitmap, FILE* file, std::string& why);

}  // namespace host::formats
