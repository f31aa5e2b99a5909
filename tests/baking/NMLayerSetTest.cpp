// The operations on a whole layer set: dividing by the counts, merging the edge-fill set,
// finishing (normalise, clamp, displacement scale with its outlier trim), dilation ring by ring,
// and the displacement map with its scale file.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "baking/BakeSettings.h"
#include "baking/NMLayerSet.h"
#include "host/Memory.h"
#include "tests/baking/BakeTestSupport.h"

namespace {

using baketest::BakingFixture;
namespace fs = std::filesystem;

class NMLayerSetTest : public BakingFixture {
protected:
    void TearDown() override {
        destroyLayerSet(a);
        destroyLayerSet(b);
        BakingFixture::TearDown();
    }
    NMLayerSet a, b;
};

bool filled(NMLayerSet& s, int x, int y) {
    const NMVector3f n = s.normal->elementAt(x, y);
    return n.x != 0.0f || n.y != 0.0f || n.z != 0.0f;
}

}  // namespace

TEST_F(NMLayerSetTest, CreateAllocatesWhatIsAskedFor) {
    ASSERT_TRUE(createLayerSet(a, true, 8, 120, false, false));
    EXPECT_FALSE(a.normal->isEmpty());
    EXPECT_TRUE(a.occlusion->isEmpty());
    EXPECT_TRUE(a.displacement->isEmpty());
    EXPECT_TRUE(a.count->isEmpty());
    ASSERT_TRUE(createLayerSet(a, false, 8, 120, true, false));
    EXPECT_FALSE(a.occlusion->isEmpty());
    EXPECT_TRUE(a.displacement->isEmpty());
    EXPECT_FALSE(a.count->isEmpty());
    ASSERT_TRUE(createLayerSet(a, true, 8, 120, false, true));
    EXPECT_TRUE(a.occlusion->isEmpty());
    EXPECT_FALSE(a.displacement->isEmpty());
    EXPECT_FALSE(a.count->isEmpty());
    EXPECT_EQ(a.width, 8);
    EXPECT_EQ(a.height, 120);
}

TEST_F(NMLayerSetTest, CreateFailsCleanlyWhenMemoryRunsOut) {
    int failures = 0;
    for (uint64_t n = 1; n < 200; ++n) {
        host::memory::failAfter(n);
        const bool ok = createLayerSet(a, true, 8, 250, true, true);
        host::memory::resetFailures();
        if (ok) break;
        ++failures;
        EXPECT_EQ(a.normal, nullptr);
        EXPECT_EQ(a.count, nullptr);
    }
    EXPECT_GT(failures, 10);
    console();
}

TEST_F(NMLayerSetTest, DivideByCountsLeavesNormalsAsSums) {
    ASSERT_TRUE(createLayerSet(a, true, 3, 1, true, true));
    a.normal->set(0, 0, {2, 0, 0});
    a.occlusion->set(0, 0, 3.0f);
    a.displacement->set(0, 0, -1.0f);
    a.count->set(0, 0, 2);
    a.occlusion->set(1, 0, 5.0f);  // count 0: untouched
    divideByCounts(a, nullptr);
    EXPECT_FLOAT_EQ(a.occlusion->elementAt(0, 0), 1.5f);
    EXPECT_FLOAT_EQ(a.displacement->elementAt(0, 0), -0.5f);
    EXPECT_FLOAT_EQ(a.normal->elementAt(0, 0).x, 2.0f);
    EXPECT_FLOAT_EQ(a.occlusion->elementAt(1, 0), 5.0f);
}

TEST_F(NMLayerSetTest, MergeFillsOnlyEmptyPixels) {
    ASSERT_TRUE(createLayerSet(a, true, 3, 1, true, true));
    ASSERT_TRUE(createLayerSet(b, true, 3, 1, true, true));
    a.normal->set(0, 0, {0, 0, 1});
    a.occlusion->set(0, 0, 0.25f);
    b.normal->set(0, 0, {1, 0, 0});
    b.normal->set(1, 0, {0, 1, 0});
    b.occlusion->set(1, 0, 0.75f);
    b.displacement->set(1, 0, 0.5f);
    b.normal->set(2, 0, {5e-8f, 0, 0});  // not a normal
    mergeLayerSets(a, b, nullptr);
    EXPECT_EQ(a.normal->elementAt(0, 0).z, 1.0f);
    EXPECT_EQ(a.occlusion->elementAt(0, 0), 0.25f);
    EXPECT_EQ(a.normal->elementAt(1, 0).y, 1.0f);
    EXPECT_EQ(a.occlusion->elementAt(1, 0), 0.75f);
    EXPECT_EQ(a.displacement->elementAt(1, 0), 0.5f);
    EXPECT_FALSE(filled(a, 2, 0));
}

