// Map images of high depth: 16-bit PNG and OpenEXR (float and half) read back to what was stored,
// float bitmaps refused by formats that cannot hold them, a damaged EXR refused with a message.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "host/Bitmap.h"

namespace fs = std::filesystem;
using host::Bitmap;

namespace {

std::string tempFile(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / ("vexlor-maps-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return (dir / name).string();
}

}  // namespace

TEST(HighDepthMaps, SixteenBitPngReadsBackEveryValue) {
    Bitmap b;
    ASSERT_TRUE(b.init(3, 2, 3, 16));
    const uint16_t values[] = {0, 1, 255, 256, 257, 12345, 32767, 32768, 40959, 65534, 65535, 7};
    int i = 0;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c) b.set16(x, y, c, values[i++ % 12]);
    const std::string path = tempFile("deep.png");
    std::string error;
    ASSERT_TRUE(b.save(path, 0, &error)) << error;
    Bitmap back;
    ASSERT_TRUE(back.load(path, &error)) << error;
    EXPECT_EQ(back.bitsPerChannel(), 16);
    EXPECT_TRUE(back == b);
}

TEST(HighDepthMaps, FloatExrKeepsEveryBitAndHalfKeepsHalfPrecision) {
    Bitmap b;
    ASSERT_TRUE(b.init(2, 2, 3, 32));
    const float values[12] = {-1.5f, 1e-7f, 3.14159274f, 1e10f, -0.0f, 0.5f, 0.1f, -123.456f, 2.0f, 1.0f / 3, 65504.0f, -7.0f};
    for (int i = 0; i < 12; ++i) b.setFloat((i / 3) % 2, i / 6, i % 3, values[i]);
    std::string error;
    const std::string full = tempFile("full.exr"), half = tempFile("half.exr");
    ASSERT_TRUE(b.save(full, host::IMAGE_EXR, &error)) << error;
    ASSERT_TRUE(b.save(half, host::IMAGE_EXR_HALF, &error)) << error;
    EXPECT_EQ(host::imageFormatForPath(full), host::IMAGE_EXR);

    Bitmap f;
    ASSERT_TRUE(f.load(full, &error)) << error;
    ASSERT_TRUE(f.isFloat());
    ASSERT_EQ(f.channels(), 3);
    EXPECT_TRUE(f == b);  // bit for bit, the sign of -0 included

    Bitmap h;
    ASSERT_TRUE(h.load(half, &error)) << error;
    ASSERT_TRUE(h.isFloat());
    for (int i = 0; i < 12; ++i) {
        const float v = values[i], got = h.getFloat((i / 3) % 2, i / 6, i % 3);
        if (std::fabs(v) > 65504.0f)
            EXPECT_TRUE(std::isinf(got)) << v;  // beyond the half range
        else if (std::fabs(v) < 6.1e-5f)
            EXPECT_NEAR(got, v, 6e-8) << v;  // subnormal halves
        else
            EXPECT_NEAR(got, v, std::fabs(v) * 0.0005) << v;  // 11 significant bits
    }
    EXPECT_EQ(h.getFloat(0, 0, 0), -1.5f);  // exactly representable values stay exact
    EXPECT_EQ(h.getFloat(1, 1, 1), 65504.0f);
}

TEST(HighDepthMaps, GreyExrIsOneChannelAndEightBitBitmapsGoOutScaled) {
    Bitmap grey;
    ASSERT_TRUE(grey.init(2, 1, 1, 8));
    grey.set8(0, 0, 0, 51);
    grey.set8(1, 0, 0, 255);
    std::string error;
    const std::string path = tempFile("grey.exr");
    ASSERT_TRUE(grey.save(path, 0, &error)) << error;
    Bitmap back;
    ASSERT_TRUE(back.load(path, &error)) << error;
    EXPECT_EQ(back.channels(), 1);
    EXPECT_EQ(back.getFloat(0, 0, 0), 0.2f);  // 51 / 255
    EXPECT_EQ(back.getFloat(1, 0, 0), 1.0f);
    EXPECT_EQ(back.get8(0, 0, 0), 51);  // and back to 8 bits
}

TEST(HighDepthMaps, FloatBitmapsNeedExrAndDamagedExrIsRefused) {
    Bitmap b;
    ASSERT_TRUE(b.init(4, 4, 3, 32));
    std::string error;
    const std::string png = tempFile("float.png");
    EXPECT_FALSE(b.save(png, 0, &error));
    EXPECT_NE(error.find("EXR"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(png));

    const std::string path = tempFile("cut.exr");
    ASSERT_TRUE(b.save(path, host::IMAGE_EXR, &error)) << error;
    const auto size = fs::file_size(path);
    fs::resize_file(path, size / 2);
    Bitmap back;
    ASSERT_TRUE(back.init(1, 1, 1, 8));
    EXPECT_FALSE(back.load(path, &error));
    EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
    EXPECT_EQ(back.width(), 1);  // unchanged on failure
}
