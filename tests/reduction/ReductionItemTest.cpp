// The per-object pipeline: which part of an object an item takes in by editing mode, the direct
// reduction with its finish (quads back, a clean mesh, seams and selections kept), the preview's
// prepare, seek, commit and revert (and the look at a finished level), and the failure paths.
#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "host/Memory.h"
#include "host/ModelingCommands.h"
#include "mixkit/ReferenceFrame.h"
#include "reduction/ReductionItem.h"
#include "sources/HostThread.h"
#include "tests/reduction/ReductionTestSupport.h"
#include "tests/support/OneWorker.h"

using namespace redtest;

namespace {

class ReductionItemTest : public ReductionTest {
protected:
    // An item over the object in a document editing mode; expects it to be made.
    std::unique_ptr<ReductionItem> item(host::PolygonObject* obj, int32_t mode = 0) {
        auto it = std::make_unique<ReductionItem>();
        EXPECT_TRUE(it->make(untritest::view(obj), mode));
        return it;
    }
    ReductionSettings settings;
};

// Every distinct UV a point shows in the UVW tag.
std::map<int, std::set<std::pair<float, float>>> uvsOfPoints(const host::PolygonObject& obj) {
    std::map<int, std::set<std::pair<float, float>>> out;
    const auto* uvw = static_cast<const host::UVWTag*>(obj.tag(host::TAG_UVW));
    for (int i = 0; i < obj.polygonCount(); ++i) {
        const host::Polygon& p = obj.polygons[i];
        const int corners[4] = {p.a, p.b, p.c, p.d};
        for (int k = 0; k < (p.c == p.d ? 3 : 4); ++k)
            out[corners[k]].insert({uvw->data[i].corner(k).x, uvw->data[i].corner(k).y});
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Making an item

TEST_F(ReductionItemTest, OutsideTheSelectionModesTheWholeObjectIsTaken) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 4, .rows = 4});
    obj->pointSelection.select(3);  // the user's selection is given back untouched
    obj->polygonSelection.select(7);
    for (int32_t mode : {0, int32_t{host::MODE_OBJECT}, int32_t{host::MODE_EDGES}}) {
        auto it = item(obj, mode);
        EXPECT_EQ(it->selectionMode, 0);
        EXPECT_EQ(it->startCount, 25);
        EXPECT_EQ(it->pointSet.count(), 25);
        EXPECT_EQ(it->polygonSet.count(), 16);
        EXPECT_EQ(it->currentCount(), 25);
        EXPECT_EQ(obj->pointSelection.count(), 1);
        EXPECT_TRUE(obj->pointSelection.isSelected(3));
        EXPECT_EQ(obj->polygonSelection.count(), 1);
        EXPECT_TRUE(obj->polygonSelection.isSelected(7));
    }
}

TEST_F(ReductionItemTest, InPointModeMoreThanThreeSelectedPointsLimitTheReduction) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 4, .rows = 4});
    // Three corners of the quad of cell (1, 1): the whole object.
    for (int p : {6, 7, 12}) obj->pointSelection.select(p);
    EXPECT_EQ(item(obj, host::MODE_POINTS)->selectionMode, 0);
    // All four: only they are reduced, over the quad they span and the ring around it.
    obj->pointSelection.select(11);
    auto it = item(obj, host::MODE_POINTS);
    EXPECT_EQ(it->selectionMode, 1);
    EXPECT_EQ(it->startCount, 4);
    for (int p : {6, 7, 11, 12}) EXPECT_TRUE(it->pointSet.isSelected(p)) << p;
    EXPECT_EQ(it->polygonSet.count(), 9);
    for (int cell : {0, 1, 2, 4, 5, 6, 8, 9, 10}) EXPECT_TRUE(it->polygonSet.isSelected(cell)) << cell;
    EXPECT_EQ(obj->pointSelection.count(), 4);
    EXPECT_EQ(obj->polygonSelection.count(), 0);
}

