#include "host/formats/TiffImage.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "host/Bitmap.h"
#include "host/formats/ImageBytes.h"

namespace host::formats {

bool looksLikeTiff(const std::vector<uint8_t>& b) {
    // Classic TIFF (42) and BigTIFF (43), either byte order.
    return bytesStartWith(b, "II*\0", 4) || bytesStartWith(b, "MM\0*", 4) || bytesStartWith(b, "II+\0", 4) ||
           bytesStartWith(b, "MM\0+", 4);
}

namespace {

// Gathers the first error of one libtiff handle. Warnings (unknown tags and the like) are dropped.
struct TiffMessages {
    std::string error;
};

// The module libtiff names is a function of its own or the file name; neither helps the reader
// of the message, who already gets the file name from us.
std::string formatTiffMessage(const char* fmt, va_list ap) {
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    return text;
}

int tiffErrorHandler(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
    auto* messages = static_cast<TiffMessages*>(user);
    if (messages->error.empty()) messages->error = formatTiffMessage(fmt, ap);
    return 1;  // handled: the process-wide handler is not called
}

int tiffWarningHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

void silenceTiffGlobally() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

struct TiffOptionsDeleter {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};
struct TiffDeleter {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffOptionsPtr = std::unique_ptr<TIFFOpenOptions, TiffOptionsDeleter>;
using TiffPtr = std::unique_ptr<TIFF, TiffDeleter>;

TiffOptionsPtr tiffOptions(TiffMessages& messages) {
    silenceTiffGlobally();
    TiffOptionsPtr options(TIFFOpenOptionsAlloc());
    if (options) {
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), tiffErrorHandler, &messages);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), tiffWarningHandler, &messages);
    }
    return options;
}

// A TIFF held in memory, read through libtiff's client procedures.
struct TiffMemory {
    const uint8_t* data;
    uint64_t size;
    uint64_t pos;
};

tmsize_t tiffMemRead(thandle_t h, void* buf, tmsize_t n) {
    auto* m = static_cast<TiffMemory*>(h);
    if (n <= 0 || m->pos >= m->size) return 0;
    const uint64_t count = std::min<uint64_t>(static_cast<uint64_t>(n), m->size - m->pos);
    std::memcpy(buf, m->data + m->pos, count);
    m->pos += count;
    return static_cast<tmsize_t>(count);
}
tmsize_t tiffMemWrite(thandle_t, void*, tmsize_t) { return -1; }
toff_t tiffMemSeek(thandle_t h, toff_t off, int whence) {
    auto* m = static_cast<TiffMemory*>(h);
    if (whence == SEEK_SET) {
        m->pos = off;
        return m->pos;
    }
    if (whence != SEEK_CUR && whence != SEEK_END) return static_cast<toff_t>(-1);
    // Relative seeks may go backwards: the offset is then a negative number in unsigned clothing.
    const int64_t base = static_cast<int64_t>(whence == SEEK_CUR ? m->pos : m->size);
    const int64_t target = base + static_cast<int64_t>(off);
    if (target < 0) return static_cast<toff_t>(-1);
    m->pos = static_cast<uint64_t>(target);
    return m->pos;
}
int tiffMemClose(thandle_t) { return 0; }
toff_t tiffMemSize(thandle_t h) { return static_cast<TiffMemory*>(h)->size; }
int tiffMemMap(thandle_t, void**, toff_t*) { return 0; }
void tiffMemUnmap(thandle_t, void*, toff_t) {}

std::string tiffFailure(const TiffMessages& messages, const char* fallback) {
    return !messages.error.empty() ? messages.error : fallback;
}

}  // namespace

