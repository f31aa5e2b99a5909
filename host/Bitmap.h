// Host bitmaps: 1, 3 or 4 channels of 8 or 16 bits or 32-bit floats each, and the image files they
// are loaded from and saved to. The bitmap keeps the pixels (Bitmap.cpp); the files are read and
// written by the codecs in host/formats/ (ImageFile.h lists them, one table), which also define
// load, save and the free functions of the "Image files" part below.
//
// What each file format holds:
//   TIFF  1, 3 or 4 channels, 8 or 16 bits (grey or RGB, alpha as an unassociated extra sample),
//         LZW with the horizontal predictor unless asked otherwise; strips of about 8 KiB.
//   PNG   1, 3 or 4 channels, 8 or 16 bits.
//   TGA   1, 3 or 4 channels, 8 bits, run-length encoded.
//   EXR   1, 3 or 4 channels of half or 32-bit floats (Y, or R G B A); float bitmaps keep any value,
//         8- and 16-bit bitmaps are written scaled to [0, 1]. Loads always give float bitmaps.
//   BMP   3 or 4 channels, 8 bits. BMP has no grey form here: a grey bitmap is written as RGB with
//         three equal channels and loads back as a 3-channel bitmap. An RGBA BMP whose alpha is zero
//         everywhere loads back opaque (readers take such files for plain RGB).
// Files of other layouts are converted on load: palettes and 1/2/4-bit grey expand to 8 bits,
// grey with alpha becomes RGBA, and TIFFs the direct path cannot take (palette, YCbCr, CMYK,
// min-is-white, rows not stored top to bottom, ...) are read through libtiff's RGBA reader at 8 bits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// Bitmaps are 1 to kMaxBitmapSide pixels a side.
inline constexpr int kMaxBitmapSide = 32768;
inline bool bitmapSizeValid(long long width, long long height) {
    return width >= 1 && width <= kMaxBitmapSide && height >= 1 && height <= kMaxBitmapSide;
}

// ---- Image files (host/formats/) ------------------------------------------------------------

enum ImageFormat : int32_t {
    IMAGE_TIFF = 1100,
    IMAGE_TGA = 1101,
    IMAGE_BMP = 1102,
    IMAGE_PNG = 1103,
    IMAGE_EXR = 1104,       // 32-bit float channels
    IMAGE_EXR_HALF = 1105,  // 16-bit half float channels
};

struct ImageSaveOptions {
    // TIFF only: LZW with the horizontal predictor, or no compression at all.
    bool compressTiff = true;
};

// The format of a file name's suffix (tif, tiff, tga, bmp, png, exr (float); any case), or 0.
int32_t imageFormatForPath(const std::string& path);
const char* imageFormatSuffix(int32_t format);

// Whether a file of fileBytes bytes can hold an image of width x height pixels of bytesPerPixel
// bytes each. Readers check this from the header before allocating the pixels, so that a few bytes
// declaring gigapixels are refused (with the reason in why) instead of allocating for them: no codec
// we read packs more than a few thousand decoded bytes into one file byte.
bool imageSizeFitsFile(long long width, long long height, int bytesPerPixel, size_t fileBytes, std::string& why);

// Where texture coordinate v lies in an image of `height` rows: images hold v = 1 in their first
// (top) row and v = 0 in their last, as every texture reader takes them, with the rows in between
// evenly spaced. Everything the host samples by texture coordinate goes through this.
inline double rowOfTextureV(double v, int height) { return (1.0 - v) * (height - 1); }

class Bitmap;
// The bitmap as a PNG file in memory (8 or 16 bits; false with `error` set for float bitmaps).
bool encodePng(const Bitmap& bitmap, std::string& bytes, std::string* error = nullptr);

// ---- The pixels -----------------------------------------------------------------------------

class Bitmap {
public:
    // Sizes from 1 to 32768 per side; channels 1, 3 or 4; 8 or 16 bits, or 32 for float channels.
    // Pixels start black.
    bool init(int width, int height, int channels = 3, int bitsPerChannel = 8);
    void clear();

    int width() const { return width_; }
    int height() const { return height_; }
    int channels() const { return channels_; }
    int bitsPerChannel() const { return bits_; }
    bool empty() const { return width_ == 0; }

    // Channel values scaled to 8 bits (16-bit bitmaps read their high byte).
    uint8_t get8(int x, int y, int channel) const;
    void set8(int x, int y, int channel, uint8_t v);
    // Channel values scaled to 16 bits (8-bit bitmaps read v * 257).
    uint16_t get16(int x, int y, int channel) const;
    void set16(int x, int y, int channel, uint16_t v);
    // Sets every channel of a pixel from 8-bit red, green, blue (grey: their average).
    void setPixel(int x, int y, uint8_t r, uint8_t g, uint8_t b);
    // Channel values as floats: 8- and 16-bit channels read as value / 255 or / 65535 and are set
    // from [0, 1] (clamped, rounded); float channels hold any value. 8- and 16-bit reads of a float
    // channel clamp it to [0, 1] first.
    float getFloat(int x, int y, int channel) const;
    void setFloat(int x, int y, int channel, float v);
    bool isFloat() const { return bits_ == 32; }

    // Raw samples, row after row, channels interleaved; 16-bit and float samples in native byte order.
    uint8_t* data() { return data_.data(); }
    const uint8_t* data() const { return data_.data(); }
    size_t rowBytes() const { return static_cast<size_t>(width_) * channels_ * (bits_ / 8); }

    // The files (defined in host/formats/ImageFile.cpp).
    // Loads by the file's content (TIFF, TGA, BMP, PNG, EXR); on failure the bitmap is unchanged and
    // `error` says why.
    bool load(const std::string& path, std::string* error = nullptr);
    // Saves in the format given (0: by the file's suffix). Writes to a temporary file and renames it,
    // so a failed save leaves nothing half-written. 16-bit bitmaps can be saved as TIFF, PNG and EXR
    // only, float bitmaps as EXR only.
    bool save(const std::string& path, int32_t format = 0, std::string* error = nullptr) const;
    bool save(const std::string& path, int32_t format, std::string* error,
              const ImageSaveOptions& options) const;

    bool operator==(const Bitmap&) const = default;

private:
    int width_ = 0, height_ = 0, channels_ = 0, bits_ = 8;
    std::vector<uint8_t> data_;
};

}  // namespace host