TEST_F(ReductionItemTest, InPolygonModeMoreThanTwoSelectedPolygonsLimitTheReductionToTheirInnerPoints) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 5, .rows = 5});
    obj->polygonSelection.select(0);
    obj->polygonSelection.select(1);
    EXPECT_EQ(item(obj, host::MODE_POLYGONS)->selectionMode, 0);
    // The 3 x 3 block of cells 1..3: its corners are the points 1..4 in each direction, of which
    // only the four inside the block are not corners of an outside cell.
    obj->polygonSelection.deselectAll();
    for (int y = 1; y <= 3; ++y)
        for (int x = 1; x <= 3; ++x) obj->polygonSelection.select(y * 5 + x);
    auto it = item(obj, host::MODE_POLYGONS);
    EXPECT_EQ(it->selectionMode, 1);
    EXPECT_EQ(it->startCount, 4);
    for (int p : {14, 15, 20, 21}) EXPECT_TRUE(it->pointSet.isSelected(p)) << p;
    EXPECT_EQ(it->polygonSet.count(), 9);
    EXPECT_EQ(obj->polygonSelection.count(), 9);
    EXPECT_EQ(obj->pointSelection.count(), 0);
}

TEST_F(ReductionItemTest, MakingFailsWithoutAPolygonObjectOrMemory) {
    ReductionItem none;
    EXPECT_FALSE(none.make(HostPolygonObject(), 0));
    auto group = std::make_unique<host::Object>(host::OBJECT_GROUP, "null");
    host::Object* g = doc.insert(std::move(group));
    ReductionItem notPolygons;
    EXPECT_FALSE(notPolygons.make(HostPolygonObject(host::toHandle(g)), 0));

    host::PolygonObject* obj = makeGrid(doc, {.columns = 6, .rows = 6, .normals = true});
    const std::unique_ptr<host::Object> before = snapshot(*obj);
    // The first refused block anywhere in making; every one after it is refused too.
    for (uint64_t n : {1, 2, 5, 9}) {
        ReductionItem it;
        host::memory::failAfter(n, true);
        EXPECT_FALSE(it.make(untritest::view(obj), 0)) << n;
        host::memory::resetFailures();
        EXPECT_TRUE(obj->sameStateAs(*before)) << n;
    }
}

// ---------------------------------------------------------------------------------------------
// The direct road

TEST_F(ReductionItemTest, ReducingToACountLeavesACleanMeshOfMostlyQuadsWithTheSeamKept) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 16, .rows = 16, .normals = true, .group = true});
    auto it = item(obj);
    ASSERT_EQ(it->startCount, 289);
    ASSERT_TRUE(it->reduceToCount(80, settings, false));
    EXPECT_EQ(obj->pointCount(), 80);
    EXPECT_EQ(meshFlaw(*obj), "");
    EXPECT_GT(quadCount(*obj), obj->polygonCount() - quadCount(*obj)) << "mostly quads";
    // Every per-polygon tag follows the compacted polygons.
    for (int32_t type : {host::TAG_UVW, host::TAG_NORMALS, host::TAG_POLYGON_SELECTION})
        EXPECT_EQ(obj->tag(type)->elementCount(), obj->polygonCount()) << host::tagTypeName(type);
    // The two UV islands still meet along the seam: some points show two different UVs.
    int seamPoints = 0;
    for (const auto& [point, uvs] : uvsOfPoints(*obj)) seamPoints += uvs.size() > 1 ? 1 : 0;
    EXPECT_GE(seamPoints, 2);
    // The group keeps polygons on both of its sides of the border.
    const auto* group = static_cast<const host::SelectionTag*>(obj->tag(host::TAG_POLYGON_SELECTION));
    EXPECT_GT(group->set.count(), 0);
    EXPECT_LT(group->set.count(), obj->polygonCount());
    // A whole-object reduction leaves nothing selected; the object heard of the change.
    EXPECT_EQ(obj->pointSelection.count(), 0);
    EXPECT_GT(obj->updateCount(), 0);
}