// Reads the first image of a TIFF. Files of 8 or 16 bits per sample with grey or RGB samples
// (plus alpha) stored pixel by pixel and top row first are read as they are; anything else goes
// through libtiff's RGBA reader and comes out 8-bit.
bool decodeTiff(const std::vector<uint8_t>& bytes, const std::string& path, Bitmap& out, std::string& why) {
    TiffMessages messages;
    TiffOptionsPtr options = tiffOptions(messages);
    if (!options) {
        why = "out of memory";
        return false;
    }
    TiffMemory memory{bytes.data(), bytes.size(), 0};
    TiffPtr tif(TIFFClientOpenExt(path.c_str(), "rm", &memory, tiffMemRead, tiffMemWrite, tiffMemSeek,
                                  tiffMemClose, tiffMemSize, tiffMemMap, tiffMemUnmap, options.get()));
    if (!tif) {
        why = "broken TIFF file: " + tiffFailure(messages, "cannot read its header");
        return false;
    }
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT;
    uint16_t photometric = 0xFFFF, orientation = ORIENTATION_TOPLEFT;
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height)) {
        why = "broken TIFF file: no image size";
        return false;
    }
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
    TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    // The RGBA reader below holds four bytes per pixel, the direct path at most eight.
    if (!imageSizeFitsFile(width, height, 4, bytes.size(), why)) return false;

    const bool grey = photometric == PHOTOMETRIC_MINISBLACK && (samples == 1 || samples == 2);
    const bool rgb = photometric == PHOTOMETRIC_RGB && (samples == 3 || samples == 4);
    const bool direct = (bits == 8 || bits == 16) && format == SAMPLEFORMAT_UINT &&
                        planar == PLANARCONFIG_CONTIG && orientation == ORIENTATION_TOPLEFT && (grey || rgb);
    if (direct) {
        const int fileChannels = samples;
        const int channels = samples == 2 ? 4 : samples;
        const int bytesPerSample = bits / 8;
        Bitmap image;
        if (!image.init(static_cast<int>(width), static_cast<int>(height), channels, bits)) {
            why = "out of memory";
            return false;
        }
        const size_t fileRowBytes = static_cast<size_t>(width) * fileChannels * bytesPerSample;
        if (TIFFIsTiled(tif.get())) {
            uint32_t tileWidth = 0, tileHeight = 0;
            TIFFGetField(tif.get(), TIFFTAG_TILEWIDTH, &tileWidth);
            TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &tileHeight);
            const tmsize_t tileSize = TIFFTileSize(tif.get());
            const size_t tileRowBytes = static_cast<size_t>(tileWidth) * fileChannels * bytesPerSample;
            if (tileWidth == 0 || tileHeight == 0 || tileSize <= 0 ||
                static_cast<uint64_t>(tileSize) < static_cast<uint64_t>(tileRowBytes) * tileHeight) {
                why = "broken TIFF file: bad tile size";
                return false;
            }
            std::vector<uint8_t> tile(static_cast<size_t>(tileSize));
            for (uint32_t ty = 0; ty < height; ty += tileHeight) {
                for (uint32_t tx = 0; tx < width; tx += tileWidth) {
                    if (TIFFReadTile(tif.get(), tile.data(), tx, ty, 0, 0) < 0) {
                        why = "broken TIFF file: " + tiffFailure(messages, "cannot read a tile");
                        return false;
                    }
                    const uint32_t w = std::min(tileWidth, width - tx), h = std::min(tileHeight, height - ty);
                    for (uint32_t r = 0; r < h; ++r) {
                        uint8_t* dst = image.data() + (ty + r) * image.rowBytes() +
                                       static_cast<size_t>(tx) * channels * bytesPerSample;
                        copyRow(dst, tile.data() + r * tileRowBytes, static_cast<int>(w), fileChannels,
                                bytesPerSample);
                    }
                }
            }
        } else {
            const tmsize_t scanline = TIFFScanlineSize(tif.get());
            if (scanline <= 0 || static_cast<uint64_t>(scanline) < fileRowBytes) {
                why = "broken TIFF file: bad row size";
                return false;
            }
            std::vector<uint8_t> row(static_cast<size_t>(scanline));
            for (uint32_t y = 0; y < height; ++y) {
                if (TIFFReadScanline(tif.get(), row.data(), y, 0) < 0) {
                    why = "broken TIFF file: " + tiffFailure(messages, "cannot read its rows");
                    return false;
                }
                copyRow(image.data() + y * image.rowBytes(), row.data(), static_cast<int>(width), fileChannels,
                        bytesPerSample);
            }
        }
        out = std::move(image);
        return true;
    }

    char reason[1024] = "";
    if (!TIFFRGBAImageOK(tif.get(), reason)) {
        why = std::string("unsupported kind of TIFF file: ") + reason;
        return false;
    }
    const bool alpha = extraCount > 0;
    const bool greyFile = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    const int channels = alpha ? 4 : greyFile ? 1 : 3;
    Bitmap image;
    std::vector<uint32_t> raster;
    try {
        raster.resize(static_cast<size_t>(width) * height);
    } catch (const std::bad_alloc&) {
        why = "out of memory";
        return false;
    }
    if (!image.init(static_cast<int>(width), static_cast<int>(height), channels, 8)) {
        why = "out of memory";
        return false;
    }
    if (!TIFFReadRGBAImageOriented(tif.get(), width, height, raster.data(), ORIENTATION_TOPLEFT, 0)) {
        why = "broken TIFF file: " + tiffFailure(messages, "cannot read its pixels");
        return false;
    }
    uint8_t* dst = image.data();
    for (uint32_t p : raster) {
        const uint8_t rgba[4] = {static_cast<uint8_t>(TIFFGetR(p)), static_cast<uint8_t>(TIFFGetG(p)),
                                 static_cast<uint8_t>(TIFFGetB(p)), static_cast<uint8_t>(TIFFGetA(p))};
        if (channels == 1) {
            *dst++ = rgba[0];
        } else {
            std::memcpy(dst, rgba, channels);
            dst += channels;
        }
    }
    out = std::move(image);
    return true;
}

