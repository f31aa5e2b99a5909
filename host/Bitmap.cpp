// Host bitmaps and their image files.
//
// Loading reads the whole file, tells the format by its first bytes and hands the bytes to the
// decoder: libtiff for TIFF, libpng for PNG, stb_image for BMP and TGA. Saving encodes into a
// temporary file beside the target (libtiff, libpng, stb_image_write) and renames it into place only
// when everything went well, so a failed save never leaves a half-written or clobbered file.
//
// None of the libraries may print: libtiff's messages go through per-handle handlers into the
// error text (the process-wide handlers are switched off as well, for the odd message that is not
// tied to a handle), libpng's through our own error and warning functions.
#include "Bitmap.h"
#include "InputFile.h"
#include "SafeOutput.h"

#include "host/formats/ExrImage.h"

#include <png.h>
#include <stb_image.h>
#include <stb_image_write.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>

namespace host {

namespace {

constexpr int kMaxSide = 32768;

bool validSize(long long width, long long height) {
    return width >= 1 && width <= kMaxSide && height >= 1 && height <= kMaxSide;
}

// Decoded bytes per file byte that the densest codec we read can reach (deflate tops out near
// 1032:1, LZW near 1400:1, run-length coding at 64:1), and a floor for tiny files.
constexpr double kMaxExpansion = 4096.0;
constexpr double kSmallImageBytes = 1 << 20;

std::string errnoText(int err) { return std::strerror(err); }

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

// ---------------------------------------------------------------------------------------------
// Reading the file

enum class ReadResult { ok, missing, failed };

ReadResult readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& why) {
    const OpenedInput in = openRegularFile(path);
    if (in.fd < 0) {
        if (in.err == ENOENT) return ReadResult::missing;
        why = in.why;
        return ReadResult::failed;
    }
    const int fd = in.fd;
    const struct stat& st = in.st;
    try {
        bytes.clear();
        if (st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
        uint8_t chunk[65536];
        for (;;) {
            ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0) {
                if (errno == EINTR) continue;
                why = errnoText(errno);
                ::close(fd);
                return ReadResult::failed;
            }
            if (n == 0) break;
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
    } catch (const std::bad_alloc&) {
        why = "file too large to read into memory";
        ::close(fd);
        return ReadResult::failed;
    }
    ::close(fd);
    return ReadResult::ok;
}

bool startsWith(const std::vector<uint8_t>& bytes, const void* magic, size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
}

bool looksLikeTiff(const std::vector<uint8_t>& b) {
    // Classic TIFF (42) and BigTIFF (43), either byte order.
    return startsWith(b, "II*\0", 4) || startsWith(b, "MM\0*", 4) || startsWith(b, "II+\0", 4) ||
           startsWith(b, "MM\0+", 4);
}

bool looksLikePng(const std::vector<uint8_t>& b) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    return startsWith(b, signature, sizeof signature);
}

bool looksLikeBmp(const std::vector<uint8_t>& b) { return startsWith(b, "BM", 2); }

// TGA has no magic number; this is the header check stb_image makes too, done here so that files
// of formats stb_image knows but we do not take (JPEG, GIF, PSD, ...) are refused.
bool looksLikeTga(const std::vector<uint8_t>& b) {
    if (b.size() < 18) return false;
    const uint8_t colorMapType = b[1], imageType = b[2];
    if (colorMapType > 1) return false;
    const bool mapped = imageType == 1 || imageType == 9;
    const bool unmapped = imageType == 2 || imageType == 3 || imageType == 10 || imageType == 11;
    if (!mapped && !unmapped) return false;
    if (mapped != (colorMapType == 1)) return false;
    const int width = b[12] | (b[13] << 8), height = b[14] | (b[15] << 8);
    if (width < 1 || height < 1) return false;
    const uint8_t depth = b[16];
    if (mapped) return depth == 8 || depth == 16;
    return depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
}

// Copies one row of samples, turning grey + alpha into RGBA (our bitmaps have no 2-channel form).
void copyRow(uint8_t* out, const uint8_t* in, int width, int fileChannels, int bytesPerSample) {
    if (fileChannels != 2) {
        std::memcpy(out, in, static_cast<size_t>(width) * fileChannels * bytesPerSample);
        return;
    }
    const size_t s = bytesPerSample;
    for (int x = 0; x < width; ++x) {
        const uint8_t* grey = in + 2 * s * x;
        uint8_t* rgba = out + 4 * s * x;
        std::memcpy(rgba, grey, s);
        std::memcpy(rgba + s, grey, s);
        std::memcpy(rgba + 2 * s, grey, s);
        std::memcpy(rgba + 3 * s, grey + s, s);
    }
}

// ---------------------------------------------------------------------------------------------
// libtiff glue

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

// ---------------------------------------------------------------------------------------------
// libpng glue. libpng reports errors by longjmp; the functions that set the jump point keep no
// objects with destructors of their own, so nothing is skipped when it jumps.

struct PngContext {
    char message[256];
    // Reading: the file in memory.
    const uint8_t* data;
    size_t size;
    size_t pos;
    // Writing: the open file, or the string that takes the bytes when there is one.
    FILE* file;
    std::string* memory;
};

[[noreturn]] void pngErrorFunction(png_structp png, png_const_charp message) {
    auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
    std::snprintf(context->message, sizeof context->message, "%s", message ? message : "unknown error");
    png_longjmp(png, 1);
}

void pngWarningFunction(png_structp, png_const_charp) {}

void pngReadFunction(png_structp png, png_bytep out, size_t n) {
    auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
    if (n > context->size - context->pos) png_error(png, "file is truncated");
    std::memcpy(out, context->data + context->pos, n);
    context->pos += n;
}

void pngWriteFunction(png_structp png, png_bytep in, size_t n) {
    auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
    if (context->memory) {
        context->memory->append(reinterpret_cast<const char*>(in), n);
        return;
    }
    if (std::fwrite(in, 1, n, context->file) != n) png_error(png, std::strerror(errno));
}

void pngFlushFunction(png_structp png) {
    auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
    if (context->file) std::fflush(context->file);
}

// `image` must be an empty bitmap owned by the caller.
bool decodePngInto(PngContext& context, Bitmap& image) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, pngErrorFunction, pngWarningFunction);
    if (!png) {
        std::snprintf(context.message, sizeof context.message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::snprintf(context.message, sizeof context.message, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &context, pngReadFunction);
    png_read_info(png, info);

    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    // No C++ object may live across png_error's longjmp: the reason is copied out of its scope first.
    char sizeProblem[256] = "";
    {
        std::string why;
        if (!imageSizeFitsFile(width, height, 1, context.size, why))
            std::snprintf(sizeProblem, sizeof sizeProblem, "%s", why.c_str());
    }
    if (sizeProblem[0]) png_error(png, sizeProblem);
    const int depth = png_get_bit_depth(png, info);
    const int colorType = png_get_color_type(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS) || (colorType & PNG_COLOR_MASK_ALPHA)) {
        // Grey with alpha has no bitmap form of its own: make it RGBA.
        if (!(colorType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
    }
    if (depth == 16 && std::endian::native == std::endian::little) png_set_swap(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const int channels = png_get_channels(png, info);
    const int bits = png_get_bit_depth(png, info);
    if ((channels != 1 && channels != 3 && channels != 4) || (bits != 8 && bits != 16))
        png_error(png, "unexpected pixel layout after conversion");
    if (!image.init(static_cast<int>(width), static_cast<int>(height), channels, bits)) png_error(png, "out of memory");
    if (png_get_rowbytes(png, info) != image.rowBytes()) png_error(png, "unexpected row size");
    // Interlaced files fill each row over several passes; libpng merges into the rows given.
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, image.data() + y * image.rowBytes(), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool decodePng(const std::vector<uint8_t>& bytes, Bitmap& out, std::string& why) {
    PngContext context{};
    context.data = bytes.data();
    context.size = bytes.size();
    Bitmap image;
    if (!decodePngInto(context, image)) {
        why = std::string("broken PNG file: ") + context.message;
        return false;
    }
    out = std::move(image);
    return true;
}

bool encodePngTo(PngContext& context, const Bitmap& bitmap) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &context, pngErrorFunction, pngWarningFunction);
    if (!png) {
        std::snprintf(context.message, sizeof context.message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(context.message, sizeof context.message, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &context, pngWriteFunction, pngFlushFunction);
    const int colorType = bitmap.channels() == 1   ? PNG_COLOR_TYPE_GRAY
                          : bitmap.channels() == 3 ? PNG_COLOR_TYPE_RGB
                                                   : PNG_COLOR_TYPE_RGBA;
    png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.width()), static_cast<png_uint_32>(bitmap.height()),
                 bitmap.bitsPerChannel(), colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (bitmap.bitsPerChannel() == 16 && std::endian::native == std::endian::little) png_set_swap(png);
    // libpng copies each row before filtering or swapping it, so the bitmap is only read.
    for (int y = 0; y < bitmap.height(); ++y)
        png_write_row(png, const_cast<png_bytep>(bitmap.data() + y * bitmap.rowBytes()));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool encodePng(const Bitmap& bitmap, std::string& bytes, std::string* error) {
    if (bitmap.empty() || bitmap.isFloat()) {
        if (error) *error = bitmap.empty() ? "no image to encode" : "PNG holds 8 or 16 bits per channel, not floats";
        return false;
    }
    std::string out;
    PngContext context{};
    context.memory = &out;
    if (!encodePngTo(context, bitmap)) {
        if (error) *error = context.message;
        return false;
    }
    bytes = std::move(out);
    return true;
}

namespace {

// ---------------------------------------------------------------------------------------------
// stb_image glue (BMP and TGA)

bool decodeStb(const std::vector<uint8_t>& bytes, const char* kind, Bitmap& out, std::string& why) {
    if (bytes.size() > static_cast<size_t>(INT_MAX)) {
        why = std::string(kind) + " file too large";
        return false;
    }
    int width = 0, height = 0, fileChannels = 0;
    // stb_image allocates the whole image before it reads a pixel: check the declared size first.
    if (!stbi_info_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width, &height, &fileChannels)) {
        const char* reason = stbi_failure_reason();
        why = std::string("broken ") + kind + " file: " + (reason ? reason : "cannot read its header");
        return false;
    }
    if (!imageSizeFitsFile(width, height, fileChannels, bytes.size(), why)) return false;
    stbi_uc* pixels =
        stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width, &height, &fileChannels, 0);
    if (!pixels) {
        const char* reason = stbi_failure_reason();
        why = std::string("broken ") + kind + " file: " + (reason ? reason : "cannot decode it");
        return false;
    }
    std::unique_ptr<stbi_uc, void (*)(void*)> hold(pixels, stbi_image_free);
    if (!validSize(width, height)) {
        why = "image size " + std::to_string(width) + " x " + std::to_string(height) + " is outside 1 to " +
              std::to_string(kMaxSide);
        return false;
    }
    if (fileChannels < 1 || fileChannels > 4) {
        why = std::string("unsupported kind of ") + kind + " file";
        return false;
    }
    const int channels = fileChannels == 2 ? 4 : fileChannels;
    Bitmap image;
    if (!image.init(width, height, channels, 8)) {
        why = "out of memory";
        return false;
    }
    for (int y = 0; y < height; ++y)
        copyRow(image.data() + y * image.rowBytes(),
                pixels + static_cast<size_t>(y) * width * fileChannels, width, fileChannels, 1);
    out = std::move(image);
    return true;
}

struct StbWriteContext {
    FILE* file;
    bool failed;
    int err;
};

void stbWriteFunction(void* user, void* data, int size) {
    auto* context = static_cast<StbWriteContext*>(user);
    if (context->failed || size <= 0) return;
    if (std::fwrite(data, 1, static_cast<size_t>(size), context->file) != static_cast<size_t>(size)) {
        context->failed = true;
        context->err = errno;
    }
}

// ---------------------------------------------------------------------------------------------
// Saving through a temporary file

// Writes into the open file `fd` (which it always closes).
bool encodeInto(const Bitmap& bitmap, int32_t format, int fd, const std::string& path,
                const ImageSaveOptions& options, std::string& why) {
    if (format == IMAGE_TIFF) return encodeTiff(bitmap, fd, path, options.compressTiff, why);
    if (format == IMAGE_EXR || format == IMAGE_EXR_HALF) {
        std::string bytes;
        bool ok = formats::encodeExr(bitmap, format == IMAGE_EXR_HALF, bytes, why);
        for (size_t at = 0; ok && at < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                why = errnoText(errno);
                ok = false;
                break;
            }
            at += static_cast<size_t>(n);
        }
        if (::close(fd) != 0 && ok) {
            why = errnoText(errno);
            ok = false;
        }
        return ok;
    }

    FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        why = errnoText(errno);
        ::close(fd);
        return false;
    }
    bool ok = false;
    if (format == IMAGE_PNG) {
        PngContext context{};
        context.file = file;
        ok = encodePngTo(context, bitmap);
        if (!ok) why = context.message;
    } else {
        StbWriteContext context{file, false, 0};
        const int w = bitmap.width(), h = bitmap.height(), c = bitmap.channels();
        const int written = format == IMAGE_TGA ? stbi_write_tga_to_func(stbWriteFunction, &context, w, h, c, bitmap.data())
                                                : stbi_write_bmp_to_func(stbWriteFunction, &context, w, h, c, bitmap.data());
        ok = written != 0 && !context.failed;
        if (!ok) why = context.failed ? errnoText(context.err) : "the encoder refused the image";
    }
    if (std::fflush(file) != 0 || std::ferror(file)) {
        if (ok) why = errnoText(errno);
        ok = false;
    }
    if (std::fclose(file) != 0) {
        if (ok) why = errnoText(errno);
        ok = false;
    }
    return ok;
}

const char* formatName(int32_t format) {
    switch (format) {
        case IMAGE_TIFF: return "TIFF";
        case IMAGE_TGA: return "TGA";
        case IMAGE_BMP: return "BMP";
        case IMAGE_PNG: return "PNG";
        case IMAGE_EXR: return "OpenEXR";
        case IMAGE_EXR_HALF: return "OpenEXR";
        default: return "unknown";
    }
}

}  // namespace