TEST_F(ReductionItemTest, ReducingToAnErrorLimitOnlyMakesContractionsWithinIt) {
    // A flat grid: every inner contraction costs nothing, the borders are held by their planes.
    host::PolygonObject* flatGrid = makeGrid(doc, {.columns = 8, .rows = 8, .bump = 0.0}, "flat");
    ASSERT_TRUE(item(flatGrid)->reduceToError(0.0, settings, false));
    EXPECT_LT(flatGrid->pointCount(), 81);
    EXPECT_EQ(meshFlaw(*flatGrid), "");
    for (const host::Vec3f& p : flatGrid->points) EXPECT_EQ(p.z, 0.0f);

    host::PolygonObject* tight = makeGrid(doc, {.columns = 8, .rows = 8}, "tight");
    host::PolygonObject* loose = makeGrid(doc, {.columns = 8, .rows = 8}, "loose");
    // Limits are measured in the reduction's frame, where area-weighted errors grow with the fourth
    // power of the scale: 1e-4 and 1 in the grid's own units.
    const double s = ReferenceFrame::ofPoints(reinterpret_cast<const FloatVector*>(tight->points.data()), nullptr,
                                              tight->pointCount())
                         .scale;
    ASSERT_TRUE(item(tight)->reduceToError(1e-4 * s * s * s * s, settings, false));
    ASSERT_TRUE(item(loose)->reduceToError(1.0 * s * s * s * s, settings, false));
    EXPECT_LT(loose->pointCount(), tight->pointCount());
    EXPECT_EQ(meshFlaw(*tight), "");
    EXPECT_EQ(meshFlaw(*loose), "");
}

TEST_F(ReductionItemTest, OnlyTheSelectedPolygonsChangeInPolygonMode) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 10, .rows = 10});
    // Cells of rows 2..7, columns 2..7.
    for (int y = 2; y <= 7; ++y)
        for (int x = 2; x <= 7; ++x) obj->polygonSelection.select(y * 10 + x);
    std::vector<std::vector<host::Vec3f>> outside;
    for (int i = 0; i < obj->polygonCount(); ++i) {
        if (obj->polygonSelection.isSelected(i)) continue;
        const host::Polygon& p = obj->polygons[i];
        outside.push_back({obj->points[p.a], obj->points[p.b], obj->points[p.c], obj->points[p.d]});
    }
    auto it = item(obj, host::MODE_POLYGONS);
    ASSERT_EQ(it->startCount, 25);
    ASSERT_TRUE(it->reduceToCount(5, settings, false));
    EXPECT_EQ(meshFlaw(*obj), "");
    EXPECT_LT(obj->polygonCount(), 100);
    // The user's selection stays selected in a selection-limited reduction.
    EXPECT_GT(obj->polygonSelection.count(), 0);
    // Every polygon outside keeps its corners, in order, at the same places.
    std::vector<std::vector<host::Vec3f>> after;
    for (int i = 0; i < obj->polygonCount(); ++i) {
        const host::Polygon& p = obj->polygons[i];
        after.push_back({obj->points[p.a], obj->points[p.b], obj->points[p.c], obj->points[p.d]});
    }
    for (const auto& polygon : outside)
        EXPECT_NE(std::find(after.begin(), after.end(), polygon), after.end());
}

// ---------------------------------------------------------------------------------------------
// The preview road

TEST_F(ReductionItemTest, PrepareReducesFullyAndRevertPutsEverythingBack) {
    host::PolygonObject* obj =
        makeGrid(doc, {.columns = 10, .rows = 10, .normals = true, .group = true, .pointSelection = true, .floatMap = true});
    auto smoothing = std::make_unique<host::SmoothingTag>("smooth");
    smoothing->data.setBool(host::SMOOTHING_ANGLE_LIMIT, true);
    obj->addTag(std::move(smoothing));
    const std::unique_ptr<host::Object> before = snapshot(*obj);

    auto it = item(obj);
    ASSERT_TRUE(it->prepare(settings, false));
    EXPECT_LT(it->currentCount(), 10);
    EXPECT_EQ(obj->tag(host::TAG_SMOOTHING), nullptr) << "taken off while the preview lasts";
    EXPECT_NE(it->detachedTag, nullptr);
    EXPECT_FALSE(obj->sameStateAs(*before));

    it->seekToCount(60, false);
    EXPECT_EQ(it->currentCount(), 60);
    it->seekToError(it->currentError() * 0.5, true);
    EXPECT_GT(it->currentCount(), 60);

    it->revert();
    EXPECT_EQ(it->currentCount(), 121);
    EXPECT_EQ(it->detachedTag, nullptr);
    EXPECT_TRUE(obj->sameStateAs(*before)) << "revert restores the object bit for bit, smoothing tag included";
}

