// Image files of every kind we read and write, one table of codecs: by the file's first bytes when
// loading, by the format asked for (or the path's suffix) when saving.
//
//   TIFF  1, 3 or 4 channels, 8 or 16 bits                (TiffImage.h)
//   PNG   1, 3 or 4 channels, 8 or 16 bits                (PngImage.h)
//   BMP   3 or 4 channels, 8 bits                         (BmpTgaImages.h)
//   TGA   1, 3 or 4 channels, 8 bits                      (BmpTgaImages.h)
//   EXR   1, 3 or 4 channels of half or 32-bit floats     (ExrImage.h)
//
// Bitmap::load and Bitmap::save (declared with the bitmap, which knows only its pixels) are defined
// here: loading reads the whole file and hands its bytes to the codec whose signature they carry;
// saving encodes into a temporary file beside the target and renames it into place only when
// everything went well, so a failed save never leaves a half-written or clobbered file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/Bitmap.h"

namespace host::formats {

struct ImageCodec {
    int32_t format;      // ImageFormat
    const char* name;    // in messages
    const char* suffix;  // of the files written
    // Path suffixes (any case) that choose this format when a save is given none; empty for a
    // format that is only ever asked for by its id.
    std::vector<const char*> pathSuffixes;
    bool holds16Bits, holdsFloats;
    // Null for a format never told by content (its files are read by another row).
    bool (*looksLike)(const std::vector<uint8_t>& bytes);
    bool (*decode)(const std::vector<uint8_t>& bytes, const std::string& path, Bitmap& out, std::string& why);
    // Writes the whole file into the open file `fd`, which it always closes.
    bool (*encode)(const Bitmap& bitmap, int fd, const std::string& path, const ImageSaveOptions& options,
                   std::string& why);
};

// Every codec, in the order a file's first bytes are tested: formats with a true signature first,
// TGA (a plausible header only) last.
const std::vector<ImageCodec>& imageCodecs();
// The codec of a format id, or null.
const ImageCodec* imageCodecFor(int32_t format);
// The codec whose signature the bytes carry, or null.
const ImageCodec* imageCodecOfContent(const std::vector<uint8_t>& bytes);

}  // namespace host::formats