TEST_F(NMLayerSetTest, FinishNormalisesAndClamps) {
    ASSERT_TRUE(createLayerSet(a, true, 3, 1, true, false));
    a.normal->set(0, 0, {0, 3, 4});
    a.occlusion->set(0, 0, -0.5f);
    a.occlusion->set(1, 0, 1.5f);
    a.occlusion->set(2, 0, 0.3f);
    finishLayerSet(a, nullptr);
    EXPECT_FLOAT_EQ(a.normal->elementAt(0, 0).y, 0.6f);
    EXPECT_FLOAT_EQ(a.normal->elementAt(0, 0).z, 0.8f);
    EXPECT_EQ(a.occlusion->elementAt(0, 0), 0.0f);
    EXPECT_EQ(a.occlusion->elementAt(1, 0), 1.0f);
    EXPECT_FLOAT_EQ(a.occlusion->elementAt(2, 0), 0.3f);
}

TEST_F(NMLayerSetTest, FinishWithoutDisplacementGivesScaleZeroAndWhite) {
    ASSERT_TRUE(createLayerSet(a, true, 4, 4, false, true));
    a.normal->set(1, 1, {0, 0, 1});
    finishLayerSet(a, nullptr);
    EXPECT_EQ(a.displacementScale, 0.0f);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(a.displacement->elementAt(x, y), 1.0f);
}

TEST_F(NMLayerSetTest, FinishScalesAndTrimsTheOutliers) {
    // 100 pixels with normals: 99 at distance 1 and one at 100. lo = 0, hi = 100, 50 bins of 2:
    // bin 0 holds 99, bin 49 holds 1 (at most 100 / 100 = 1, trimmed), bins 48 … 1 are empty and
    // trimmed too, so hi = 100 − 49 · 2 = 2. The last row has no normals (and distance 0): it is
    // left out of the histogram.
    ASSERT_TRUE(createLayerSet(a, true, 10, 11, false, true));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            a.normal->set(x, y, {0, 0, 1});
            a.displacement->set(x, y, 1.0f);
        }
    a.displacement->set(9, 9, 100.0f);
    finishLayerSet(a, nullptr);
    EXPECT_FLOAT_EQ(a.displacementScale, 2.0f);
    EXPECT_FLOAT_EQ(a.displacement->elementAt(0, 0), 0.75f);  // 1 · 0.5 / 2 + 0.5
    EXPECT_FLOAT_EQ(a.displacement->elementAt(9, 9), 1.0f);   // clamped
    EXPECT_FLOAT_EQ(a.displacement->elementAt(5, 10), 0.5f);  // zero distance, no normal
}

TEST_F(NMLayerSetTest, FinishWithoutNegativeDistancesUsesTheUpperHalf) {
    ASSERT_TRUE(createLayerSet(a, false, 20, 20, false, true));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            a.normal->set(x, y, {0, 0, 1});
            a.displacement->set(x, y, 0.01f * (x + 20 * y));
        }
    finishLayerSet(a, nullptr);
    EXPECT_GT(a.displacementScale, 0.0f);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            const float d = a.displacement->elementAt(x, y);
            EXPECT_GE(d, 0.5f);
            EXPECT_LE(d, 1.0f);
        }
    // Evenly spread distances (2% per bin) lose nothing to the trim: the largest maps to 1.
    EXPECT_FLOAT_EQ(a.displacementScale, 3.99f);
}

TEST_F(NMLayerSetTest, DilationGrowsOneRingPerPass) {
    for (int passes = 0; passes <= 4; ++passes) {
        ASSERT_TRUE(createLayerSet(a, true, 15, 15, true, true));
        ASSERT_TRUE(createLayerSet(b, true, 15, 15, true, true));
        a.normal->set(7, 7, {0, 0, 1});
        a.occlusion->set(7, 7, 0.4f);
        a.displacement->set(7, 7, 0.6f);
        ASSERT_TRUE(dilateLayerSet(a, b, passes, nullptr));
        for (int y = 0; y < 15; ++y)
            for (int x = 0; x < 15; ++x) {
                const int ring = std::max(std::abs(x - 7), std::abs(y - 7));
                ASSERT_EQ(filled(a, x, y), ring <= passes) << passes << ": " << x << "," << y;
                if (ring <= passes) {
                    EXPECT_FLOAT_EQ(a.normal->elementAt(x, y).z, 1.0f);
                    EXPECT_FLOAT_EQ(a.occlusion->elementAt(x, y), 0.4f);
                    EXPECT_FLOAT_EQ(a.displacement->elementAt(x, y), 0.6f);
                }
            }
    }
}