// The smoothing tag is taken off for the preview. A commit gives it back as the object's first tag
// (where the host keeps it); a revert puts it back where it was, so that the object is as it was.
TEST_F(ReductionItemTest, SmoothingTagComesBackFirstOnCommitAndInItsPlaceOnRevert) {
    const GridOptions o{.columns = 8, .rows = 8, .group = true, .pointSelection = true};
    for (const bool commit : {true, false}) {
        SCOPED_TRACE(commit ? "commit" : "revert");
        host::PolygonObject* obj = makeGrid(doc, o, commit ? "committed" : "reverted");
        auto smoothing = std::make_unique<host::SmoothingTag>("smooth");
        host::Tag* tag = obj->insertTag(std::move(smoothing), 1);  // between the object's other tags
        ASSERT_GE(obj->tags().size(), 3u);
        const host::Tag* firstBefore = obj->tags()[0].get();

        auto it = item(obj);
        ASSERT_TRUE(it->prepare(settings, false));
        EXPECT_EQ(obj->tag(host::TAG_SMOOTHING), nullptr);
        if (commit) {
            it->commitAtCount(20, true);
            ASSERT_FALSE(obj->tags().empty());
            EXPECT_EQ(obj->tags()[0].get(), tag);
            EXPECT_EQ(obj->tags()[1].get(), firstBefore);
        } else {
            it->revert();
            ASSERT_GE(obj->tags().size(), 2u);
            EXPECT_EQ(obj->tags()[0].get(), firstBefore);
            EXPECT_EQ(obj->tags()[1].get(), tag);
        }
        EXPECT_EQ(it->detachedTag, nullptr);
        EXPECT_EQ(obj->tagCount(host::TAG_SMOOTHING), 1);
    }
}

TEST_F(ReductionItemTest, CommittingAPreviewGivesTheSameMeshAsTheDirectRoad) {
    const GridOptions o{.columns = 14, .rows = 12, .normals = true, .group = true, .pointSelection = true, .floatMap = true};
    host::Document other;
    host::PolygonObject* direct = makeGrid(doc, o, "same");
    host::PolygonObject* preview = makeGrid(other, o, "same");
    for (int32_t target : {150, 90, 20}) {
        auto d = item(direct);
        auto p = item(preview);
        ASSERT_TRUE(d->reduceToCount(target, settings, false));
        ASSERT_TRUE(p->prepare(settings, false));
        p->seekToCount(target + 7, false);
        p->seekToCount(5, false);
        p->commitAtCount(target, true);
        EXPECT_EQ(meshFlaw(*preview), "") << target;
        EXPECT_TRUE(preview->sameStateAs(*direct)) << "target " << target;
    }
}

TEST_F(ReductionItemTest, AFinishedLevelCarriesOnAlongTheHistory) {
    const GridOptions o{.columns = 12, .rows = 12, .normals = true, .group = true, .floatMap = true};
    host::Document other, third;
    host::PolygonObject* looked = makeGrid(doc, o, "same");
    host::PolygonObject* plain = makeGrid(other, o, "same");
    host::PolygonObject* direct = makeGrid(third, o, "same");
    const std::unique_ptr<host::Object> before = snapshot(*looked);
    auto a = item(looked);
    auto b = item(plain);
    ASSERT_TRUE(a->prepare(settings, false));
    ASSERT_TRUE(b->prepare(settings, false));

    a->seekToCount(100, false);
    ASSERT_TRUE(a->finishLevel());
    EXPECT_TRUE(a->levelFinished());
    EXPECT_EQ(looked->pointCount(), 100);
    EXPECT_EQ(meshFlaw(*looked), "");
    // Further down and back up again, as if it had never been finished.
    a->seekToCount(40, true);
    EXPECT_FALSE(a->levelFinished());
    b->seekToCount(40, true);
    EXPECT_TRUE(looked->sameStateAs(*plain));
    ASSERT_TRUE(a->finishLevel());
    a->seekToCount(130, false);
    b->seekToCount(130, false);
    EXPECT_TRUE(looked->sameStateAs(*plain));

    // Committing after a finished level equals the direct road.
    ASSERT_TRUE(a->finishLevel());
    a->commitAtCount(70, true);
    ASSERT_TRUE(item(direct)->reduceToCount(70, settings, false));
    EXPECT_TRUE(looked->sameStateAs(*direct));

    // And a revert after a finished level gives the object back.
    ASSERT_TRUE(b->finishLevel());
    b->revert();
    EXPECT_TRUE(plain->sameStateAs(*before));
}

