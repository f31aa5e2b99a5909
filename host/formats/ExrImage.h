// OpenEXR images for host bitmaps: read into float bitmaps, written from any bitmap as half or float
// channels (Y for grey, R G B and A for colour), uncompressed scan lines with ZIP compression.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {
class Bitmap;
}

namespace host::formats {

bool looksLikeExr(const std::vector<uint8_t>& bytes);
// Decodes the whole image (its data window) into a 32-bit float bitmap; `why` says what failed.
bool decodeExr(const std::vector<uint8_t>& bytes, Bitmap& out, std::string& why);
// Encodes the bitmap: `half` writes 16-bit half floats, else 32-bit floats. 8- and 16-bit bitmaps are
// written as their values scaled to [0, 1].
bool encodeExr(const Bitmap& bitmap, bool half, std::string& bytes, std::string& why);

}  // namespace host::formats
