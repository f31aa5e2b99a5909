// BMP and TGA images for host bitmaps, through stb_image and stb_image_write: 8 bits per channel.
//   TGA  1, 3 or 4 channels, run-length encoded.
//   BMP  3 or 4 channels. A grey bitmap is written as RGB with three equal channels and loads back
//        as a 3-channel bitmap; an RGBA BMP whose alpha is zero everywhere loads back opaque (readers
//        take such files for plain RGB).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace host {
class Bitmap;
}

namespace host::formats {

bool looksLikeBmp(const std::vector<uint8_t>& bytes);
// TGA has no magic number: this is the header check stb_image makes too, done here so that files of
// formats stb_image knows but we do not take (JPEG, GIF, PSD, ...) are refused.
bool looksLikeTga(const std::vector<uint8_t>& bytes);

bool decodeBmp(const std::vector<uint8_t>& bytes, Bitmap& out, std::string& why);
bool decodeTga(const std::vector<uint8_t>& bytes, Bitmap& out, std::string& why);

// Write the whole file into `file` (left open for the caller to flush and close).
bool encodeBmpFile(const Bitmap& bitmap, FILE* file, std::string& why);
bool encodeTgaFile(const Bitmap& bitmap, FILE* file, std::string& why);

}  // namespace host::formats