// A grid with `tags` data tags: a UVW tag first, then float maps, point selections and more UVW
// tags in turn, each with its own values, so that every tag changes along the history.
host::PolygonObject* gridWithTags(host::Document& doc, int tags, const std::string& name) {
    host::PolygonObject* obj = makeGrid(doc, {.columns = 9, .rows = 8, .uvw = tags > 0}, name);
    for (int t = 1; t < tags; ++t) {
        const float k = 1.0f + 0.25f * static_cast<float>(t);
        switch (t % 3) {
            case 0: {
                auto tag = std::make_unique<host::FloatMapTag>("map", obj->pointCount());
                for (int i = 0; i < obj->pointCount(); ++i) tag->data[i] = obj->points[i].x * k + obj->points[i].y;
                obj->addTag(std::move(tag));
                break;
            }
            case 1: {
                auto tag = std::make_unique<host::SelectionTag>(host::TAG_POINT_SELECTION, "set", obj->pointCount());
                for (int i = 0; i < obj->pointCount(); ++i)
                    if ((i * 7 + t) % 5 < 2) tag->set.select(i);
                obj->addTag(std::move(tag));
                break;
            }
            default: {
                auto tag = std::make_unique<host::UVWTag>("uv", obj->polygonCount());
                for (int f = 0; f < obj->polygonCount(); ++f) {
                    const host::Polygon& p = obj->polygons[f];
                    auto uv = [&](int point) {
                        return host::Vec3f{obj->points[point].x * k / 10.0f, obj->points[point].y / (k * 9.0f), 0.0f};
                    };
                    tag->data[f] = {uv(p.a), uv(p.b), uv(p.c), uv(p.d)};
                }
                obj->addTag(std::move(tag));
                break;
            }
        }
    }
    EXPECT_EQ(static_cast<int>(obj->tags().size()), tags);
    return obj;
}

// Finishing a level resizes the object and moves every tag's data; the history must follow all of
// them, however many there are. One object is finished at levels on its way, its twin never is;
// both must show the same object at every level, and the start again at the end.
TEST_F(ReductionItemTest, TheHistoryFollowsEveryTagThroughFinishedLevels) {
    for (const int tags : {0, 1, 100}) {
        SCOPED_TRACE(std::to_string(tags) + " tags");
        host::Document own, other;
        host::PolygonObject* looked = gridWithTags(own, tags, "same");
        host::PolygonObject* plain = gridWithTags(other, tags, "same");
        const std::unique_ptr<host::Object> before = snapshot(*looked);
        auto a = item(looked);
        auto b = item(plain);
        ASSERT_TRUE(a->prepare(settings, false));
        ASSERT_TRUE(b->prepare(settings, false));
        const int32_t start = a->startCount;
        ASSERT_EQ(start, 90);
        for (const int32_t target : {70, 20, 85, 4, start, 45, 1, 60}) {
            ASSERT_TRUE(a->finishLevel());
            EXPECT_EQ(meshFlaw(*looked), "") << "finished at " << a->currentCount();
            a->seekToCount(target, true);
            b->seekToCount(target, true);
            EXPECT_EQ(a->currentCount(), b->currentCount());
            ASSERT_TRUE(looked->sameStateAs(*plain)) << "at " << target;
        }
        ASSERT_TRUE(a->finishLevel());
        a->revert();
        EXPECT_TRUE(looked->sameStateAs(*before)) << "reverted after a finished level";
    }
}

// A host thread whose break test answers yes from its (k + 1)-th question on.
class BreakAfter : public HostThread {
public:
    explicit BreakAfter(int k) : k_(k) {}
    ~BreakAfter() override { stop(); }
    int32_t testBreak() override { return ++calls > k_ ? 1 : 0; }
    void main() override {}
    int calls = 0;

private:
    int k_;
};

