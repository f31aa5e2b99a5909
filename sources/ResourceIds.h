// Identifiers of the module's resources (res/strings.txt and the layouts in res/dialogs/): dialog
// layouts, their gadgets, and the strings the module shows. The module, the command line and the
// tests name them from here; a test checks every one against the resource files.
#pragma once

#include <cstdint>

// Resource strings of the plug-ins' names and help texts.
enum : int32_t {
    STR_VEXLOR_NAME = 10117,
    STR_VEXLOR_HELP = 10118,
    STR_OMBRIN_NAME = 10124,
    STR_OMBRIN_HELP = 10125,
    STR_XOMBRIN85_NAME = 10135,
    STR_TESSIK_NAME = 10136,
    STR_TESSIK_HELP = 10137,
    STR_TESSIK_COST = 10138,
    STR_TESSIK_BAD_CORNERS = 10139,
    STR_TESSIK_COLLAPSED = 10143,
    STR_TESSIK_ABOVE_LIMIT = 10144,
    STR_TESSIK_REFUSED = 10145,
    STR_TESSIK_STROKE_DONE = 10146,
    STR_TESSIK_STROKE_LIMITED = 10147,
};

// The reduction dialog's layout.
constexpr int32_t DLG_VEXLOR = 10001;

// Gadgets of DLG_VEXLOR.
enum : int32_t {
    IDC_VEXLOR_SETTINGS = 10002,
    IDC_VEXLOR_HIERARCHY = 10003,
    IDC_VEXLOR_WEIGHTING = 10004,
    IDC_VEXLOR_WEIGHT_AREA = 10005,
    IDC_VEXLOR_WEIGHT_AVERAGE = 10006,
    IDC_VEXLOR_WEIGHT_ANGLE = 10007,
    IDC_VEXLOR_WEIGHT_AREA_AVERAGE = 10008,
    IDC_VEXLOR_PREPARE = 10010,
    IDC_VEXLOR_TARGET = 10011,
    IDC_VEXLOR_REGLER = 10013,
    IDC_VEXLOR_ERROR = 10014,
    IDC_VEXLOR_CHECKS = 10015,
    IDC_VEXLOR_BOUNDARY_WEIGHT = 10016,
    IDC_VEXLOR_COMPACTNESS = 10017,
    IDC_VEXLOR_FLIP = 10018,
    IDC_VEXLOR_VALENCE = 10019,
    IDC_VEXLOR_INFO = 10020,
    IDC_VEXLOR_FINISH_LEVEL = 10021,
    IDC_VEXLOR_START = 10022,
};

// Strings of the reduction dialog.
enum : int32_t {
    STR_VEXLOR_INFO = 10116,
    STR_VEXLOR_FINISH_LEVEL = 10119,
    STR_VEXLOR_PREPARE = 10120,
    STR_VEXLOR_PREPARED = 10121,
    STR_VEXLOR_START = 10122,
    STR_VEXLOR_STOP = 10123,
};

// The baking dialog's layout.
constexpr int32_t DLG_BAKE = 10023;

