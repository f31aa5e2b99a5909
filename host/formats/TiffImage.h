// TIFF images for host bitmaps, through libtiff: 1, 3 or 4 channels of 8 or 16 bits (grey or RGB, alpha
// as an unassociated extra sample), written with LZW and the horizontal predictor unless asked
// otherwise, in strips of about 8 KiB. Files the direct path cannot take (palette, YCbCr, CMYK,
// min-is-white, rows not stored top to bottom, ...) are read through libtiff's RGBA reader at 8 bits.
//
// libtiff may not print: its messages go through per-handle handlers into the error text (the
// process-wide handlers are switched off as well, for the odd message that is not tied to a handle).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {
class Bitmap;
}

namespace host::formats {

// Classic TIFF and BigTIFF, either byte order.
bool looksLikeTiff(const std::vector<uint8_t>& bytes);
// Reads the first image of the file; `path` is the name libtiff is given for the handle.
bool decodeTiff(const std::vector<uint8_t>& bytes, const std::string& path, Bitmap& out, std::string& why);
// Writes into the open file `fd` (which it always closes).
bool encodeTiff(const Bitmap& bitmap, int fd, const std::string& path, bool compress, std::string& why);

}  // namespace host::formats
