// Host bitmaps: the pixels. Their image files are read and written in host/formats/ImageFile.cpp.
#include "Bitmap.h"

#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>

namespace host {

bool Bitmap::init(int width, int height, int channels, int bitsPerChannel) {
    if (!bitmapSizeValid(width, height)) return false;
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

}  // namespace host
