// Host bitmaps: 1, 3 or 4 channels of 8 or 16 bits each, loaded from and saved to TIFF, TGA, BMP
// and PNG files.
//
// What each file format holds:
//   TIFF  1, 3 or 4 channels, 8 or 16 bits (grey or RGB, alpha as an unassociated extra sample),
//         LZW with the horizontal predictor unless asked otherwise; strips of about 8 KiB.
//   PNG   1, 3 or 4 channels, 8 or 16 bits.
//   TGA   1, 3 or 4 channels, 8 bits, run-length encoded.
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

enum ImageFormat : int32_t { IMAGE_TIFF = 1100, IMAGE_TGA = 1101, IMAGE_BMP = 1102, IMAGE_PNG = 1103 };

struct ImageSaveOptions {
    // TIFF only: LZW with the horizontal predictor, or no compression at all.
    bool compressTiff = true;
};

// The format of a file name's suffix (tif, tiff, tga, bmp, png; any case), or 0.
int32_t imageFormatForPath(const std::string& path);
const char* imageFormatSuffix(int32_t format);

class Bitmap {
public:
    // Sizes from 1 to 32768 per side; channels 1, 3 or 4; 8 or 16 bits. Pixels start black.
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

    // Raw samples, row after row, channels interleaved; 16-bit samples in native byte order.
    uint8_t* data() { return data_.data(); }
    const uint8_t* data() const { return data_.data(); }
    size_t rowBytes() const { return static_cast<size_t>(width_) * channels_ * (bits_ / 8); }

    // Loads by the file's content (TIFF, TGA, BMP, PNG); on failure the bitmap is unchanged and
    // `error` says why.
    bool load(const std::string& path, std::string* error = nullptr);
    // Saves in the format given (0: by the file's suffix). Writes to a temporary file and renames it,
    // so a failed save leaves nothing half-written. 16-bit bitmaps can be saved as TIFF and PNG only.
    bool save(const std::string& path, int32_t format = 0, std::string* error = nullptr) const;
    bool save(const std::string& path, int32_t format, std::string* error,
              const ImageSaveOptions& options) const;

    bool operator==(const Bitmap&) const = default;

private:
    int width_ = 0, height_ = 0, channels_ = 0, bits_ = 8;
    std::vector<uint8_t> data_;
};

}  // namespace host
