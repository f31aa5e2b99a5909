#include "host/formats/PngImage.h"

#include <png.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include "host/Bitmap.h"
#include "host/formats/ImageBytes.h"

namespace host::formats {

bool looksLikePng(const std::vector<uint8_t>& b) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    return bytesStartWith(b, signature, sizeof signature);
}

namespace {

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

}  // namespace

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

namespace {

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

bool encodePngFile(const Bitmap& bitmap, FILE* file, std::string& why) {
    PngContext context{};
    context.file = file;
    const bool ok = encodePngTo(context, bitmap);
    if (!ok) why = context.message;
    return ok;
}

}  // namespace host::formats

namespace host {

bool encodePng(const Bitmap& bitmap, std::string& bytes, std::string* error) {
    if (bitmap.empty() || bitmap.isFloat()) {
        if (error) *error = bitmap.empty() ? "no image to encode" : "PNG holds 8 or 16 bits per channel, not floats";
        return false;
    }
    std::string out;
    formats::PngContext context{};
    context.memory = &out;
    if (!formats::encodePngTo(context, bitmap)) {
        if (error) *error = context.message;
        return false;
    }
    bytes = std::move(out);
    return true;
}

}  // namespace host