bool encodeTiff(const Bitmap& bitmap, int fd, const std::string& path, bool compress, std::string& why) {
    TiffMessages messages;
    TiffOptionsPtr options = tiffOptions(messages);
    if (!options) {
        ::close(fd);
        why = "out of memory";
        return false;
    }
    TiffPtr tif(TIFFFdOpenExt(fd, path.c_str(), "w", options.get()));
    if (!tif) {
        ::close(fd);
        why = tiffFailure(messages, "cannot start the TIFF file");
        return false;
    }
    // From here on TIFFClose closes fd.
    const int channels = bitmap.channels();
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(bitmap.width()));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(bitmap.height()));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(bitmap.bitsPerChannel()));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(channels));
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, static_cast<uint16_t>(SAMPLEFORMAT_UINT));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG));
    TIFFSetField(t, TIFFTAG_ORIENTATION, static_cast<uint16_t>(ORIENTATION_TOPLEFT));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
                 static_cast<uint16_t>(channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB));
    if (channels == 4) {
        uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(1), extra);
    }
    if (compress) {
        TIFFSetField(t, TIFFTAG_COMPRESSION, static_cast<uint16_t>(COMPRESSION_LZW));
        TIFFSetField(t, TIFFTAG_PREDICTOR, static_cast<uint16_t>(PREDICTOR_HORIZONTAL));
    } else {
        TIFFSetField(t, TIFFTAG_COMPRESSION, static_cast<uint16_t>(COMPRESSION_NONE));
    }
    // About 8 KiB of samples per strip, the size libtiff recommends.
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    if (!messages.error.empty()) {
        why = messages.error;
        return false;
    }
    // The encoder may work on the row in place (the predictor does), so each row is copied first.
    std::vector<uint8_t> row(bitmap.rowBytes());
    for (int y = 0; y < bitmap.height(); ++y) {
        std::memcpy(row.data(), bitmap.data() + y * bitmap.rowBytes(), row.size());
        if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) < 0) {
            why = tiffFailure(messages, "cannot write its rows");
            return false;
        }
    }
    if (!TIFFFlush(t) || !messages.error.empty()) {
        why = tiffFailure(messages, "cannot finish the file");
        return false;
    }
    tif.reset();
    if (!messages.error.empty()) {
        why = messages.error;
        return false;
    }
    return true;
}

}  // namespace host::formats