TEST_F(NMLayerSetTest, DilationAveragesNeighboursAndWraps) {
    ASSERT_TRUE(createLayerSet(a, true, 9, 9, true, false));
    ASSERT_TRUE(createLayerSet(b, true, 9, 9, true, false));
    a.normal->set(2, 4, {1, 0, 0});
    a.occlusion->set(2, 4, 0.2f);
    a.normal->set(4, 4, {0, 1, 0});
    a.occlusion->set(4, 4, 0.6f);
    a.normal->set(0, 0, {0, 0, 1});
    a.occlusion->set(0, 0, 1.0f);
    ASSERT_TRUE(dilateLayerSet(a, b, 1, nullptr));
    const NMVector3f m = a.normal->elementAt(3, 4);
    EXPECT_FLOAT_EQ(m.x, std::sqrt(0.5f));
    EXPECT_FLOAT_EQ(m.y, std::sqrt(0.5f));
    EXPECT_FLOAT_EQ(a.occlusion->elementAt(3, 4), 0.4f);
    // The corner's ring wraps to the other borders.
    EXPECT_TRUE(filled(a, 8, 8));
    EXPECT_TRUE(filled(a, 8, 0));
    EXPECT_TRUE(filled(a, 0, 8));
    EXPECT_FLOAT_EQ(a.occlusion->elementAt(8, 8), 1.0f);
}

TEST_F(NMLayerSetTest, WideHoleKeepsItsMiddle) {
    // Filled columns 0 and 24 of a 25-wide band (they touch through the wrap); the hole between is
    // 23 wide, and 10 passes leave columns 11 to 13 empty.
    ASSERT_TRUE(createLayerSet(a, true, 25, 3, false, false));
    ASSERT_TRUE(createLayerSet(b, true, 25, 3, false, false));
    for (int y = 0; y < 3; ++y) {
        a.normal->set(0, y, {0, 0, 1});
        a.normal->set(24, y, {0, 0, 1});
    }
    ASSERT_TRUE(dilateLayerSet(a, b, 10, nullptr));
    for (int x = 0; x < 25; ++x) EXPECT_EQ(filled(a, x, 1), x <= 10 || x >= 14) << x;
}

TEST_F(NMLayerSetTest, DisplacementWritesImageAndScaleFile) {
    moduletest::TempFolder folder;
    ASSERT_TRUE(createLayerSet(a, true, 4, 1, false, true));
    const float d[4] = {-0.5f, 0.0f, 0.25f, 0.5f};
    for (int x = 0; x < 4; ++x) {
        a.normal->set(x, 0, {0, 0, 1});
        a.displacement->set(x, 0, d[x]);
    }
    finishLayerSet(a, nullptr);
    ASSERT_EQ(a.displacementScale, 0.5f);
    const HostFilename file((folder.path() / "disp.tif").string().c_str());
    ASSERT_TRUE(writeDisplacement(a, file, BAKE_FORMAT_TIFF, 8, nullptr));
    std::ifstream in(folder.path() / "disp.txt");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "Vexlor displacement scale: 0.5");
    const host::Bitmap bmp = baketest::readImage(folder.path() / "disp.tif");
    // d · 0.5 / 0.5 + 0.5 = d + 0.5, times 255, truncated.
    EXPECT_EQ(bmp.get8(0, 0, 0), 0);
    EXPECT_EQ(bmp.get8(1, 0, 0), 127);
    EXPECT_EQ(bmp.get8(2, 0, 0), 191);
    EXPECT_EQ(bmp.get8(3, 0, 0), 255);
}

TEST_F(NMLayerSetTest, DisplacementFailsWithoutItsScaleFile) {
    moduletest::TempFolder folder;
    ASSERT_TRUE(createLayerSet(a, true, 4, 1, false, true));
    finishLayerSet(a, nullptr);
    // A folder stands where the scale file should go: the text cannot be written, and then the
    // image is not written either.
    fs::create_directories(folder.path() / "disp.txt" / "inside");
    const HostFilename file((folder.path() / "disp.tif").string().c_str());
    EXPECT_FALSE(writeDisplacement(a, file, BAKE_FORMAT_TIFF, 8, nullptr));
    EXPECT_FALSE(fs::exists(folder.path() / "disp.tif"));
    // And in a folder that does not exist at all.
    const HostFilename nowhere((folder.path() / "absent" / "disp.tif").string().c_str());
    EXPECT_FALSE(writeDisplacement(a, nowhere, BAKE_FORMAT_TIFF, 8, nullptr));
}
