#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "host/Bitmap.h"

namespace host {
// Failed comparisons print the shape and a checksum rather than the object's raw bytes.
void PrintTo(const Bitmap& b, std::ostream* os) {
    uint32_t sum = 0;
    for (size_t i = 0; i < b.rowBytes() * static_cast<size_t>(b.height()); ++i) sum = sum * 31 + b.data()[i];
    *os << b.width() << "x" << b.height() << ", " << b.channels() << " channels of " << b.bitsPerChannel()
        << " bits, checksum " << sum;
}
}  // namespace host

using host::Bitmap;
using host::ImageSaveOptions;
namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------------------------
// Pixel patterns

// Every channel differs from its neighbours in x, y and channel, and rows and columns are not
// symmetric, so swapped channels, flipped rows or lost row padding all show.
uint8_t value8(int x, int y, int c, int seed) {
    return static_cast<uint8_t>(x * 7 + y * 31 + c * 85 + seed * 3 + (x * y) % 5);
}
uint16_t value16(int x, int y, int c, int seed) {
    return static_cast<uint16_t>(x * 2399 + y * 7919 + c * 21845 + seed * 13 + (x * y * y) % 97);
}

Bitmap pattern(int width, int height, int channels, int bits, int seed = 0) {
    Bitmap b;
    EXPECT_TRUE(b.init(width, height, channels, bits));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) {
                if (bits == 8)
                    b.set8(x, y, c, value8(x, y, c, seed));
                else
                    b.set16(x, y, c, value16(x, y, c, seed));
            }
    return b;
}

std::string describe(const Bitmap& b) {
    return std::to_string(b.width()) + "x" + std::to_string(b.height()) + " c" + std::to_string(b.channels()) +
           " b" + std::to_string(b.bitsPerChannel());
}

// ---------------------------------------------------------------------------------------------
// Files

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
}

void writeText(const std::string& path, const std::string& text) {
    writeBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// ---------------------------------------------------------------------------------------------
// A small TIFF reader for checking what was written (first IFD only).

struct TiffFile {
    std::vector<uint8_t> bytes;
    bool big = false;

    uint32_t u16(size_t at) const {
        return big ? (bytes.at(at) << 8 | bytes.at(at + 1)) : (bytes.at(at) | bytes.at(at + 1) << 8);
    }
    uint32_t u32(size_t at) const {
        return big ? (u16(at) << 16 | u16(at + 2)) : (u16(at) | u16(at + 2) << 16);
    }
    // The values of a SHORT or LONG tag, or nothing when the tag is absent.
    std::vector<uint32_t> tag(uint16_t id) const {
        const uint32_t ifd = u32(4);
        const uint32_t count = u16(ifd);
        for (uint32_t i = 0; i < count; ++i) {
            const size_t entry = ifd + 2 + 12 * i;
            if (u16(entry) != id) continue;
            const uint32_t type = u16(entry + 2), n = u32(entry + 4);
            const uint32_t size = type == 3 ? 2 : 4;
            const size_t at = n * size <= 4 ? entry + 8 : u32(entry + 8);
            std::vector<uint32_t> values;
            for (uint32_t k = 0; k < n; ++k) values.push_back(type == 3 ? u16(at + 2 * k) : u32(at + 4 * k));
            return values;
        }
        return {};
    }
};

TiffFile readTiff(const std::string& path) {
    TiffFile f;
    f.bytes = readBytes(path);
    EXPECT_GE(f.bytes.size(), 8u);
    f.big = f.bytes.size() >= 2 && f.bytes[0] == 'M';
    return f;
}

// ---------------------------------------------------------------------------------------------
// A small TIFF writer for files our own saver never makes: tiles, big-endian samples, palettes,
// grey with alpha, odd orientations. Uncompressed; values laid out by the book.

struct TiffEntry {
    uint16_t tag;
    uint16_t type;  // 3 SHORT, 4 LONG
    std::vector<uint32_t> values;
};

void put16(std::vector<uint8_t>& out, uint32_t v, bool big) {
    if (big) {
        out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v));
    } else {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    }
}
void put32(std::vector<uint8_t>& out, uint32_t v, bool big) {
    if (big) {
        put16(out, v >> 16, true);
        put16(out, v & 0xFFFF, true);
    } else {
        put16(out, v & 0xFFFF, false);
        put16(out, v >> 16, false);
    }
}

