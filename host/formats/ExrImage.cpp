#include "host/formats/ExrImage.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <half.h>

#include <cstring>
#include <exception>

#include "host/Bitmap.h"

namespace host::formats {
namespace {

class MemoryIn : public Imf::IStream {
public:
    explicit MemoryIn(const std::vector<uint8_t>& bytes) : Imf::IStream("memory"), bytes_(bytes) {}
    bool read(char c[], int n) override {
        if (n < 0 || pos_ + static_cast<uint64_t>(n) > bytes_.size()) throw std::runtime_error("the file ends early");
        std::memcpy(c, bytes_.data() + pos_, static_cast<size_t>(n));
        pos_ += static_cast<uint64_t>(n);
        return pos_ < bytes_.size();
    }
    uint64_t tellg() override { return pos_; }
    void seekg(uint64_t pos) override { pos_ = pos; }

private:
    const std::vector<uint8_t>& bytes_;
    uint64_t pos_ = 0;
};

class MemoryOut : public Imf::OStream {
public:
    explicit MemoryOut(std::string& bytes) : Imf::OStream("memory"), bytes_(bytes) {}
    void write(const char c[], int n) override {
        if (pos_ + static_cast<uint64_t>(n) > bytes_.size()) bytes_.resize(pos_ + static_cast<uint64_t>(n));
        std::memcpy(bytes_.data() + pos_, c, static_cast<size_t>(n));
        pos_ += static_cast<uint64_t>(n);
    }
    uint64_t tellp() override { return pos_; }
    void seekp(uint64_t pos) override { pos_ = pos; }

private:
    std::string& bytes_;
    uint64_t pos_ = 0;
};

}  // namespace

bool looksLikeExr(const std::vector<uint8_t>& b) {
    return b.size() >= 4 && b[0] == 0x76 && b[1] == 0x2f && b[2] == 0x31 && b[3] == 0x01;
}

bool decodeExr(const std::vector<uint8_t>& bytes, Bitmap& out, std::string& why) {
    try {
        MemoryIn stream(bytes);
        Imf::InputFile file(stream);
        const Imath::Box2i dw = file.header().dataWindow();
        const long long w = static_cast<long long>(dw.max.x) - dw.min.x + 1;
        const long long h = static_cast<long long>(dw.max.y) - dw.min.y + 1;
        if (!imageSizeFitsFile(w, h, 4, bytes.size(), why)) return false;
        const Imf::ChannelList& channels = file.header().channels();
        const bool colour = channels.findChannel("R") || channels.findChannel("G") || channels.findChannel("B");
        const bool alpha = channels.findChannel("A") != nullptr;
        const char* grey = channels.findChannel("Y") ? "Y" : nullptr;
        if (!colour && !grey) {
            // A single channel of any name is taken as grey.
            if (channels.begin() == channels.end()) {
                why = "the image has no channels";
                return false;
            }
            grey = channels.begin().name();
        }
        const int count = colour ? (alpha ? 4 : 3) : 1;
        Bitmap image;
        if (!image.init(static_cast<int>(w), static_cast<int>(h), count, 32)) {
            why = "not enough memory for the image";
            return false;
        }
        float* base = reinterpret_cast<float*>(image.data());
        const size_t xStride = sizeof(float) * count, yStride = xStride * static_cast<size_t>(w);
        // The frame buffer is addressed by the data window's own coordinates.
        char* origin = reinterpret_cast<char*>(base) - static_cast<ptrdiff_t>(dw.min.x) * static_cast<ptrdiff_t>(xStride) -
                       static_cast<ptrdiff_t>(dw.min.y) * static_cast<ptrdiff_t>(yStride);
        Imf::FrameBuffer fb;
        if (colour) {
            const char* names[4] = {"R", "G", "B", "A"};
            for (int c = 0; c < count; ++c)
                fb.insert(names[c], Imf::Slice(Imf::FLOAT, origin + c * sizeof(float), xStride, yStride, 1, 1,
                                               c == 3 ? 1.0 : 0.0));
        } else {
            fb.insert(grey, Imf::Slice(Imf::FLOAT, origin, xStride, yStride));
        }
        file.setFrameBuffer(fb);
        file.readPixels(dw.min.y, dw.max.y);
        out = std::move(image);
        return true;
    } catch (const std::bad_alloc&) {
        why = "out of memory while reading the OpenEXR file";
        return false;
    } catch (const std::exception& e) {
        why = std::string("not a readable OpenEXR file: ") + e.what();
        for (char& c : why)
            if (c == '\n') c = ' ';
        return false;
    }
}

bool encodeExr(const Bitmap& bitmap, bool half, std::string& bytes, std::string& why) {
    const int w = bitmap.width(), h = bitmap.height(), count = bitmap.channels();
    // Values as floats, channel by channel interleaved like the bitmap.
    std::vector<float> values;
    const float* pixels;
    if (bitmap.bitsPerChannel() == 32) {
        pixels = reinterpret_cast<const float*>(bitmap.data());
    } else {
        values.resize(static_cast<size_t>(w) * h * count);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < count; ++c)
                    values[(static_cast<size_t>(y) * w + x) * count + c] = bitmap.getFloat(x, y, c);
        pixels = values.data();
    }
    try {
        Imf::Header header(w, h);
        header.compression() = Imf::ZIP_COMPRESSION;
        const Imf::PixelType type = half ? Imf::HALF : Imf::FLOAT;
        const char* names[4] = {"R", "G", "B", "A"};
        for (int c = 0; c < count; ++c) header.channels().insert(count == 1 ? "Y" : names[c], Imf::Channel(type));
        // Output slices must have the channels' own type: half channels get half values.
        std::vector<Imath::half> halves;
        if (half) {
            halves.resize(static_cast<size_t>(w) * h * count);
            for (size_t i = 0; i < halves.size(); ++i) halves[i] = Imath::half(pixels[i]);
        }
        bytes.clear();
        MemoryOut stream(bytes);
        Imf::OutputFile file(stream, header);
        Imf::FrameBuffer fb;
        const size_t sampleSize = half ? sizeof(Imath::half) : sizeof(float);
        const size_t xStride = sampleSize * count, yStride = xStride * static_cast<size_t>(w);
        char* base = half ? reinterpret_cast<char*>(halves.data())
                          : const_cast<char*>(reinterpret_cast<const char*>(pixels));
        for (int c = 0; c < count; ++c)
            fb.insert(count == 1 ? "Y" : names[c], Imf::Slice(type, base + c * sampleSize, xStride, yStride));
        file.setFrameBuffer(fb);
        file.writePixels(h);
        return true;
    } catch (const std::bad_alloc&) {
        why = "out of memory while encoding the OpenEXR file";
        return false;
    } catch (const std::exception& e) {
        why = e.what();
        return false;
    }
}

}  // namespace host::formats