bool imageSizeFitsFile(long long width, long long height, int bytesPerPixel, size_t fileBytes, std::string& why) {
    if (!validSize(width, height)) {
        why = "image size " + std::to_string(width) + " x " + std::to_string(height) + " is outside 1 to " +
              std::to_string(kMaxSide);
        return false;
    }
    const double decoded = static_cast<double>(width) * static_cast<double>(height) * bytesPerPixel;
    if (decoded > kSmallImageBytes + kMaxExpansion * static_cast<double>(fileBytes)) {
        why = "the file declares " + std::to_string(width) + " x " + std::to_string(height) +
              " pixels but holds only " + std::to_string(fileBytes) + " bytes: it is cut short or broken";
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

int32_t imageFormatForPath(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return 0;
    std::string suffix = path.substr(dot + 1);
    std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (suffix == "tif" || suffix == "tiff") return IMAGE_TIFF;
    if (suffix == "tga") return IMAGE_TGA;
    if (suffix == "bmp") return IMAGE_BMP;
    if (suffix == "png") return IMAGE_PNG;
    if (suffix == "exr") return IMAGE_EXR;
    return 0;
}

const char* imageFormatSuffix(int32_t format) {
    switch (format) {
        case IMAGE_TIFF: return "tif";
        case IMAGE_TGA: return "tga";
        case IMAGE_BMP: return "bmp";
        case IMAGE_PNG: return "png";
        case IMAGE_EXR:
        case IMAGE_EXR_HALF: return "exr";
        default: return "";
    }
}

bool Bitmap::init(int width, int height, int channels, int bitsPerChannel) {
    if (!validSize(width, height)) return false;
    if (channels != 1 && channels != 3 && channels != 4) return false;
    if (bitsPerChannel != 8 && bitsPerChannel != 16 && bitsPerChannel != 32) return false;
    std::vector<uint8_t> pixels;
    try {
        pixels.assign(static_cast<size_t>(width) * height * channels * (bitsPerChannel / 8), 0);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    data_.swap(pixels);
    width_ = width;
    height_ = height;
    channels_ = channels;
    bits_ = bitsPerChannel;
    return true;
}

void Bitmap::clear() {
    std::vector<uint8_t>().swap(data_);
    width_ = height_ = channels_ = 0;
    bits_ = 8;
}

namespace {
// Bounds and channel check of the accessors; an empty bitmap has no valid coordinates.
bool inside(const Bitmap& b, int x, int y, int channel) {
    return x >= 0 && x < b.width() && y >= 0 && y < b.height() && channel >= 0 && channel < b.channels();
}
}  // namespace

float Bitmap::getFloat(int x, int y, int channel) const {
    if (!inside(*this, x, y, channel)) return 0.0f;
    const size_t index = (static_cast<size_t>(y) * width_ + x) * channels_ + channel;
    if (bits_ == 8) return static_cast<float>(data_[index] / 255.0);
    if (bits_ == 16) {
        uint16_t v;
        std::memcpy(&v, &data_[index * 2], 2);
        return static_cast<float>(v / 65535.0);
    }
    float f;
    std::memcpy(&f, &data_[index * 4], 4);
    return f;
}

void Bitmap::setFloat(int x, int y, int channel, float v) {
    if (!inside(*this, x, y, channel)) return;
    const size_t index = (static_cast<size_t>(y) * width_ + x) * channels_ + channel;
    if (bits_ == 32) {
        std::memcpy(&data_[index * 4], &v, 4);
        return;
    }
    const float c = v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
    if (bits_ == 8) {
        data_[index] = static_cast<uint8_t>(std::lround(c * 255.0f));
        return;
    }
    const uint16_t wide = static_cast<uint16_t>(std::lround(c * 65535.0f));
    std::memcpy(&data_[index * 2], &wide, 2);
}

namespace {
float unitFloat(const std::vector<uint8_t>& data, size_t index) {
    float f;
    std::memcpy(&f, &data[index * 4], 4);
    return f > 0.0f ? (f < 1.0f ? f : 1.0f) : 0.0f;
}
}  // namespace

uint8_t Bitmap::get8(int x, int y, int channel) const {
    if (!inside(*this, x, y, channel)) return 0;
    const size_t index = (static_cast<size_t>(y) * width_ + x) * channels_ + channel;
    if (bits_ == 8) return data_[index];
    if (bits_ == 32) return static_cast<uint8_t>(std::lround(unitFloat(data_, index) * 255.0f));
    uint16_t v;
    std::memcpy(&v, &data_[index * 2], 2);
    return static_cast<uint8_t>(v >> 8);
}

void Bitmap::set8(int x, int y, int channel, uint8_t v) {
    if (!inside(*this, x, y, channel)) return;
    const size_t index = (static_cast<size_t>(y) * width_ + x) * channels_ + channel;
    if (bits_ == 8) {
        data_[index] = v;
        return;
    }
    if (bits_ == 32) {
        const float f = v / 255.0f;
        std::memcpy(&data_[index * 4], &f, 4);
        return;
    }
    const uint16_t wide = static_cast<uint16_t>(v * 257);
    std::memcpy(&data_[index * 2], &wide, 2);
}

uint16_t Bitmap::get16(int x, int y, int channel) const {
    if (!inside(*this, x, y, channel)) return 0;
    const size_t index = (static_cast<size_t>(y) * width_ + x) * channels_ + channel;
    if (bits_ == 8) return static_cast<uint16_t>(data_[index] * 257);
    if (bits_ == 32) return static_cast<uint16_t>(std::lround(unitFloat(data_, index) * 65535.0f));
    uint16_t v;
    std::memcpy(&v, &data_[index * 2], 2);
    return v;
}

void Bitmap::set16(int x, int y, int channel, uint16_t v) {
    if (!inside(*this, x, y, channel)) return;
    const size_t index = (static_cast<size_t>(y) * width_ + x) * channels_ + channel;
    if (bits_ == 8) {
        data_[index] = static_cast<uint8_t>(v >> 8);
        return;
    }
    if (bits_ == 32) {
        const float f = v / 65535.0f;
        std::memcpy(&data_[index * 4], &f, 4);
        return;
    }
    std::memcpy(&data_[index * 2], &v, 2);
}

void Bitmap::setPixel(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    switch (channels_) {
        case 1: set8(x, y, 0, static_cast<uint8_t>((r + g + b + 1) / 3)); break;
        case 4: set8(x, y, 3, 255); [[fallthrough]];
        case 3:
            set8(x, y, 0, r);
            set8(x, y, 1, g);
            set8(x, y, 2, b);
            break;
        default: break;
    }
}

bool Bitmap::load(const std::string& path, std::string* error) {
    std::vector<uint8_t> bytes;
    std::string why;
    switch (readWholeFile(path, bytes, why)) {
        case ReadResult::missing: setError(error, path + ": no such file"); return false;
        case ReadResult::failed: setError(error, path + ": " + why); return false;
        case ReadResult::ok: break;
    }
    Bitmap image;
    bool ok;
    if (looksLikeTiff(bytes))
        ok = decodeTiff(bytes, path, image, why);
    else if (looksLikePng(bytes))
        ok = decodePng(bytes, image, why);
    else if (looksLikeBmp(bytes))
        ok = decodeStb(bytes, "BMP", image, why);
    else if (formats::looksLikeExr(bytes))
        ok = formats::decodeExr(bytes, image, why);
    else if (looksLikeTga(bytes))
        ok = decodeStb(bytes, "TGA", image, why);
    else {
        ok = false;
        why = bytes.empty() ? "empty file, not an image file we can read" : "not an image file we can read";
    }
    if (!ok) {
        setError(error, path + ": " + why);
        return false;
    }
    *this = std::move(image);
    return true;
}

bool Bitmap::save(const std::string& path, int32_t format, std::string* error) const {
    return save(path, format, error, ImageSaveOptions{});
}

bool Bitmap::save(const std::string& path, int32_t format, std::string* error, const ImageSaveOptions& options) const {
    if (empty()) {
        setError(error, path + ": nothing to save, the bitmap is empty");
        return false;
    }
    if (format == 0) {
        format = imageFormatForPath(path);
        if (format == 0) {
            setError(error, path + ": unknown image file suffix (tif, tiff, tga, bmp, png or exr expected)");
            return false;
        }
    }
    const bool exr = format == IMAGE_EXR || format == IMAGE_EXR_HALF;
    if (format != IMAGE_TIFF && format != IMAGE_TGA && format != IMAGE_BMP && format != IMAGE_PNG && !exr) {
        setError(error, path + ": unknown image format " + std::to_string(format));
        return false;
    }
    if (bits_ == 16 && (format == IMAGE_TGA || format == IMAGE_BMP)) {
        setError(error, path + ": the " + formatName(format) +
                            " format cannot hold 16 bits per channel (use TIFF, PNG or EXR)");
        return false;
    }
    if (bits_ == 32 && !exr) {
        setError(error, path + ": the " + std::string(formatName(format)) +
                            " format cannot hold float channels (use EXR)");
        return false;
    }

    SafeOutput file;
    if (!file.open(path, error)) return false;
    // The encoders close what they are handed; the output keeps its own descriptor to flush.
    const int fd = ::dup(file.fd());
    if (fd < 0) {
        setError(error, path + ": cannot write the " + formatName(format) + " file: " + errnoText(errno));
        return false;
    }
    std::string why;
    if (!encodeInto(*this, format, fd, path, options, why)) {
        setError(error, path + ": cannot write the " + formatName(format) + " file: " + why);
        return false;
    }
    std::string problem;
    if (!file.commit(&problem)) {
        setError(error, problem);
        return false;
    }
    return true;
}

}  // namespace host