// `chunks` are strips (or tiles, with offsetsTag 324 and countsTag 325).
std::vector<uint8_t> buildTiff(bool big, std::vector<TiffEntry> entries, const std::vector<std::vector<uint8_t>>& chunks,
                               uint16_t offsetsTag = 273, uint16_t countsTag = 279) {
    std::vector<uint32_t> offsets(chunks.size()), counts(chunks.size());
    for (size_t i = 0; i < chunks.size(); ++i) counts[i] = static_cast<uint32_t>(chunks[i].size());
    entries.push_back({offsetsTag, 4, offsets});
    entries.push_back({countsTag, 4, counts});
    std::sort(entries.begin(), entries.end(), [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
    auto valueBytes = [](const TiffEntry& e) { return e.values.size() * (e.type == 3 ? 2 : 4); };
    // Header, IFD, out-of-line values, then the chunks.
    const uint32_t ifdSize = static_cast<uint32_t>(2 + 12 * entries.size() + 4);
    uint32_t extra = 8 + ifdSize;
    for (const TiffEntry& e : entries)
        if (valueBytes(e) > 4) extra += static_cast<uint32_t>(valueBytes(e));
    uint32_t at = extra;
    for (size_t i = 0; i < chunks.size(); ++i) {
        offsets[i] = at;
        at += static_cast<uint32_t>(chunks[i].size());
    }
    for (TiffEntry& e : entries)
        if (e.tag == offsetsTag) e.values = offsets;

    std::vector<uint8_t> out;
    out.push_back(big ? 'M' : 'I');
    out.push_back(big ? 'M' : 'I');
    put16(out, 42, big);
    put32(out, 8, big);
    put16(out, static_cast<uint32_t>(entries.size()), big);
    uint32_t outOfLine = 8 + ifdSize;
    for (const TiffEntry& e : entries) {
        put16(out, e.tag, big);
        put16(out, e.type, big);
        put32(out, static_cast<uint32_t>(e.values.size()), big);
        if (valueBytes(e) > 4) {
            put32(out, outOfLine, big);
            outOfLine += static_cast<uint32_t>(valueBytes(e));
        } else {
            std::vector<uint8_t> inline4;
            for (uint32_t v : e.values) e.type == 3 ? put16(inline4, v, big) : put32(inline4, v, big);
            inline4.resize(4, 0);
            out.insert(out.end(), inline4.begin(), inline4.end());
        }
    }
    put32(out, 0, big);
    for (const TiffEntry& e : entries)
        if (valueBytes(e) > 4)
            for (uint32_t v : e.values) e.type == 3 ? put16(out, v, big) : put32(out, v, big);
    for (const auto& chunk : chunks) out.insert(out.end(), chunk.begin(), chunk.end());
    return out;
}

// Samples of a bitmap region, in file byte order.
std::vector<uint8_t> samples(const Bitmap& b, int x0, int y0, int w, int h, bool big) {
    std::vector<uint8_t> out;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            for (int c = 0; c < b.channels(); ++c) {
                if (b.bitsPerChannel() == 8)
                    out.push_back(b.get8(x, y, c));
                else
                    put16(out, b.get16(x, y, c), big);
            }
    return out;
}

// ---------------------------------------------------------------------------------------------
// A small PNG writer (stored deflate blocks) for layouts our saver never makes.

uint32_t crc32(const uint8_t* data, size_t n, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void pngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    put32(out, static_cast<uint32_t>(data.size()), true);
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    put32(out, crc32(body.data(), body.size()), true);
}

std::vector<uint8_t> zlibStored(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> out = {0x78, 0x01};
    size_t pos = 0;
    do {
        const size_t n = std::min<size_t>(65535, raw.size() - pos);
        out.push_back(pos + n == raw.size() ? 1 : 0);
        put16(out, static_cast<uint32_t>(n), false);
        put16(out, static_cast<uint32_t>(~n & 0xFFFF), false);
        out.insert(out.end(), raw.begin() + static_cast<long>(pos), raw.begin() + static_cast<long>(pos + n));
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    put32(out, b << 16 | a, true);
    return out;
}

struct PngChunkData {
    const char* type;
    std::vector<uint8_t> data;
};

// `scanlines` are the filtered rows, each led by its filter byte.
std::vector<uint8_t> buildPng(uint32_t width, uint32_t height, int depth, int colorType, bool interlaced,
                              const std::vector<uint8_t>& scanlines, const std::vector<PngChunkData>& extra = {}) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<uint8_t> ihdr;
    put32(ihdr, width, true);
    put32(ihdr, height, true);
    ihdr.push_back(static_cast<uint8_t>(depth));
    ihdr.push_back(static_cast<uint8_t>(colorType));
    ihdr.push_back(0);
    ihdr.push_back(0);
    ihdr.push_back(interlaced ? 1 : 0);
    pngChunk(out, "IHDR", ihdr);
    for (const auto& c : extra) pngChunk(out, c.type, c.data);
    pngChunk(out, "IDAT", zlibStored(scanlines));
    pngChunk(out, "IEND", {});
    return out;
}

// Rows of whole bytes, filter 0.
std::vector<uint8_t> plainScanlines(const std::vector<std::vector<uint8_t>>& rows) {
    std::vector<uint8_t> out;
    for (const auto& row : rows) {
        out.push_back(0);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// Adam7 passes of an image of whole-byte pixels, filter 0.
std::vector<uint8_t> adam7Scanlines(int width, int height, int pixelBytes, const std::vector<uint8_t>& pixels) {
    static const int pass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                   {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    std::vector<uint8_t> out;
    for (const auto& p : pass) {
        if (p[0] >= width || p[1] >= height) continue;
        for (int y = p[1]; y < height; y += p[3]) {
            out.push_back(0);
            for (int x = p[0]; x < width; x += p[2]) {
                const uint8_t* px = &pixels[(static_cast<size_t>(y) * width + x) * pixelBytes];
                out.insert(out.end(), px, px + pixelBytes);
            }
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------

class BitmapFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string base = ::testing::TempDir();
        if (base.empty() || base.back() != '/') base += '/';
        std::string name = base + "vexlor-bitmap-XXXXXX";
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        dir_ = name;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(dir_)) out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    // Saves and loads back, checking that the save made exactly one new file and nothing else.
    Bitmap roundTrip(const Bitmap& b, const std::string& name, int32_t format = 0,
                     const ImageSaveOptions& options = {}) {
        std::string error = "untouched";
        EXPECT_TRUE(b.save(path(name), format, &error, options)) << error;
        EXPECT_EQ(names(), std::vector<std::string>{name});
        Bitmap back;
        EXPECT_TRUE(back.load(path(name), &error)) << error;
        return back;
    }
    std::string dir_;
};

class BitmapLoad : public BitmapFiles {};
class BitmapSave : public BitmapFiles {};

// ---------------------------------------------------------------------------------------------
// The bitmap itself

TEST(BitmapBasics, InitStartsBlackWithTheRightLayout) {
    Bitmap b;
    EXPECT_TRUE(b.empty());
    ASSERT_TRUE(b.init(37, 23, 3, 8));
    EXPECT_FALSE(b.empty());
    EXPECT_EQ(b.width(), 37);
    EXPECT_EQ(b.height(), 23);
    EXPECT_EQ(b.channels(), 3);
    EXPECT_EQ(b.bitsPerChannel(), 8);
    EXPECT_EQ(b.rowBytes(), 111u);
    EXPECT_TRUE(std::all_of(b.data(), b.data() + 111 * 23, [](uint8_t v) { return v == 0; }));

    // Re-initialising throws the old pixels away.
    b.set8(5, 5, 1, 200);
    ASSERT_TRUE(b.init(5, 7, 4, 16));
    EXPECT_EQ(b.rowBytes(), 40u);
    EXPECT_TRUE(std::all_of(b.data(), b.data() + 40 * 7, [](uint8_t v) { return v == 0; }));

    ASSERT_TRUE(b.init(32768, 1, 1, 8));
    EXPECT_EQ(b.rowBytes(), 32768u);
    ASSERT_TRUE(b.init(1, 32768, 1, 16));
    EXPECT_EQ(b.rowBytes(), 2u);
    EXPECT_EQ(b.get16(0, 32767, 0), 0);
}

TEST(BitmapBasics, InitRefusesBadArgumentsAndKeepsTheBitmap) {
    Bitmap b = pattern(6, 4, 3, 8);
    const Bitmap before = b;
    const int bad[][4] = {{0, 4, 3, 8},     {4, 0, 3, 8},     {-1, 4, 3, 8}, {4, -5, 3, 8},
                          {32769, 4, 3, 8}, {4, 32769, 3, 8}, {4, 4, 0, 8},  {4, 4, 2, 8},
                          {4, 4, 5, 8},     {4, 4, 3, 0},     {4, 4, 3, 1},  {4, 4, 3, 12},
                          {4, 4, 3, 24}};
    for (const auto& a : bad) {
        SCOPED_TRACE(std::to_string(a[0]) + " " + std::to_string(a[1]) + " " + std::to_string(a[2]) + " " +
                     std::to_string(a[3]));
        EXPECT_FALSE(b.init(a[0], a[1], a[2], a[3]));
        EXPECT_EQ(b, before);
    }
}

TEST(BitmapBasics, ClearEmpties) {
    Bitmap b = pattern(3, 3, 4, 16);
    b.clear();
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(b.width(), 0);
    EXPECT_EQ(b.height(), 0);
    EXPECT_EQ(b.channels(), 0);
    EXPECT_EQ(b.rowBytes(), 0u);
    EXPECT_EQ(b, Bitmap());
    EXPECT_EQ(b.get8(0, 0, 0), 0);
}

TEST(BitmapBasics, EqualityComparesSizeLayoutAndPixels) {
    Bitmap a, b;
    ASSERT_TRUE(a.init(2, 3, 1, 8));
    ASSERT_TRUE(b.init(3, 2, 1, 8));
    EXPECT_NE(a, b);  // same bytes, other shape
    ASSERT_TRUE(b.init(2, 3, 1, 8));
    EXPECT_EQ(a, b);
    b.set8(1, 2, 0, 1);
    EXPECT_NE(a, b);
    Bitmap c, d;
    ASSERT_TRUE(c.init(2, 1, 1, 16));
    ASSERT_TRUE(d.init(4, 1, 1, 8));
    EXPECT_NE(c, d);  // same byte count
}

TEST(BitmapBasics, EightBitValuesWidenBy257) {
    Bitmap b;
    ASSERT_TRUE(b.init(16, 16, 1, 8));
    for (int v = 0; v < 256; ++v) b.set8(v % 16, v / 16, 0, static_cast<uint8_t>(v));
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(b.get8(v % 16, v / 16, 0), v);
        EXPECT_EQ(b.get16(v % 16, v / 16, 0), v * 257);
        EXPECT_EQ(b.data()[v], v);
    }
    // 16-bit values stored into an 8-bit bitmap keep their high byte, unrounded.
    b.set16(0, 0, 0, 0x12FF);
    EXPECT_EQ(b.get8(0, 0, 0), 0x12);
    EXPECT_EQ(b.get16(0, 0, 0), 0x1212);
    b.set16(0, 0, 0, 0x00FF);
    EXPECT_EQ(b.get8(0, 0, 0), 0);
    b.set16(0, 0, 0, 0xFFFF);
    EXPECT_EQ(b.get8(0, 0, 0), 0xFF);
}

TEST(BitmapBasics, SixteenBitValuesNarrowToTheirHighByte) {
    Bitmap b;
    ASSERT_TRUE(b.init(3, 2, 3, 16));
    b.set16(2, 1, 2, 0x12FF);
    EXPECT_EQ(b.get16(2, 1, 2), 0x12FF);
    EXPECT_EQ(b.get8(2, 1, 2), 0x12);
    b.set16(0, 0, 0, 0x80);
    EXPECT_EQ(b.get8(0, 0, 0), 0);
    // Native byte order in memory.
    uint16_t raw = 0;
    std::memcpy(&raw, b.data() + 1 * b.rowBytes() + (2 * 3 + 2) * 2, 2);
    EXPECT_EQ(raw, 0x12FF);
    for (int v = 0; v < 256; ++v) {
        b.set8(1, 0, 1, static_cast<uint8_t>(v));
        EXPECT_EQ(b.get16(1, 0, 1), v * 257);
        EXPECT_EQ(b.get8(1, 0, 1), v);
    }
    // Neighbouring channels untouched.
    EXPECT_EQ(b.get16(1, 0, 0), 0);
    EXPECT_EQ(b.get16(1, 0, 2), 0);
}

TEST(BitmapBasics, SetPixelFillsEveryChannel) {
    Bitmap grey;
    ASSERT_TRUE(grey.init(2, 1, 1, 8));
    const int cases[][4] = {// r, g, b, rounded average
                            {10, 11, 11, 11}, {10, 10, 11, 10}, {0, 0, 1, 0},   {0, 1, 1, 1},
                            {255, 255, 255, 255}, {255, 0, 0, 85}, {1, 2, 4, 2}, {200, 100, 51, 117}};
    for (const auto& c : cases) {
        grey.setPixel(1, 0, static_cast<uint8_t>(c[0]), static_cast<uint8_t>(c[1]), static_cast<uint8_t>(c[2]));
        EXPECT_EQ(grey.get8(1, 0, 0), c[3]) << c[0] << " " << c[1] << " " << c[2];
    }
    EXPECT_EQ(grey.get8(0, 0, 0), 0);

    Bitmap grey16;
    ASSERT_TRUE(grey16.init(1, 1, 1, 16));
    grey16.setPixel(0, 0, 10, 11, 11);
    EXPECT_EQ(grey16.get16(0, 0, 0), 11 * 257);

    Bitmap rgb;
    ASSERT_TRUE(rgb.init(2, 2, 3, 8));
    rgb.setPixel(1, 1, 1, 2, 3);
    EXPECT_EQ(rgb.get8(1, 1, 0), 1);
    EXPECT_EQ(rgb.get8(1, 1, 1), 2);
    EXPECT_EQ(rgb.get8(1, 1, 2), 3);
    EXPECT_EQ(rgb.get8(0, 1, 0), 0);

    Bitmap rgba;
    ASSERT_TRUE(rgba.init(2, 2, 4, 8));
    rgba.setPixel(0, 1, 9, 8, 7);
    EXPECT_EQ(rgba.get8(0, 1, 0), 9);
    EXPECT_EQ(rgba.get8(0, 1, 1), 8);
    EXPECT_EQ(rgba.get8(0, 1, 2), 7);
    EXPECT_EQ(rgba.get8(0, 1, 3), 255);
    EXPECT_EQ(rgba.get8(1, 1, 3), 0);

    Bitmap rgba16;
    ASSERT_TRUE(rgba16.init(1, 1, 4, 16));
    rgba16.setPixel(0, 0, 0x12, 0x34, 0x56);
    EXPECT_EQ(rgba16.get16(0, 0, 0), 0x1212);
    EXPECT_EQ(rgba16.get16(0, 0, 1), 0x3434);
    EXPECT_EQ(rgba16.get16(0, 0, 2), 0x5656);
    EXPECT_EQ(rgba16.get16(0, 0, 3), 65535);
}

TEST(BitmapBasics, OutOfRangeAccessIsIgnored) {
    for (int bits : {8, 16}) {
        SCOPED_TRACE(bits);
        Bitmap b = pattern(5, 4, 3, bits);
        const Bitmap before = b;
        const int bad[][3] = {{-1, 0, 0}, {5, 0, 0}, {0, -1, 0}, {0, 4, 0},  {0, 0, -1},
                              {0, 0, 3},  {4, 3, 3}, {5, 4, 2},  {-100000, 0, 0}, {0, 1 << 30, 0}};
        for (const auto& p : bad) {
            b.set8(p[0], p[1], p[2], 0xAB);
            b.set16(p[0], p[1], p[2], 0xABCD);
            if (p[0] < 0 || p[0] >= 5 || p[1] < 0 || p[1] >= 4) b.setPixel(p[0], p[1], 1, 2, 3);
            EXPECT_EQ(b.get8(p[0], p[1], p[2]), 0);
            EXPECT_EQ(b.get16(p[0], p[1], p[2]), 0);
        }
        EXPECT_EQ(b, before);
        // The last valid sample is still reachable.
        b.set8(4, 3, 2, 0x5A);
        EXPECT_EQ(b.get8(4, 3, 2), 0x5A);
    }
    Bitmap none;
    none.set8(0, 0, 0, 1);
    none.set16(0, 0, 0, 1);
    none.setPixel(0, 0, 1, 2, 3);
    EXPECT_EQ(none.get8(0, 0, 0), 0);
    EXPECT_EQ(none.get16(0, 0, 0), 0);
    EXPECT_EQ(none, Bitmap());
}

TEST(BitmapBasics, FormatsBySuffix) {
    EXPECT_EQ(host::imageFormatForPath("a.tif"), 1100);
    EXPECT_EQ(host::imageFormatForPath("/x/y/a.TIFF"), 1100);
    EXPECT_EQ(host::imageFormatForPath("a.TiF"), 1100);
    EXPECT_EQ(host::imageFormatForPath("a.tga"), 1101);
    EXPECT_EQ(host::imageFormatForPath("A.TGA"), 1101);
    EXPECT_EQ(host::imageFormatForPath("a.bmp"), 1102);
    EXPECT_EQ(host::imageFormatForPath("a.Bmp"), 1102);
    EXPECT_EQ(host::imageFormatForPath("a.png"), 1103);
    EXPECT_EQ(host::imageFormatForPath("dir.png/a.PNG"), 1103);
    EXPECT_EQ(host::imageFormatForPath("a.jpg"), 0);
    EXPECT_EQ(host::imageFormatForPath("a.tiff.bak"), 0);
    EXPECT_EQ(host::imageFormatForPath("tif"), 0);
    EXPECT_EQ(host::imageFormatForPath("dir.tif/image"), 0);
    EXPECT_EQ(host::imageFormatForPath("a."), 0);
    EXPECT_EQ(host::imageFormatForPath(""), 0);
    EXPECT_EQ(host::imageFormatForPath("a.tifff"), 0);

    EXPECT_STREQ(host::imageFormatSuffix(1100), "tif");
    EXPECT_STREQ(host::imageFormatSuffix(1101), "tga");
    EXPECT_STREQ(host::imageFormatSuffix(1102), "bmp");
    EXPECT_STREQ(host::imageFormatSuffix(1103), "png");
    EXPECT_STREQ(host::imageFormatSuffix(0), "");
    EXPECT_STREQ(host::imageFormatSuffix(1104), "exr");
    EXPECT_STREQ(host::imageFormatSuffix(1105), "exr");
    EXPECT_STREQ(host::imageFormatSuffix(1106), "");
    EXPECT_STREQ(host::imageFormatSuffix(-1), "");
    for (int32_t f : {1100, 1101, 1102, 1103})
        EXPECT_EQ(host::imageFormatForPath(std::string("x.") + host::imageFormatSuffix(f)), f);
}

TEST(BitmapBasics, PatternIsNotSymmetric) {
    // The round trips below rely on this: a flipped or transposed image must differ.
    for (int bits : {8, 16}) {
        const Bitmap b = pattern(37, 23, 3, bits);
        EXPECT_NE(b.get16(0, 0, 0), b.get16(0, 22, 0));
        EXPECT_NE(b.get16(0, 0, 0), b.get16(36, 0, 0));
        EXPECT_NE(b.get16(3, 4, 0), b.get16(3, 4, 1));
        EXPECT_NE(b.get16(3, 4, 1), b.get16(3, 4, 2));
    }
    EXPECT_NE(value16(1, 0, 0, 0) & 0xFF, value16(2, 0, 0, 0) & 0xFF);
}

// ---------------------------------------------------------------------------------------------
// Round trips

TEST_F(BitmapFiles, TiffRoundTripsEveryLayout) {
    for (bool compress : {true, false})
        for (int bits : {8, 16})
            for (int channels : {1, 3, 4})
                for (auto [w, h] : {std::pair{37, 23}, std::pair{1, 1}, std::pair{301, 50}}) {
                    const Bitmap b = pattern(w, h, channels, bits, w);
                    SCOPED_TRACE(describe(b) + (compress ? " lzw" : " raw"));
                    const std::string name = "image.tif";
                    const Bitmap back = roundTrip(b, name, 0, ImageSaveOptions{compress});
                    EXPECT_EQ(back, b);

                    const TiffFile f = readTiff(path(name));
                    EXPECT_EQ(f.tag(256), std::vector<uint32_t>{static_cast<uint32_t>(w)});
                    EXPECT_EQ(f.tag(257), std::vector<uint32_t>{static_cast<uint32_t>(h)});
                    EXPECT_EQ(f.tag(258), std::vector<uint32_t>(channels, static_cast<uint32_t>(bits)));
                    EXPECT_EQ(f.tag(259), std::vector<uint32_t>{compress ? 5u : 1u});
                    EXPECT_EQ(f.tag(262), std::vector<uint32_t>{channels == 1 ? 1u : 2u});
                    EXPECT_EQ(f.tag(277), std::vector<uint32_t>{static_cast<uint32_t>(channels)});
                    EXPECT_EQ(f.tag(284), std::vector<uint32_t>{1u});
                    EXPECT_EQ(f.tag(317), compress ? std::vector<uint32_t>{2u} : std::vector<uint32_t>{});
                    EXPECT_EQ(f.tag(338), channels == 4 ? std::vector<uint32_t>{2u} : std::vector<uint32_t>{});
                    const std::vector<uint32_t> rows = f.tag(278);
                    ASSERT_EQ(rows.size(), 1u);
                    EXPECT_GE(rows[0], 1u);
                    EXPECT_EQ(f.tag(273).size(), static_cast<size_t>((h + rows[0] - 1) / rows[0]));
                    if (w == 301) {
                        EXPECT_GT(f.tag(273).size(), 1u);  // big enough for several strips
                    }
                    ASSERT_TRUE(fs::remove(path(name)));
                }
}

TEST_F(BitmapFiles, UncompressedTiffHoldsTopRowFirstInFileByteOrder) {
    for (int bits : {8, 16}) {
        const Bitmap b = pattern(37, 23, 3, bits, 5);
        SCOPED_TRACE(describe(b));
        ASSERT_TRUE(b.save(path("raw.tiff"), 0, nullptr, ImageSaveOptions{false}));
        const TiffFile f = readTiff(path("raw.tiff"));
        const std::vector<uint32_t> offsets = f.tag(273), counts = f.tag(279), rows = f.tag(278);
        ASSERT_FALSE(offsets.empty());
        ASSERT_EQ(rows.size(), 1u);
        const int firstRows = std::min<int>(static_cast<int>(rows[0]), 23);
        const std::vector<uint8_t> expected = samples(b, 0, 0, 37, firstRows, f.big);
        ASSERT_EQ(counts[0], expected.size());
        ASSERT_LE(offsets[0] + expected.size(), f.bytes.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), f.bytes.begin() + offsets[0]));
    }
}

TEST_F(BitmapFiles, PngRoundTripsEveryLayout) {
    for (int bits : {8, 16})
        for (int channels : {1, 3, 4})
            for (auto [w, h] : {std::pair{37, 23}, std::pair{1, 1}, std::pair{2, 9}}) {
                const Bitmap b = pattern(w, h, channels, bits, h);
                SCOPED_TRACE(describe(b));
                const Bitmap back = roundTrip(b, "image.png");
                EXPECT_EQ(back, b);

                // The header says what we meant, and another decoder reads the same samples.
                const std::vector<uint8_t> bytes = readBytes(path("image.png"));
                ASSERT_GE(bytes.size(), 29u);
                EXPECT_EQ(bytes[24], bits);
                EXPECT_EQ(bytes[25], channels == 1 ? 0 : channels == 3 ? 2 : 6);
                int sw = 0, sh = 0, sc = 0;
                if (bits == 8) {
                    stbi_uc* p = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &sw, &sh, &sc, 0);
                    ASSERT_NE(p, nullptr);
                    ASSERT_EQ(sc, channels);
                    EXPECT_TRUE(std::equal(p, p + w * h * channels, b.data()));
                    stbi_image_free(p);
                } else {
                    stbi_us* p =
                        stbi_load_16_from_memory(bytes.data(), static_cast<int>(bytes.size()), &sw, &sh, &sc, 0);
                    ASSERT_NE(p, nullptr);
                    ASSERT_EQ(sc, channels);
                    for (int i = 0; i < w * h * channels; ++i) {
                        const int x = (i / channels) % w, y = i / channels / w, c = i % channels;
                        ASSERT_EQ(p[i], b.get16(x, y, c)) << i;
                    }
                    stbi_image_free(p);
                }
                EXPECT_EQ(sw, w);
                EXPECT_EQ(sh, h);
                ASSERT_TRUE(fs::remove(path("image.png")));
            }
}

TEST_F(BitmapFiles, TgaRoundTripsEightBitLayouts) {
    for (int channels : {1, 3, 4})
        for (auto [w, h] : {std::pair{37, 23}, std::pair{1, 1}, std::pair{130, 3}}) {
            Bitmap b = pattern(w, h, channels, 8, 2);
            // A run of equal pixels for the run-length coder to find.
            for (int x = 0; x < std::min(w, 100); ++x) b.setPixel(x, 0, 9, 9, 9);
            SCOPED_TRACE(describe(b));
            const Bitmap back = roundTrip(b, "image.tga");
            EXPECT_EQ(back, b);
            const std::vector<uint8_t> bytes = readBytes(path("image.tga"));
            ASSERT_GE(bytes.size(), 18u);
            EXPECT_EQ(bytes[2], channels == 1 ? 11 : 10);  // run-length encoded grey / true colour
            EXPECT_EQ(bytes[16], channels * 8);
            ASSERT_TRUE(fs::remove(path("image.tga")));
        }
}

TEST_F(BitmapFiles, BmpRoundTripsColourLayouts) {
    for (int channels : {3, 4})
        for (auto [w, h] : {std::pair{37, 23}, std::pair{1, 1}, std::pair{2, 3}, std::pair{3, 2}}) {
            const Bitmap b = pattern(w, h, channels, 8, 7);
            SCOPED_TRACE(describe(b));
            const Bitmap back = roundTrip(b, "image.bmp");
            EXPECT_EQ(back, b);
            const std::vector<uint8_t> bytes = readBytes(path("image.bmp"));
            ASSERT_GE(bytes.size(), 30u);
            EXPECT_EQ(bytes[0], 'B');
            EXPECT_EQ(bytes[28], channels * 8);
            if (channels == 3) {
                // Rows are padded to four bytes.
                const size_t stride = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
                EXPECT_EQ(bytes.size(), 54 + stride * h);
            }
            ASSERT_TRUE(fs::remove(path("image.bmp")));
        }
}

TEST_F(BitmapFiles, GreyBmpComesBackAsEqualRgb) {
    const Bitmap grey = pattern(37, 23, 1, 8, 3);
    const Bitmap back = roundTrip(grey, "grey.bmp");
    ASSERT_EQ(back.width(), 37);
    ASSERT_EQ(back.height(), 23);
    ASSERT_EQ(back.channels(), 3);
    ASSERT_EQ(back.bitsPerChannel(), 8);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            for (int c = 0; c < 3; ++c) ASSERT_EQ(back.get8(x, y, c), grey.get8(x, y, 0)) << x << " " << y;
}

TEST_F(BitmapFiles, FormatArgumentWinsOverSuffixAndLoadGoesByContent) {
    const Bitmap b = pattern(9, 7, 3, 8);
    std::string error;
    ASSERT_TRUE(b.save(path("looks.png"), host::IMAGE_TIFF, &error)) << error;
    std::vector<uint8_t> bytes = readBytes(path("looks.png"));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_TRUE(bytes[0] == 'I' || bytes[0] == 'M');
    Bitmap back;
    ASSERT_TRUE(back.load(path("looks.png"), &error)) << error;
    EXPECT_EQ(back, b);

    for (int32_t format : {host::IMAGE_PNG, host::IMAGE_BMP, host::IMAGE_TGA}) {
        SCOPED_TRACE(format);
        ASSERT_TRUE(b.save(path("no-suffix"), format, &error)) << error;
        Bitmap again;
        ASSERT_TRUE(again.load(path("no-suffix"), &error)) << error;
        EXPECT_EQ(again, b);
    }
    EXPECT_EQ(names(), (std::vector<std::string>{"looks.png", "no-suffix"}));
}

TEST_F(BitmapFiles, LoadReplacesWhateverTheBitmapHeld) {
    const Bitmap b = pattern(4, 4, 1, 16);
    ASSERT_TRUE(b.save(path("a.png")));
    Bitmap other = pattern(50, 50, 4, 8);
    ASSERT_TRUE(other.load(path("a.png")));
    EXPECT_EQ(other, b);
}

TEST_F(BitmapFiles, SaveReplacesTheTargetAndKeepsItsMode) {
    const Bitmap first = pattern(8, 8, 3, 8, 1), second = pattern(11, 5, 4, 8, 2);
    ASSERT_TRUE(first.save(path("t.png")));
    ASSERT_EQ(::chmod(path("t.png").c_str(), 0640), 0);
    std::string error;
    ASSERT_TRUE(second.save(path("t.png"), 0, &error)) << error;
    EXPECT_EQ(names(), std::vector<std::string>{"t.png"});
    Bitmap back;
    ASSERT_TRUE(back.load(path("t.png")));
    EXPECT_EQ(back, second);
    struct stat st{};
    ASSERT_EQ(::stat(path("t.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A new file gets the usual permissions, not the temporary file's private ones.
    const mode_t old = ::umask(022);
    const bool saved = first.save(path("new.tga"));
    ::umask(old);
    ASSERT_TRUE(saved);
    ASSERT_EQ(::stat(path("new.tga").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// ---------------------------------------------------------------------------------------------
// Files from elsewhere

TEST_F(BitmapLoad, TiffGreyWithAlphaBecomesRgba) {
    for (int bits : {8, 16}) {
        SCOPED_TRACE(bits);
        const Bitmap source = pattern(5, 3, 1, bits, 4), alpha = pattern(5, 3, 1, bits, 9);
        Bitmap interleaved;  // grey, alpha per pixel, kept as a 2-sample row in a 4-channel bitmap's bytes
        std::vector<uint8_t> strip;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                for (const Bitmap* b : {&source, &alpha}) {
                    if (bits == 8)
                        strip.push_back(b->get8(x, y, 0));
                    else
                        put16(strip, b->get16(x, y, 0), false);
                }
        const std::vector<uint8_t> file = buildTiff(false,
                                                    {{256, 3, {5}},
                                                     {257, 3, {3}},
                                                     {258, 3, {static_cast<uint32_t>(bits), static_cast<uint32_t>(bits)}},
                                                     {259, 3, {1}},
                                                     {262, 3, {1}},
                                                     {277, 3, {2}},
                                                     {278, 3, {3}},
                                                     {338, 3, {2}}},
                                                    {strip});
        writeBytes(path("ga.tif"), file);
        Bitmap back;
        std::string error;
        ASSERT_TRUE(back.load(path("ga.tif"), &error)) << error;
        ASSERT_EQ(back.channels(), 4);
        ASSERT_EQ(back.bitsPerChannel(), bits);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                for (int c = 0; c < 3; ++c) EXPECT_EQ(back.get16(x, y, c), source.get16(x, y, 0));
                EXPECT_EQ(back.get16(x, y, 3), alpha.get16(x, y, 0));
            }
    }
}

TEST_F(BitmapLoad, TiledAndBigEndianTiffs) {
    // 20 x 18 in 16 x 16 tiles: the right and bottom tiles are partly outside the image.
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "big-endian" : "little-endian");
        const Bitmap b = pattern(20, 18, 3, 16, 6);
        std::vector<std::vector<uint8_t>> tiles;
        for (int ty = 0; ty < 18; ty += 16)
            for (int tx = 0; tx < 20; tx += 16) {
                std::vector<uint8_t> tile;
                for (int y = ty; y < ty + 16; ++y)
                    for (int x = tx; x < tx + 16; ++x)
                        for (int c = 0; c < 3; ++c) put16(tile, b.get16(x, y, c) ^ (x >= 20 || y >= 18 ? 0x5555 : 0), big);
                tiles.push_back(tile);
            }
        const std::vector<uint8_t> file = buildTiff(big,
                                                    {{256, 3, {20}},
                                                     {257, 3, {18}},
                                                     {258, 3, {16, 16, 16}},
                                                     {259, 3, {1}},
                                                     {262, 3, {2}},
                                                     {277, 3, {3}},
                                                     {322, 3, {16}},
                                                     {323, 3, {16}}},
                                                    tiles, 324, 325);
        writeBytes(path("tiled.tif"), file);
        Bitmap back;
        std::string error;
        ASSERT_TRUE(back.load(path("tiled.tif"), &error)) << error;
        EXPECT_EQ(back, b);

        // The same pixels in strips of 7 rows.
        std::vector<std::vector<uint8_t>> strips;
        for (int y = 0; y < 18; y += 7) strips.push_back(samples(b, 0, y, 20, std::min(7, 18 - y), big));
        writeBytes(path("strips.tif"), buildTiff(big,
                                                 {{256, 3, {20}},
                                                  {257, 3, {18}},
                                                  {258, 3, {16, 16, 16}},
                                                  {259, 3, {1}},
                                                  {262, 3, {2}},
                                                  {277, 3, {3}},
                                                  {278, 3, {7}}},
                                                 strips));
        Bitmap fromStrips;
        ASSERT_TRUE(fromStrips.load(path("strips.tif"), &error)) << error;
        EXPECT_EQ(fromStrips, b);
    }
}

TEST_F(BitmapLoad, OtherTiffLayoutsGoThroughTheRgbaReader) {
    std::string error;
    // Palette: 2-bit indices would be exotic; 8-bit indices into a 16-bit colour map.
    {
        std::vector<uint32_t> map(3 * 256, 0);
        for (int i = 0; i < 256; ++i) {
            map[i] = static_cast<uint32_t>(i) * 257;                   // red
            map[256 + i] = static_cast<uint32_t>(255 - i) * 257;       // green
            map[512 + i] = static_cast<uint32_t>((i * 3) & 255) * 257;  // blue
        }
        std::vector<uint8_t> strip;
        for (int i = 0; i < 6 * 4; ++i) strip.push_back(static_cast<uint8_t>(i * 11));
        writeBytes(path("palette.tif"), buildTiff(false,
                                                  {{256, 3, {6}},
                                                   {257, 3, {4}},
                                                   {258, 3, {8}},
                                                   {259, 3, {1}},
                                                   {262, 3, {3}},
                                                   {277, 3, {1}},
                                                   {278, 3, {4}},
                                                   {320, 3, map}},
                                                  {strip}));
        Bitmap b;
        ASSERT_TRUE(b.load(path("palette.tif"), &error)) << error;
        ASSERT_EQ(b.channels(), 3);
        ASSERT_EQ(b.bitsPerChannel(), 8);
        ASSERT_EQ(b.width(), 6);
        for (int i = 0; i < 24; ++i) {
            const int index = (i * 11) & 255;
            EXPECT_EQ(b.get8(i % 6, i / 6, 0), index);
            EXPECT_EQ(b.get8(i % 6, i / 6, 1), 255 - index);
            EXPECT_EQ(b.get8(i % 6, i / 6, 2), (index * 3) & 255);
        }
    }
    // Min-is-white grey comes back as ordinary grey.
    {
        const Bitmap g = pattern(7, 5, 1, 8, 1);
        std::vector<uint8_t> strip = samples(g, 0, 0, 7, 5, false);
        for (uint8_t& v : strip) v = static_cast<uint8_t>(255 - v);
        writeBytes(path("white.tif"), buildTiff(false,
                                                {{256, 3, {7}},
                                                 {257, 3, {5}},
                                                 {258, 3, {8}},
                                                 {259, 3, {1}},
                                                 {262, 3, {0}},
                                                 {277, 3, {1}},
                                                 {278, 3, {5}}},
                                                {strip}));
        Bitmap b;
        ASSERT_TRUE(b.load(path("white.tif"), &error)) << error;
        EXPECT_EQ(b, g);
    }
    // Rows stored bottom first are turned the right way up.
    {
        const Bitmap rgb = pattern(6, 5, 3, 8, 8);
        std::vector<uint8_t> strip;
        for (int y = 4; y >= 0; --y) {
            const std::vector<uint8_t> row = samples(rgb, 0, y, 6, 1, false);
            strip.insert(strip.end(), row.begin(), row.end());
        }
        writeBytes(path("bottom.tif"), buildTiff(false,
                                                 {{256, 3, {6}},
                                                  {257, 3, {5}},
                                                  {258, 3, {8, 8, 8}},
                                                  {259, 3, {1}},
                                                  {262, 3, {2}},
                                                  {274, 3, {4}},
                                                  {277, 3, {3}},
                                                  {278, 3, {5}}},
                                                 {strip}));
        Bitmap b;
        ASSERT_TRUE(b.load(path("bottom.tif"), &error)) << error;
        EXPECT_EQ(b, rgb);
    }
}

TEST_F(BitmapLoad, PngLayoutsAreExpanded) {
    std::string error;
    // Palette, then palette with transparency.
    const std::vector<uint8_t> plte = {10, 20, 30, 40, 50, 60, 70, 80, 90, 250, 251, 252};
    const std::vector<std::vector<uint8_t>> indexRows = {{0, 1, 2}, {3, 2, 1}};
    writeBytes(path("pal.png"), buildPng(3, 2, 8, 3, false, plainScanlines(indexRows), {{"PLTE", plte}}));
    Bitmap pal;
    ASSERT_TRUE(pal.load(path("pal.png"), &error)) << error;
    ASSERT_EQ(pal.channels(), 3);
    ASSERT_EQ(pal.bitsPerChannel(), 8);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(pal.get8(x, y, c), plte[indexRows[y][x] * 3 + c]);

    writeBytes(path("palt.png"),
               buildPng(3, 2, 8, 3, false, plainScanlines(indexRows), {{"PLTE", plte}, {"tRNS", {0, 128}}}));
    Bitmap palt;
    ASSERT_TRUE(palt.load(path("palt.png"), &error)) << error;
    ASSERT_EQ(palt.channels(), 4);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const int index = indexRows[y][x];
            for (int c = 0; c < 3; ++c) EXPECT_EQ(palt.get8(x, y, c), plte[index * 3 + c]);
            EXPECT_EQ(palt.get8(x, y, 3), index == 0 ? 0 : index == 1 ? 128 : 255);
        }

    // 4-bit grey: 0..15 widen to 0..255 by 17.
    writeBytes(path("grey4.png"), buildPng(4, 1, 4, 0, false, plainScanlines({{0x01, 0xAF}})));
    Bitmap grey4;
    ASSERT_TRUE(grey4.load(path("grey4.png"), &error)) << error;
    ASSERT_EQ(grey4.channels(), 1);
    EXPECT_EQ(grey4.get8(0, 0, 0), 0);
    EXPECT_EQ(grey4.get8(1, 0, 0), 17);
    EXPECT_EQ(grey4.get8(2, 0, 0), 170);
    EXPECT_EQ(grey4.get8(3, 0, 0), 255);

    // 16-bit grey with alpha becomes 16-bit RGBA.
    writeBytes(path("ga16.png"), buildPng(2, 1, 16, 4, false, plainScanlines({{0x12, 0x34, 0xAB, 0xCD, 0xFF, 0x01, 0x00, 0x02}})));
    Bitmap ga16;
    ASSERT_TRUE(ga16.load(path("ga16.png"), &error)) << error;
    ASSERT_EQ(ga16.channels(), 4);
    ASSERT_EQ(ga16.bitsPerChannel(), 16);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(ga16.get16(0, 0, c), 0x1234);
        EXPECT_EQ(ga16.get16(1, 0, c), 0xFF01);
    }
    EXPECT_EQ(ga16.get16(0, 0, 3), 0xABCD);
    EXPECT_EQ(ga16.get16(1, 0, 3), 0x0002);

    // Interlaced RGB.
    const Bitmap rgb = pattern(9, 10, 3, 8, 5);
    writeBytes(path("adam7.png"),
               buildPng(9, 10, 8, 2, true, adam7Scanlines(9, 10, 3, std::vector<uint8_t>(rgb.data(), rgb.data() + 9 * 10 * 3))));
    Bitmap adam7;
    ASSERT_TRUE(adam7.load(path("adam7.png"), &error)) << error;
    EXPECT_EQ(adam7, rgb);
}

// ---------------------------------------------------------------------------------------------
// Failures

TEST_F(BitmapLoad, FailuresNameTheFileAndKeepTheBitmap) {
    const Bitmap good = pattern(37, 23, 3, 8);
    ASSERT_TRUE(good.save(path("good.png")));
    ASSERT_TRUE(good.save(path("good.tif")));
    const std::vector<uint8_t> png = readBytes(path("good.png")), tiff = readBytes(path("good.tif"));

    writeText(path("notes.txt"), "These are not the pixels you are looking for.\n");
    writeBytes(path("empty.png"), {});
    writeBytes(path("half.png"), std::vector<uint8_t>(png.begin(), png.begin() + static_cast<long>(png.size() / 2)));
    std::vector<uint8_t> badCrc = png;
    badCrc[40] ^= 0x40;  // inside the first chunk after IHDR
    writeBytes(path("crc.png"), badCrc);
    // libtiff writes the directory after the pixels, so the first half has no directory.
    writeBytes(path("half.tif"), std::vector<uint8_t>(tiff.begin(), tiff.begin() + static_cast<long>(tiff.size() / 2)));
    // Directory first, pixels cut short.
    const std::vector<uint8_t> stripFirst = buildTiff(false,
                                                      {{256, 3, {37}},
                                                       {257, 3, {23}},
                                                       {258, 3, {8, 8, 8}},
                                                       {259, 3, {1}},
                                                       {262, 3, {2}},
                                                       {277, 3, {3}},
                                                       {278, 3, {23}}},
                                                      {samples(good, 0, 0, 37, 23, false)});
    writeBytes(path("cut.tif"), std::vector<uint8_t>(stripFirst.begin(), stripFirst.end() - 500));
    // 32-bit float samples.
    std::vector<uint8_t> floats(4 * 4, 0);
    writeBytes(path("float.tif"), buildTiff(false,
                                            {{256, 3, {2}},
                                             {257, 3, {2}},
                                             {258, 3, {32}},
                                             {259, 3, {1}},
                                             {262, 3, {1}},
                                             {277, 3, {1}},
                                             {278, 3, {2}},
                                             {339, 3, {3}}},
                                            {floats}));
    writeBytes(path("junk.bmp"), {'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    writeBytes(path("photo.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1,
                                   0, 1, 0, 0, 0xFF, 0xD9});
    fs::create_directory(path("folder.png"));
    // Headers that declare far more pixels than the file could hold are refused before any pixel is
    // allocated: a 24-byte uncompressed TGA of 768 x 21533 (found by fuzzing), a run-length TGA of
    // 32768 x 32768, and a 54-byte BMP of 30000 x 30000.
    writeBytes(path("cut.tga"), {0, 0, 2, 0, 0, 0, 0, 0, 0xff, 0xff, 0x5f, 0x30, 0x00, 0x03, 0x1d, 0x54, 0x18, 0,
                                 0, 0x1d, 0x3a, 0x57, 0xed, 0});
    writeBytes(path("rle.tga"), {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x80, 0x00, 0x80, 24, 0, 0xff, 1, 2, 3});
    std::vector<uint8_t> bmp = {'B', 'M', 54, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0};
    for (const uint32_t v : {30000u, 30000u}) bmp.insert(bmp.end(), {uint8_t(v), uint8_t(v >> 8), 0, 0});
    bmp.insert(bmp.end(), {1, 0, 24, 0});
    bmp.resize(54, 0);
    writeBytes(path("huge.bmp"), bmp);

    const std::pair<std::string, std::string> cases[] = {
        {"missing.png", "no such file"},
        {"notes.txt", "not an image file we can read"},
        {"empty.png", "not an image file we can read"},
        {"photo.jpg", "not an image file we can read"},
        {"half.png", "PNG"},
        {"crc.png", "PNG"},
        {"half.tif", "TIFF"},
        {"cut.tif", "TIFF"},
        {"float.tif", "TIFF"},
        {"junk.bmp", "BMP"},
        {"folder.png", "folder"},
        {"cut.tga", "cut short"},
        {"rle.tga", "cut short"},
        {"huge.bmp", "cut short"},
    };
    const Bitmap before = pattern(3, 2, 4, 16);
    ::testing::internal::CaptureStderr();
    for (const auto& [name, says] : cases) {
        SCOPED_TRACE(name);
        Bitmap b = before;
        std::string error;
        EXPECT_FALSE(b.load(path(name), &error));
        EXPECT_EQ(b, before);
        EXPECT_EQ(error.rfind(path(name) + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(says), std::string::npos) << error;
        EXPECT_FALSE(b.load(path(name)));  // no error text wanted
    }
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, "");
    EXPECT_EQ(Bitmap().load(path("missing.png")), false);

    Bitmap b;
    std::string error;
    EXPECT_FALSE(b.load(path("missing.png"), &error));
    EXPECT_EQ(error, path("missing.png") + ": no such file");
}

TEST_F(BitmapSave, FailuresNameTheFileAndLeaveNothingBehind) {
    const Bitmap rgb = pattern(37, 23, 3, 8), deep = pattern(37, 23, 3, 16);
    ASSERT_TRUE(rgb.save(path("keep.bmp")));
    ASSERT_TRUE(rgb.save(path("keep.tga")));
    const std::vector<uint8_t> keptBmp = readBytes(path("keep.bmp")), keptTga = readBytes(path("keep.tga"));
    writeText(path("plain-file"), "x");
    fs::create_directory(path("folder.png"));
    const std::vector<std::string> before = names();

    struct Case {
        std::string name;
        const Bitmap* bitmap;
        int32_t format;
        std::string says;
    };
    const Bitmap none;
    const Case cases[] = {
        {"no-such-folder/a.png", &rgb, 0, "no-such-folder does not exist"},
        {"plain-file/a.png", &rgb, 0, "plain-file is not a folder"},
        {"keep.bmp", &deep, 0, "BMP format cannot hold 16 bits"},
        {"keep.tga", &deep, 0, "TGA format cannot hold 16 bits"},
        {"keep.tga", &deep, host::IMAGE_BMP, "BMP format cannot hold 16 bits"},
        {"image.jpg", &rgb, 0, "unknown image file suffix"},
        {"image", &rgb, 0, "unknown image file suffix"},
        {"image.png", &rgb, 1234, "unknown image format 1234"},
        {"keep.bmp", &none, 0, "empty"},
        {"folder.png", &rgb, 0, "cannot write: it is a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_FALSE(c.bitmap->save(path(c.name), c.format, &error));
        EXPECT_EQ(error.rfind(path(c.name) + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_FALSE(c.bitmap->save(path(c.name), c.format));
        EXPECT_EQ(names(), before);  // no temporary files, no new files
    }
    EXPECT_EQ(readBytes(path("keep.bmp")), keptBmp);
    EXPECT_EQ(readBytes(path("keep.tga")), keptTga);
    EXPECT_TRUE(fs::is_empty(path("folder.png")));
    EXPECT_FALSE(fs::exists(path("no-such-folder")));

    // The 16-bit bitmap goes to TIFF and PNG without complaint.
    std::string error;
    EXPECT_TRUE(deep.save(path("deep.tif"), 0, &error)) << error;
    EXPECT_TRUE(deep.save(path("deep.png"), 0, &error)) << error;
}

TEST_F(BitmapSave, FailedWriteRemovesTheTemporaryFile) {
    // A file size limit makes the writes themselves fail, after the temporary file was made.
    // 80 000 bytes of samples (160 000 at 16 bits) against a limit of 4 KiB.
    const Bitmap big16 = pattern(200, 100, 4, 16), big8 = pattern(200, 100, 4, 8), small = pattern(3, 3, 3, 8);
    for (const char* name : {"a.tif", "a.png", "a.tga", "a.bmp"}) {
        ASSERT_TRUE(small.save(path(name)));
    }
    const std::vector<std::string> before = names();
    struct rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::vector<std::string> errors;
    std::vector<bool> results;
    for (const char* name : {"a.tif", "a.png", "a.tga", "a.bmp"}) {
        std::string error;
        const bool deepFormat = host::imageFormatForPath(name) == host::IMAGE_TIFF ||
                                host::imageFormatForPath(name) == host::IMAGE_PNG;
        results.push_back((deepFormat ? big16 : big8).save(path(name), 0, &error, ImageSaveOptions{false}));
        errors.push_back(error);
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    const char* tried[] = {"a.tif", "a.png", "a.tga", "a.bmp"};
    for (size_t i = 0; i < errors.size(); ++i) {
        SCOPED_TRACE(tried[i]);
        EXPECT_FALSE(results[i]);
        EXPECT_EQ(errors[i].rfind(path(tried[i]) + ": cannot write the ", 0), 0u) << errors[i];
    }
    EXPECT_EQ(names(), before);
    for (const char* name : {"a.tif", "a.png", "a.tga", "a.bmp"}) {
        Bitmap back;
        ASSERT_TRUE(back.load(path(name)));
        EXPECT_EQ(back, small) << name;
    }
}

TEST_F(BitmapSave, UnwritableFolderKeepsTheOldFile) {
    // A folder we may not write to: the temporary file cannot even be made, and the old file stays.
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    const Bitmap b = pattern(5, 5, 3, 8);
    fs::create_directory(path("locked"));
    ASSERT_TRUE(b.save(path("locked/old.png")));
    const std::vector<uint8_t> old = readBytes(path("locked/old.png"));
    ASSERT_EQ(::chmod(path("locked").c_str(), 0555), 0);
    std::string error;
    EXPECT_FALSE(pattern(5, 5, 3, 8, 1).save(path("locked/old.png"), 0, &error));
    EXPECT_EQ(error.rfind(path("locked/old.png") + ": cannot create the file", 0), 0u) << error;
    ASSERT_EQ(::chmod(path("locked").c_str(), 0755), 0);
    EXPECT_EQ(readBytes(path("locked/old.png")), old);
    std::vector<std::string> inside;
    for (const auto& e : fs::directory_iterator(path("locked"))) inside.push_back(e.path().filename().string());
    EXPECT_EQ(inside, std::vector<std::string>{"old.png"});
}

}  // namespace
