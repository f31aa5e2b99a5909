#include "host/formats/ImageFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "host/InputFile.h"
#include "host/SafeOutput.h"
#include "host/formats/BmpTgaImages.h"
#include "host/formats/ExrImage.h"
#include "host/formats/PngImage.h"
#include "host/formats/TiffImage.h"

namespace host::formats {
namespace {

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

ReadResult readImageBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& why) {
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

// ---------------------------------------------------------------------------------------------
// Writing: the codecs that encode into memory or through stdio, onto the descriptor of the output

// Writes all of `bytes` to `fd` and closes it.
bool writeBytesAndClose(int fd, const std::string& bytes, bool ok, std::string& why) {
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

bool encodeExrInto(const Bitmap& bitmap, bool half, int fd, std::string& why) {
    std::string bytes;
    const bool ok = encodeExr(bitmap, half, bytes, why);
    return writeBytesAndClose(fd, bytes, ok, why);
}

// Hands `fd` to stdio for an encoder that writes through a FILE, and closes it.
bool encodeThroughFile(const Bitmap& bitmap, int fd, bool (*encode)(const Bitmap&, FILE*, std::string&),
                       std::string& why) {
    FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        why = errnoText(errno);
        ::close(fd);
        return false;
    }
    bool ok = encode(bitmap, file, why);
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

using Bytes = std::vector<uint8_t>;
using Options = ImageSaveOptions;

}  // namespace

const std::vector<ImageCodec>& imageCodecs() {
    static const std::vector<ImageCodec> codecs = {
        {IMAGE_TIFF, "TIFF", "tif", {"tif", "tiff"}, true, false, looksLikeTiff,
         [](const Bytes& b, const std::string& path, Bitmap& out, std::string& why) {
             return decodeTiff(b, path, out, why);
         },
         [](const Bitmap& bitmap, int fd, const std::string& path, const Options& options, std::string& why) {
             return encodeTiff(bitmap, fd, path, options.compressTiff, why);
         }},
        {IMAGE_PNG, "PNG", "png", {"png"}, true, false, looksLikePng,
         [](const Bytes& b, const std::string&, Bitmap& out, std::string& why) { return decodePng(b, out, why); },
         [](const Bitmap& bitmap, int fd, const std::string&, const Options&, std::string& why) {
             return encodeThroughFile(bitmap, fd, encodePngFile, why);
         }},
        {IMAGE_BMP, "BMP", "bmp", {"bmp"}, false, false, looksLikeBmp,
         [](const Bytes& b, const std::string&, Bitmap& out, std::string& why) { return decodeBmp(b, out, why); },
         [](const Bitmap& bitmap, int fd, const std::string&, const Options&, std::string& why) {
             return encodeThroughFile(bitmap, fd, encodeBmpFile, why);
         }},
        {IMAGE_EXR, "OpenEXR", "exr", {"exr"}, true, true, looksLikeExr,
         [](const Bytes& b, const std::string&, Bitmap& out, std::string& why) { return decodeExr(b, out, why); },
         [](const Bitmap& bitmap, int fd, const std::string&, const Options&, std::string& why) {
             return encodeExrInto(bitmap, false, fd, why);
         }},
        {IMAGE_TGA, "TGA", "tga", {"tga"}, false, false, looksLikeTga,
         [](const Bytes& b, const std::string&, Bitmap& out, std::string& why) { return decodeTga(b, out, why); },
         [](const Bitmap& bitmap, int fd, const std::string&, const Options&, std::string& why) {
             return encodeThroughFile(bitmap, fd, encodeTgaFile, why);
         }},
        // Half floats are asked for by id; their files read back through the row above.
        {IMAGE_EXR_HALF, "OpenEXR", "exr", {}, true, true, nullptr, nullptr,
         [](const Bitmap& bitmap, int fd, const std::string&, const Options&, std::string& why) {
             return encodeExrInto(bitmap, true, fd, why);
         }},
    };
    return codecs;
}

const ImageCodec* imageCodecFor(int32_t format) {
    for (const ImageCodec& codec : imageCodecs())
        if (codec.format == format) return &codec;
    return nullptr;
}

const ImageCodec* imageCodecOfContent(const std::vector<uint8_t>& bytes) {
    for (const ImageCodec& codec : imageCodecs())
        if (codec.looksLike && codec.looksLike(bytes)) return &codec;
    return nullptr;
}

}  // namespace host::formats

namespace host {

using formats::ImageCodec;

bool imageSizeFitsFile(long long width, long long height, int bytesPerPixel, size_t fileBytes, std::string& why) {
    if (!bitmapSizeValid(width, height)) {
        why = "image size " + std::to_string(width) + " x " + std::to_string(height) + " is outside 1 to " +
              std::to_string(kMaxBitmapSide);
        return false;
    }
    const double decoded = static_cast<double>(width) * static_cast<double>(height) * bytesPerPixel;
    if (decoded > formats::kSmallImageBytes + formats::kMaxExpansion * static_cast<double>(fileBytes)) {
        why = "the file declares " + std::to_string(width) + " x " + std::to_string(height) +
              " pixels but holds only " + std::to_string(fileBytes) + " bytes: it is cut short or broken";
        return false;
    }
    return true;
}

int32_t imageFormatForPath(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return 0;
    std::string suffix = path.substr(dot + 1);
    std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const ImageCodec& codec : formats::imageCodecs())
        for (const char* s : codec.pathSuffixes)
            if (suffix == s) return codec.format;
    return 0;
}

const char* imageFormatSuffix(int32_t format) {
    const ImageCodec* codec = formats::imageCodecFor(format);
    return codec ? codec->suffix : "";
}

bool Bitmap::load(const std::string& path, std::string* error) {
    using formats::ReadResult;
    using formats::setError;
    std::vector<uint8_t> bytes;
    std::string why;
    switch (formats::readImageBytes(path, bytes, why)) {
        case ReadResult::missing: setError(error, path + ": no such file"); return false;
        case ReadResult::failed: setError(error, path + ": " + why); return false;
        case ReadResult::ok: break;
    }
    Bitmap image;
    bool ok;
    if (const ImageCodec* codec = formats::imageCodecOfContent(bytes))
        ok = codec->decode(bytes, path, image, why);
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
    using formats::setError;
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
    const ImageCodec* codec = formats::imageCodecFor(format);
    if (!codec) {
        setError(error, path + ": unknown image format " + std::to_string(format));
        return false;
    }
    if (bits_ == 16 && !codec->holds16Bits) {
        setError(error, path + ": the " + codec->name +
                            " format cannot hold 16 bits per channel (use TIFF, PNG or EXR)");
        return false;
    }
    if (bits_ == 32 && !codec->holdsFloats) {
        setError(error, path + ": the " + std::string(codec->name) +
                            " format cannot hold float channels (use EXR)");
        return false;
    }

    SafeOutput file;
    if (!file.open(path, error)) return false;
    // The encoders close what they are handed; the output keeps its own descriptor to flush.
    const int fd = ::dup(file.fd());
    if (fd < 0) {
        setError(error, path + ": cannot write the " + codec->name + " file: " + formats::errnoText(errno));
        return false;
    }
    std::string why;
    if (!codec->encode(*this, fd, path, options, why)) {
        setError(error, path + ": cannot write the " + codec->name + " file: " + why);
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
