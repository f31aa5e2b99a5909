// The module's resource identifiers against the resource files themselves: every gadget the code
// names is in its layout with the kind the code works it as, every entry sits in the choice the code
// counts from, and every string the code shows exists.
#include <gtest/gtest.h>

#include <string>

#include "host/Resources.h"
#include "sources/ResourceIds.h"

namespace {

using host::GadgetKind;

struct NamedGadget {
    const char* name;
    int32_t layout;
    int32_t id;
    GadgetKind kind;
    int32_t parent;  // -1: any
};

#define GADGET(layout, id, kind) {#id, layout, id, GadgetKind::kind, -1}
#define ENTRY(layout, id, choice) {#id, layout, id, GadgetKind::Entry, choice}
#define RADIO(layout, id, group) {#id, layout, id, GadgetKind::Radio, group}

const NamedGadget kGadgets[] = {
    GADGET(DLG_VEXLOR, IDC_VEXLOR_SETTINGS, Group),
    GADGET(DLG_VEXLOR, IDC_VEXLOR_HIERARCHY, Checkbox),
    GADGET(DLG_VEXLOR, IDC_VEXLOR_WEIGHTING, RadioGroup),
    RADIO(DLG_VEXLOR, IDC_VEXLOR_WEIGHT_AREA, IDC_VEXLOR_WEIGHTING),
    RADIO(DLG_VEXLOR, IDC_VEXLOR_WEIGHT_AVERAGE, IDC_VEXLOR_WEIGHTING),
    RADIO(DLG_VEXLOR, IDC_VEXLOR_WEIGHT_ANGLE, IDC_VEXLOR_WEIGHTING),
    RADIO(DLG_VEXLOR, IDC_VEXLOR_WEIGHT_AREA_AVERAGE, IDC_VEXLOR_WEIGHTING),
    GADGET(DLG_VEXLOR, IDC_VEXLOR_PREPARE, Button),
    GADGET(DLG_VEXLOR, IDC_VEXLOR_TARGET, Integer),
    GADGET(DLG_VEXLOR, IDC_VEXLOR_REGLER, UserArea),
    GADGET(DLG_VEXLOR, IDC_VEXLOR_ERROR, Real),
    GADGET(DLG_VEXLOR, IDC_VEXLOR_CHECKS, Checkbox),
    GADGET(DLG_VEXLOR, IDC_VEXLOR_BOUNDARY_WEIGHT, Real),
    GADGET(DLG_VEXLOR, IDC_VEXLOR_COMPACTNESS, Real),
    GADGET(DLG_VEXLOR, IDC_VEXLOR_FLIP, Real),
    GADGET(DLG_VEXLOR, IDC_VEXLOR_VALENCE, Integer),
    GADGET(DLG_VEXLOR, IDC_VEXLOR_INFO, Text),
    GADGET(DLG_VEXLOR, IDC_VEXLOR_FINISH_LEVEL, Button),
    GADGET(DLG_VEXLOR, IDC_VEXLOR_START, Button),

    GADGET(DLG_BAKE, IDC_BAKE_SETTINGS, Group),
    GADGET(DLG_BAKE, IDC_BAKE_HIGH_DROP, DropArea),
    GADGET(DLG_BAKE, IDC_BAKE_HIGH_ICON, UserArea),
    GADGET(DLG_BAKE, IDC_BAKE_HIGH_NAME, Text),
    GADGET(DLG_BAKE, IDC_BAKE_HIGH_TAG_ICON, UserArea),
    GADGET(DLG_BAKE, IDC_BAKE_HIGH_TAG, Text),
    GADGET(DLG_BAKE, IDC_BAKE_BUMP_CHOOSE, Button),
    GADGET(DLG_BAKE, IDC_BAKE_BUMP_FILE, Filename),
    GADGET(DLG_BAKE, IDC_BAKE_BUMP_STRENGTH, Percent),
    GADGET(DLG_BAKE, IDC_BAKE_LOW_DROP, DropArea),
    GADGET(DLG_BAKE, IDC_BAKE_LOW_ICON, UserArea),
    GADGET(DLG_BAKE, IDC_BAKE_LOW_NAME, Text),
    GADGET(DLG_BAKE, IDC_BAKE_LOW_TAG_ICON, UserArea),
    GADGET(DLG_BAKE, IDC_BAKE_LOW_TAG, Text),
    GADGET(DLG_BAKE, IDC_BAKE_WIDTH, Integer),
    GADGET(DLG_BAKE, IDC_BAKE_HEIGHT, Integer),
    GADGET(DLG_BAKE, IDC_BAKE_SUPERSAMPLING, Choice),
    GADGET(DLG_BAKE, IDC_BAKE_FORMAT, Choice),
    ENTRY(DLG_BAKE, IDC_BAKE_FORMAT_TIF, IDC_BAKE_FORMAT),
    ENTRY(DLG_BAKE, IDC_BAKE_FORMAT_BMP, IDC_BAKE_FORMAT),
    ENTRY(DLG_BAKE, IDC_BAKE_FORMAT_TGA, IDC_BAKE_FORMAT),
    GADGET(DLG_BAKE, IDC_BAKE_BITS, Choice),
    ENTRY(DLG_BAKE, IDC_BAKE_BITS_8, IDC_BAKE_BITS),
    ENTRY(DLG_BAKE, IDC_BAKE_BITS_16, IDC_BAKE_BITS),
    GADGET(DLG_BAKE, IDC_BAKE_NORMAL_ON, Checkbox),
    GADGET(DLG_BAKE, IDC_BAKE_NORMAL_GROUP, Group),
    GADGET(DLG_BAKE, IDC_BAKE_NORMAL_FILE, Filename),
    GADGET(DLG_BAKE, IDC_BAKE_NORMAL_CHOOSE, Button),
    GADGET(DLG_BAKE, IDC_BAKE_OCCLUSION_ON, Checkbox),
    GADGET(DLG_BAKE, IDC_BAKE_OCCLUSION_GROUP, Group),
    GADGET(DLG_BAKE, IDC_BAKE_OCCLUSION_GRID, Choice),
    GADGET(DLG_BAKE, IDC_BAKE_OCCLUSION_RANDOM, Checkbox),
    GADGET(DLG_BAKE, IDC_BAKE_OCCLUDERS, Choice),
    ENTRY(DLG_BAKE, IDC_BAKE_OCCLUDERS_HIGH, IDC_BAKE_OCCLUDERS),
    GADGET(DLG_BAKE, IDC_BAKE_OCCLUSION_EXPONENT, Real),
    GADGET(DLG_BAKE, IDC_BAKE_HALF_SPACE, Choice),
    ENTRY(DLG_BAKE, IDC_BAKE_HALF_SPACE_NONE, IDC_BAKE_HALF_SPACE),
    GADGET(DLG_BAKE, IDC_BAKE_OCCLUSION_FILE, Filename),
    GADGET(DLG_BAKE, IDC_BAKE_OCCLUSION_CHOOSE, Button),
    GADGET(DLG_BAKE, IDC_BAKE_DISPLACEMENT_ON, Checkbox),
    GADGET(DLG_BAKE, IDC_BAKE_DISPLACEMENT_GROUP, Group),
    GADGET(DLG_BAKE, IDC_BAKE_DISPLACEMENT_FILE, Filename),
    GADGET(DLG_BAKE, IDC_BAKE_DISPLACEMENT_CHOOSE, Button),
    GADGET(DLG_BAKE, IDC_BAKE_MEMORY, Text),
    GADGET(DLG_BAKE, IDC_BAKE_STATUS, Text),
    GADGET(DLG_BAKE, IDC_BAKE_ABOUT, Text),
    GADGET(DLG_BAKE, IDC_BAKE_START, Button),
    GADGET(DLG_TESSIK, IDC_TESSIK_WEIGHTING, Popup),
    ENTRY(DLG_TESSIK, TESSIK_WEIGHT_AREA, IDC_TESSIK_WEIGHTING),
    ENTRY(DLG_TESSIK, TESSIK_WEIGHT_AVERAGE, IDC_TESSIK_WEIGHTING),
    ENTRY(DLG_TESSIK, TESSIK_WEIGHT_ANGLE, IDC_TESSIK_WEIGHTING),
    ENTRY(DLG_TESSIK, TESSIK_WEIGHT_AREA_AVERAGE, IDC_TESSIK_WEIGHTING),
    GADGET(DLG_TESSIK, IDC_TESSIK_MAX_NEIGHBOURS, Integer),
    GADGET(DLG_TESSIK, IDC_TESSIK_CHECK_FOLDS, Checkbox),
    GADGET(DLG_TESSIK, IDC_TESSIK_BOUNDARY_WEIGHT, Real),
    GADGET(DLG_TESSIK, IDC_TESSIK_MAX_ERROR, Real),
    GADGET(DLG_TESSIK, IDC_TESSIK_RAISE_LIMIT, Button),
    GADGET(DLG_TESSIK, IDC_TESSIK_COLOR, Color),
};

#define STRING(id) {#id, id}
const std::pair<const char*, int32_t> kStrings[] = {
    STRING(STR_VEXLOR_NAME),    STRING(STR_VEXLOR_HELP),         STRING(STR_OMBRIN_NAME),
    STRING(STR_OMBRIN_HELP),    STRING(STR_XOMBRIN85_NAME),      STRING(STR_TESSIK_NAME),
    STRING(STR_TESSIK_HELP),    STRING(STR_TESSIK_COST),         STRING(STR_TESSIK_BAD_CORNERS),
    STRING(STR_TESSIK_COLLAPSED), STRING(STR_TESSIK_ABOVE_LIMIT), STRING(STR_TESSIK_REFUSED),
    STRING(STR_TESSIK_STROKE_DONE), STRING(STR_TESSIK_STROKE_LIMITED),
    STRING(STR_VEXLOR_INFO),    STRING(STR_VEXLOR_FINISH_LEVEL),
    STRING(STR_VEXLOR_PREPARE), STRING(STR_VEXLOR_PREPARED),     STRING(STR_VEXLOR_START),
    STRING(STR_VEXLOR_STOP),    STRING(BAKE_TEXT_ABOUT),         STRING(BAKE_TEXT_BAKE),
    STRING(BAKE_TEXT_STOP),     STRING(NM_TEXT_GATHERING),       STRING(NM_TEXT_OCCLUDERS),
    STRING(NM_TEXT_FINISHING),  STRING(NM_TEXT_WRITING),         STRING(BAKE_TEXT_DONE),
    STRING(BAKE_TEXT_FAILED),   STRING(NM_DISPLACEMENT_TEXT_ID),
};

std::unique_ptr<host::ResourceSet> moduleResources() {
    std::string error;
    auto res = host::ResourceSet::open(VEXLOR_SOURCE_DIR, &error);
    EXPECT_NE(res, nullptr) << error;
    return res;
}

TEST(ResourceIds, EveryNamedGadgetIsInItsLayoutWithItsKind) {
    auto res = moduleResources();
    ASSERT_NE(res, nullptr);
    for (const NamedGadget& n : kGadgets) {
        SCOPED_TRACE(n.name);
        const host::Layout* layout = res->layout(n.layout);
        ASSERT_NE(layout, nullptr);
        const host::LayoutGadget* g = layout->find(n.id);
        ASSERT_NE(g, nullptr) << "not in " << layout->file;
        EXPECT_EQ(host::gadgetKindName(g->kind), std::string(host::gadgetKindName(n.kind)));
        if (n.parent >= 0) {
            EXPECT_EQ(g->parent, n.parent);
        }
    }
}

// The dialog and the command line find a choice's value as an offset from an id the code names.
TEST(ResourceIds, ChoiceEntriesFollowTheIdsTheCodeCountsFrom) {
    auto res = moduleResources();
    ASSERT_NE(res, nullptr);
    const host::Layout* bake = res->layout(DLG_BAKE);
    ASSERT_NE(bake, nullptr);
    struct Run {
        int32_t choice, first, count;
    };
    // Supersampling N x N for N = 1..8, grids M x M for M = 1..12, occluder modes 0..2, half-spaces 0..6.
    const Run runs[] = {{IDC_BAKE_SUPERSAMPLING, IDC_BAKE_SUPERSAMPLING + 1, 8},
                        {IDC_BAKE_OCCLUSION_GRID, IDC_BAKE_OCCLUSION_GRID + 1, 12},
                        {IDC_BAKE_OCCLUDERS, IDC_BAKE_OCCLUDERS_HIGH, 3},
                        {IDC_BAKE_HALF_SPACE, IDC_BAKE_HALF_SPACE_NONE, 7}};
    for (const Run& r : runs) {
        SCOPED_TRACE(r.choice);
        const auto entries = bake->choices(r.choice);
        ASSERT_EQ(entries.size(), static_cast<size_t>(r.count));
        for (int32_t i = 0; i < r.count; ++i) EXPECT_EQ(entries[i]->id, r.first + i);
    }
}

TEST(ResourceIds, EveryNamedStringExists) {
    auto res = moduleResources();
    ASSERT_NE(res, nullptr);
    for (const auto& [name, id] : kStrings) EXPECT_TRUE(res->hasString(id)) << name << " (" << id << ")";
    EXPECT_EQ(res->layout(DLG_VEXLOR)->title, res->string(STR_VEXLOR_NAME));
    EXPECT_EQ(res->layout(DLG_BAKE)->title, res->string(STR_OMBRIN_NAME));
}

}  // namespace
