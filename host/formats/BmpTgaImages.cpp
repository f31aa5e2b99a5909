#include "host/formats/BmpTgaImages.h"

#include <stb_image.h>
#include <stb_image_write.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "host/Bitmap.h"
#include "host/formats/ImageBytes.h"

namespace host::formats {

bool looksLikeBmp(const std::vector<uint8_t>& b) { return bytesStartWith(b, "BM", 2); }

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

namespace {

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
    if (!bitmapSizeValid(width, height)) {
        why = "image size " + std::to_string(width) + " x " + std::to_string(height) + " is outside 1 to " +
              std::to_string(kMaxBitmapSide);
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

// Writes with stb_image_write's `write` (the TGA or the BMP writer) into `file`.
template <typename Writer>
bool encodeStb(const Bitmap& bitmap, FILE* file, Writer write, std::string& why) {
    StbWriteContext context{file, false, 0};
    const int w = bitmap.width(), h = bitmap.height(), c = bitmap.channels();
    const int written = write(stbWriteFunction, &context, w, h, c, bitmap.data());
    const bool ok = written != 0 && !context.failed;
    if (!ok) why = context.failed ? std::strerror(context.err) : "the encoder refused the image";
    return ok;
}

}  // namespace

bool decodeBmp(const std::vector<uint8_t>& bytes, Bitmap& out, std::string& why) {
    return decodeStb(bytes, "BMP", out, why);
}

bool decodeTga(const std::vector<uint8_t>& bytes, Bitmap& out, std::string& why) {
    return decodeStb(bytes, "TGA", out, why);
}

bool encodeBmpFile(const Bitmap& bitmap, FILE* file, std::string& why) {
    return encodeStb(bitmap, file, stbi_write_bmp_to_func, why);
}

bool encodeTgaFile(const Bitmap& bitmap, FILE* file, std::string& why) {
    return encodeStb(bitmap, file, stbi_write_tga_to_func, why);
}

}  // namespace host::formats