// A prepare over a hundred tags stopped at each of its polls, and refused memory at each of its
// allocations: the history it kept takes the object back exactly.
TEST_F(ReductionItemTest, APrepareOfAHundredTagsStoppedOrRefusedAnywhereCanBeTakenBack) {
    const testsupport::OneWorker oneWorker;
    int polls = 0;
    uint64_t asked = 0;
    {
        host::Document scratch;
        auto it = item(gridWithTags(scratch, 100, "scratch"));
        BreakAfter never(1 << 30);
        settings.thread = &never;
        const uint64_t before = host::memory::allocationCount();
        ASSERT_TRUE(it->prepare(settings, false));
        asked = host::memory::allocationCount() - before;
        polls = never.calls;
        it->revert();
    }
    ASSERT_GT(polls, 2);
    for (int k = 0; k < polls; ++k) {
        host::Document own;
        host::PolygonObject* obj = gridWithTags(own, 100, "stopped");
        const std::unique_ptr<host::Object> before = snapshot(*obj);
        auto it = item(obj);
        BreakAfter stopper(k);
        settings.thread = &stopper;
        // The contraction loop polls on a clock, so a run can finish with fewer polls than the
        // first one made; a prepare may only come through when it was never told to stop.
        const bool prepared = it->prepare(settings, false);
        EXPECT_TRUE(!prepared || stopper.calls <= k) << "stopped at poll " << k << " of " << stopper.calls;
        it->revert();
        EXPECT_TRUE(obj->sameStateAs(*before)) << "stopped at poll " << k;
    }
    settings.thread = nullptr;
    ASSERT_GT(asked, 10u);
    for (uint64_t n = 1; n <= asked; ++n) {
        host::Document own;
        host::PolygonObject* obj = gridWithTags(own, 100, "refused");
        const std::unique_ptr<host::Object> before = snapshot(*obj);
        auto it = item(obj);
        host::memory::failAfter(n, true);
        EXPECT_FALSE(it->prepare(settings, false)) << n;
        host::memory::resetFailures();
        it->revert();
        ASSERT_TRUE(obj->sameStateAs(*before)) << "refused at block " << n;
    }
}

TEST_F(ReductionItemTest, RatioTargetsAreEachObjectsOwnShare) {
    settings.targetMode = TARGET_RATIO;
    settings.targetRatio = 0.5f;
    EXPECT_EQ(settings.ratioTarget(1000), 500);
    EXPECT_EQ(settings.ratioTarget(200), 100);
    settings.targetRatio = 0.7f;  // 0.69999999 in single precision
    EXPECT_EQ(settings.ratioTarget(1000), 700);
    settings.targetRatio = 0.1f;
    EXPECT_EQ(settings.ratioTarget(3456), 345);
    settings.targetRatio = 0.0f;
    EXPECT_EQ(settings.ratioTarget(3456), 0);
}

TEST_F(ReductionItemTest, APrepareRefusedMemoryAnywhereCanBeTakenBack) {
    const testsupport::OneWorker oneWorker;
    const GridOptions o{.columns = 8, .rows = 8, .normals = true, .group = true, .floatMap = true};
    // How many blocks a whole prepare asks for.
    uint64_t asked = 0;
    {
        host::Document scratch;
        auto it = item(makeGrid(scratch, o));
        const uint64_t before = host::memory::allocationCount();
        ASSERT_TRUE(it->prepare(settings, false));
        asked = host::memory::allocationCount() - before;
        it->revert();
    }
    ASSERT_GT(asked, 10u);
    // The first refused block at every point of the prepare; every later one is refused too.
    for (uint64_t n = 1; n <= asked; n += 1 + asked / 40) {
        host::Document own;
        host::PolygonObject* obj = makeGrid(own, o);
        const std::unique_ptr<host::Object> before = snapshot(*obj);
        auto it = item(obj);
        host::memory::failAfter(n, true);
        EXPECT_FALSE(it->prepare(settings, false)) << n;
        host::memory::resetFailures();
        it->revert();
        EXPECT_TRUE(obj->sameStateAs(*before)) << "refused at block " << n;
    }
    EXPECT_FALSE(memoryFaults().empty());
}

}  // namespace