// Gadgets of DLG_BAKE.
enum : int32_t {
    IDC_BAKE_SETTINGS = 10024,      // group of every setting; disabled while a bake runs
    IDC_BAKE_HIGH_DROP = 10026,     // drop area of the high object
    IDC_BAKE_HIGH_ICON = 10027,     // icon cell (0, 0)
    IDC_BAKE_HIGH_NAME = 10028,     // the high object's name
    IDC_BAKE_HIGH_TAG_ICON = 10029, // icon cell (24, 0)
    IDC_BAKE_HIGH_TAG = 10030,      // "UVWTag n" or empty
    IDC_BAKE_BUMP_CHOOSE = 10031,
    IDC_BAKE_BUMP_FILE = 10032,
    IDC_BAKE_BUMP_STRENGTH = 10033,  // real shown in percent
    IDC_BAKE_LOW_DROP = 10034,
    IDC_BAKE_LOW_ICON = 10035,
    IDC_BAKE_LOW_NAME = 10036,
    IDC_BAKE_LOW_TAG_ICON = 10037,
    IDC_BAKE_LOW_TAG = 10038,
    IDC_BAKE_WIDTH = 10040,
    IDC_BAKE_HEIGHT = 10041,
    IDC_BAKE_SUPERSAMPLING = 10042,  // N = choice id - 10042
    IDC_BAKE_FORMAT = 10054,
    IDC_BAKE_FORMAT_TIF = 10055,
    IDC_BAKE_FORMAT_BMP = 10056,
    IDC_BAKE_FORMAT_TGA = 10057,
    IDC_BAKE_FORMAT_PNG = 10051,
    IDC_BAKE_FORMAT_EXR = 10052,
    IDC_BAKE_BITS = 10058,
    IDC_BAKE_BITS_8 = 10059,
    IDC_BAKE_BITS_16 = 10060,
    IDC_BAKE_BITS_32 = 10053,
    IDC_BAKE_NORMAL_ON = 10061,
    IDC_BAKE_NORMAL_GROUP = 10062,
    IDC_BAKE_NORMAL_FILE = 10063,
    IDC_BAKE_NORMAL_CHOOSE = 10064,
    IDC_BAKE_OCCLUSION_ON = 10065,
    IDC_BAKE_OCCLUSION_GROUP = 10066,
    IDC_BAKE_OCCLUSION_GRID = 10067,  // M = choice id - 10067
    IDC_BAKE_OCCLUSION_RANDOM = 10080,
    IDC_BAKE_OCCLUDERS = 10081,  // mode = choice id - 10082
    IDC_BAKE_OCCLUDERS_HIGH = 10082,
    IDC_BAKE_OCCLUSION_EXPONENT = 10085,
    IDC_BAKE_HALF_SPACE = 10086,  // blocked half-space = choice id - 10087
    IDC_BAKE_HALF_SPACE_NONE = 10087,
    IDC_BAKE_OCCLUSION_FILE = 10094,
    IDC_BAKE_OCCLUSION_CHOOSE = 10095,
    IDC_BAKE_DISPLACEMENT_ON = 10096,
    IDC_BAKE_DISPLACEMENT_GROUP = 10097,
    IDC_BAKE_DISPLACEMENT_FILE = 10098,
    IDC_BAKE_DISPLACEMENT_CHOOSE = 10099,
    IDC_BAKE_MEMORY = 10100,
    IDC_BAKE_STATUS = 10102,
    IDC_BAKE_ABOUT = 10103,
    IDC_BAKE_START = 10104,  // bake / stop
    IDC_BAKE_NORMAL_Y = 10140,       // the normal map's green channel: up or down the texture
    IDC_BAKE_NORMAL_Y_UP = 10141,    // y along growing v, up the image (the common default)
    IDC_BAKE_NORMAL_Y_DOWN = 10142,  // y negated, for engines whose tangent frame points y down
};

// Strings of the baking dialog.
enum : int32_t { BAKE_TEXT_ABOUT = 10116, BAKE_TEXT_BAKE = 10126, BAKE_TEXT_STOP = 10127 };

// Resource strings of the bake's stages.
enum : int32_t {
    NM_TEXT_GATHERING = 10128,
    NM_TEXT_OCCLUDERS = 10129,
    NM_TEXT_FINISHING = 10130,
    NM_TEXT_WRITING = 10131,
};

// Final status texts of a bake.
enum : int32_t { BAKE_TEXT_DONE = 10132, BAKE_TEXT_FAILED = 10133 };

// Resource string that starts the displacement scale file's text.
constexpr int32_t NM_DISPLACEMENT_TEXT_ID = 10134;

// The brush's settings panel.
constexpr int32_t DLG_TESSIK = 10105;

// Gadgets of DLG_TESSIK, and the entries of its weighting popup (their ids are the popup's values).
enum : int32_t {
    IDC_TESSIK_WEIGHTING = 10106,
    IDC_TESSIK_MAX_NEIGHBOURS = 10107,
    IDC_TESSIK_CHECK_FOLDS = 10108,
    IDC_TESSIK_BOUNDARY_WEIGHT = 10109,
    IDC_TESSIK_MAX_ERROR = 10110,
    IDC_TESSIK_COLOR = 10111,
    IDC_TESSIK_RAISE_LIMIT = 10148,  // raises the largest error above what stopped the last drag
    TESSIK_WEIGHT_AREA = 10112,
    TESSIK_WEIGHT_AVERAGE = 10113,
    TESSIK_WEIGHT_ANGLE = 10114,
    TESSIK_WEIGHT_AREA_AVERAGE = 10115,
};
