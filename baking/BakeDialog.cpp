#include "baking/BakeDialog.h"

#include "sources/HostPolygonObject.h"
#include "sources/HostSettings.h"
#include "sources/HostTag.h"
#include "sources/Module.h"
#include "sources/HostContract.h"
#include "sources/ResourceHolder.h"

namespace {

// Limits of the gadgets.
constexpr int32_t kMinSize = 10;
constexpr int32_t kMaxSize = 6400;
constexpr double kMaxBumpStrength = 9e16;
constexpr double kMaxExponent = 9e18;

// The spinner's characters, shown in turn after the status text.
constexpr char kSpinner[] = "-\\|/";
constexpr int32_t kSpinnerSteps = 4;

constexpr int32_t kTimerMs = 1000;

// The object and the cell of "pic.tif" that each icon area shows.
struct IconPlace {
    int32_t gadget;
    int32_t cellX;
};
constexpr IconPlace kIcons[4] = {{IDC_BAKE_HIGH_ICON, 0},
                                 {IDC_BAKE_LOW_ICON, 0},
                                 {IDC_BAKE_HIGH_TAG_ICON, IconButtonArea::kCell},
                                 {IDC_BAKE_LOW_TAG_ICON, IconButtonArea::kCell}};

bool isPolygonObject(HstObject* object) {
    return object != nullptr && moduleApi()->objType(object) == OBJECT_POLYGON;
}

// "UVWTag n": n counts the tags of the tag's type on its object, from 1, in tag order.
HostString tagNumberText(HstTag* tag) {
    const HostApi* api = moduleApi();
    const int32_t type = api->tagType(tag);
    int32_t number = 0;
    for (HstTag* t = api->objFirstTag(api->tagObject(tag)); t != nullptr; t = api->tagNext(t)) {
        if (api->tagType(t) == type) ++number;
        if (t == tag) break;
    }
    return HostString("UVWTag ") + HostString::fromInt(number);
}

HostString objectName(HstObject* object) { return HostString::adopt(moduleApi()->objName(object)); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Values shown and handed over

int64_t bakeMemoryBytes(int32_t width, int32_t height, bool occlusion, bool displacement) {
    const int64_t texels = static_cast<int64_t>(width) * height;
    const int64_t perTexel = 24 - (occlusion ? 0 : 4) - (displacement ? 0 : 4);
    return texels * perTexel * 2 + texels * 3;
}

HostString bakeMemoryText(int64_t bytes) {
    static const char* const kUnits[] = {"B", "kB", "MB", "GB"};
    double value = static_cast<double>(bytes);
    int32_t unit = 0;
    while (value >= 1000.0 && unit < 3) {
        value = value * 0.001 + 0.1;
        ++unit;
    }
    return HostString::fromReal(value, 1) + " " + kUnits[unit];
}

bool bakeFormatHoldsBits(int32_t formatChoice, int32_t bitsChoice) {
    switch (formatChoice) {
        case IDC_BAKE_FORMAT_EXR:
            return bitsChoice == IDC_BAKE_BITS_16 || bitsChoice == IDC_BAKE_BITS_32;
        case IDC_BAKE_FORMAT_TIF:
        case IDC_BAKE_FORMAT_PNG:
            return bitsChoice == IDC_BAKE_BITS_8 || bitsChoice == IDC_BAKE_BITS_16;
        default:
            return bitsChoice == IDC_BAKE_BITS_8;
    }
}

int32_t bakeFormatCode(int32_t formatChoice) {
    switch (formatChoice) {
        case IDC_BAKE_FORMAT_TGA:
            return BAKE_FORMAT_TGA;
        case IDC_BAKE_FORMAT_BMP:
            return BAKE_FORMAT_BMP;
        case IDC_BAKE_FORMAT_PNG:
            return BAKE_FORMAT_PNG;
        case IDC_BAKE_FORMAT_EXR:
            return BAKE_FORMAT_EXR;
        default:
            return BAKE_FORMAT_TIFF;
    }
}

const char* bakeFormatSuffix(int32_t formatChoice) {
    switch (formatChoice) {
        case IDC_BAKE_FORMAT_TGA:
            return "tga";
        case IDC_BAKE_FORMAT_BMP:
            return "bmp";
        case IDC_BAKE_FORMAT_PNG:
            return "png";
        case IDC_BAKE_FORMAT_EXR:
            return "exr";
        default:
            return "tif";
    }
}

// ---------------------------------------------------------------------------------------------
// Opening

int32_t BakeDialog::createLayout() {
    if (!loadLayout(DLG_BAKE)) return 0;
    if (!pictureLoaded_) pictureLoaded_ = picture_.load(HostFilename(modulePath()) + "res" + "pic.tif");
    for (int32_t i = 0; i < 4; ++i) {
        areas_[i].setBitmap(pictureLoaded_ ? &picture_ : nullptr);
        areas_[i].setSource(kIcons[i].cellX, 0, IconButtonArea::kCell, IconButtonArea::kCell);
        if (!attachUserArea(kIcons[i].gadget, &areas_[i])) return 0;
    }
    return 1;
}

int32_t BakeDialog::initValues() {
    highObject_ = lowObject_ = nullptr;
    highUvw_ = lowUvw_ = nullptr;
    document_ = nullptr;
    // A dialog closed while baking has stopped its bake; its end message went nowhere.
    if (!thread_.isRunning()) baking_ = false;

    setFilename(IDC_BAKE_BUMP_FILE, bumpFile_);
    setPercent(IDC_BAKE_BUMP_STRENGTH, bumpStrength_, -kMaxBumpStrength, kMaxBumpStrength, 0.01);
    setInt(IDC_BAKE_WIDTH, width_, kMinSize, kMaxSize, 1);
    setInt(IDC_BAKE_HEIGHT, height_, kMinSize, kMaxSize, 1);
    setInt(IDC_BAKE_SUPERSAMPLING, supersampling_);
    setInt(IDC_BAKE_FORMAT, format_);
    setInt(IDC_BAKE_BITS, bitDepth_);
    setBool(IDC_BAKE_NORMAL_ON, normalOn_);
    setFilename(IDC_BAKE_NORMAL_FILE, normalFile_);
    setInt(IDC_BAKE_NORMAL_Y, normalY_);
    setBool(IDC_BAKE_OCCLUSION_ON, occlusionOn_);
    setInt(IDC_BAKE_OCCLUSION_GRID, occlusionGrid_);
    setBool(IDC_BAKE_OCCLUSION_RANDOM, randomDirections_);
    setInt(IDC_BAKE_OCCLUDERS, occluders_);
    setReal(IDC_BAKE_OCCLUSION_EXPONENT, occlusionExponent_, 1.0, kMaxExponent, 1.0, HOST_FORMAT_REAL);
    setInt(IDC_BAKE_HALF_SPACE, halfSpace_);
    setFilename(IDC_BAKE_OCCLUSION_FILE, occlusionFile_);
    setBool(IDC_BAKE_DISPLACEMENT_ON, displacementOn_);
    setFilename(IDC_BAKE_DISPLACEMENT_FILE, displacementFile_);
    setString(IDC_BAKE_STATUS, "");
    setString(IDC_BAKE_ABOUT, resourceString(BAKE_TEXT_ABOUT));
    setTimer(kTimerMs);
    updateEnabling();
    updateMemoryEstimate();
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Enabling and the memory estimate

bool BakeDialog::bakePossible() const {
    if (highObject_ == nullptr || lowObject_ == nullptr || lowUvw_ == nullptr) return false;
    if (!normalOn_ && !occlusionOn_ && !displacementOn_) return false;
    if (normalOn_ && normalFile_.empty()) return false;
    if (occlusionOn_ && occlusionFile_.empty()) return false;
    if (displacementOn_ && displacementFile_.empty()) return false;
    return true;
}

void BakeDialog::updateEnabling() {
    const bool bump = highUvw_ != nullptr;
    enable(IDC_BAKE_BUMP_CHOOSE, bump);
    enable(IDC_BAKE_BUMP_FILE, bump);
    enable(IDC_BAKE_BUMP_STRENGTH, bump);
    enable(IDC_BAKE_NORMAL_GROUP, normalOn_);
    enable(IDC_BAKE_OCCLUSION_GROUP, occlusionOn_);
    enable(IDC_BAKE_DISPLACEMENT_GROUP, displacementOn_);
    // The stop button stays usable for as long as a bake runs.
    enable(IDC_BAKE_START, bakePossible() || baking_);
    setString(IDC_BAKE_START, resourceString(baking_ ? BAKE_TEXT_STOP : BAKE_TEXT_BAKE));
    enable(IDC_BAKE_SETTINGS, !baking_);
}

void BakeDialog::updateMemoryEstimate() {
    setString(IDC_BAKE_MEMORY, bakeMemoryText(bakeMemoryBytes(width_, height_, occlusionOn_, displacementOn_)));
}

// ---------------------------------------------------------------------------------------------
// Dropping objects

int32_t BakeDialog::dropAreaAt(double y) {
    for (int32_t area : {IDC_BAKE_HIGH_DROP, IDC_BAKE_LOW_DROP}) {
        int32_t rect[4];
        if (gadgetRect(area, rect) && y > rect[1] && y < rect[1] + rect[3]) return area;
    }
    return 0;
}

bool BakeDialog::acceptsDrop(int32_t area, const HstSettings* msg, DropTarget& target) const {
    const HostApi* api = moduleApi();
    if (api->dragItemCount(msg) != 1) return false;
    int32_t kind = 0;
    void* item = api->dragItem(msg, 0, &kind);
    if (item == nullptr) return false;
    if (kind == HOST_DRAG_OBJECT) {
        HstObject* object = static_cast<HstObject*>(item);
        if (!isPolygonObject(object)) return false;
        target.object = object;
        if (area == IDC_BAKE_HIGH_DROP) return true;
        target.tag = api->objTagOfType(object, TAG_UVW, 0);
        return target.tag != nullptr;
    }
    if (kind == HOST_DRAG_TAG) {
        HstTag* tag = static_cast<HstTag*>(item);
        if (api->tagType(tag) != TAG_UVW) return false;
        HstObject* object = api->tagObject(tag);
        if (!isPolygonObject(object)) return false;
        target.object = object;
        target.tag = tag;
        return true;
    }
    return false;
}

void BakeDialog::takeDrop(int32_t area, const DropTarget& target) {
    if (area == IDC_BAKE_HIGH_DROP) {
        highObject_ = target.object;
        highUvw_ = target.tag;
        document_ = moduleApi()->activeDocument();
        setString(IDC_BAKE_HIGH_NAME, objectName(highObject_));
        setString(IDC_BAKE_HIGH_TAG, highUvw_ != nullptr ? tagNumberText(highUvw_) : HostString(""));
    } else {
        lowObject_ = target.object;
        lowUvw_ = target.tag;
        setString(IDC_BAKE_LOW_NAME, objectName(lowObject_));
        setString(IDC_BAKE_LOW_TAG, tagNumberText(lowUvw_));
    }
    updateEnabling();
}

int32_t BakeDialog::message(const HstSettings* msg, HstSettings* result) {
    const HostSettings view(msg);
    if (view.getInt(HOST_MSG_ID, 0) != HOST_MSGKIND_DRAG_RECEIVE) return HostDialog::message(msg, result);
    const int32_t area = dropAreaAt(view.getReal(HOST_MSG_MOUSE_Y, -1.0));
    if (area == 0) {
        setDragCursor(BAKE_CURSOR_NONE);
        return 1;
    }
    DropTarget target;
    const bool takes = acceptsDrop(area, msg, target);
    setDragCursor(takes ? BAKE_CURSOR_ACCEPTED : BAKE_CURSOR_REFUSED);
    if (takes && view.getBool(HOST_MSG_DRAG_FINISHED, false)) takeDrop(area, target);
    return 1;
}

// ---------------------------------------------------------------------------------------------
// File names

void BakeDialog::showFileNames() {
    setFilename(IDC_BAKE_NORMAL_FILE, normalFile_);
    setFilename(IDC_BAKE_OCCLUSION_FILE, occlusionFile_);
    setFilename(IDC_BAKE_DISPLACEMENT_FILE, displacementFile_);
}

void BakeDialog::setSuffixes() {
    const char* suffix = bakeFormatSuffix(format_);
    for (HostFilename* name : {&normalFile_, &occlusionFile_, &displacementFile_})
        if (!name->empty()) name->setSuffix(suffix);
    showFileNames();
}

void BakeDialog::readFileName(int32_t gadget, HostFilename& name) {
    getFilename(gadget, name);
    if (!name.empty()) name.setSuffix(bakeFormatSuffix(format_));
    setFilename(gadget, name);
}

void BakeDialog::chooseMapFile(int32_t gadget, HostFilename& name, const char* proposal) {
    const HostApi* api = moduleApi();
    const bool wasEmpty = name.empty();
    if (wasEmpty) {
        const HostFilename folder = HostFilename::adopt(api->docPath(api->activeDocument()));
        name = folder + proposal;
        name.setSuffix(bakeFormatSuffix(format_));
    }
    if (api->fileChoose(name.handle(), 1, "") != 0) {
        name.setSuffix(bakeFormatSuffix(format_));
        setFilename(gadget, name);
    } else if (wasEmpty) {
        name.assign("");
    }
}

void BakeDialog::chooseBumpFile() {
    if (moduleApi()->fileChoose(bumpFile_.handle(), 0, "") != 0) setFilename(IDC_BAKE_BUMP_FILE, bumpFile_);
}

// ---------------------------------------------------------------------------------------------
// Commands

int32_t BakeDialog::command(int32_t gadget, const HstSettings* /*msg*/) {
    switch (gadget) {
        case IDC_BAKE_BUMP_CHOOSE:
            chooseBumpFile();
            break;
        case IDC_BAKE_BUMP_FILE:
            getFilename(IDC_BAKE_BUMP_FILE, bumpFile_);
            break;
        case IDC_BAKE_BUMP_STRENGTH:
            getReal(IDC_BAKE_BUMP_STRENGTH, bumpStrength_);
            break;
        case IDC_BAKE_WIDTH:
            getInt(IDC_BAKE_WIDTH, width_);
            updateMemoryEstimate();
            break;
        case IDC_BAKE_HEIGHT:
            getInt(IDC_BAKE_HEIGHT, height_);
            updateMemoryEstimate();
            break;
        case IDC_BAKE_SUPERSAMPLING:
            getInt(IDC_BAKE_SUPERSAMPLING, supersampling_);
            updateMemoryEstimate();
            break;
        case IDC_BAKE_FORMAT:
            getInt(IDC_BAKE_FORMAT, format_);
            setSuffixes();
            // TIFF and PNG hold 8 or 16 bits, BMP and TGA 8, OpenEXR half (16) or float (32) channels.
            if (!bakeFormatHoldsBits(format_, bitDepth_)) {
                bitDepth_ = format_ == IDC_BAKE_FORMAT_EXR ? IDC_BAKE_BITS_32 : IDC_BAKE_BITS_8;
                setInt(IDC_BAKE_BITS, bitDepth_);
            }
            break;
        case IDC_BAKE_BITS:
            getInt(IDC_BAKE_BITS, bitDepth_);
            if (!bakeFormatHoldsBits(format_, bitDepth_)) {
                format_ = bitDepth_ == IDC_BAKE_BITS_32 || (bitDepth_ == IDC_BAKE_BITS_16 && format_ == IDC_BAKE_FORMAT_EXR)
                              ? IDC_BAKE_FORMAT_EXR
                              : IDC_BAKE_FORMAT_TIF;
                if (bitDepth_ == IDC_BAKE_BITS_8 && format_ == IDC_BAKE_FORMAT_EXR) format_ = IDC_BAKE_FORMAT_TIF;
                setInt(IDC_BAKE_FORMAT, format_);
                setSuffixes();
            }
            break;
        case IDC_BAKE_NORMAL_ON:
        case IDC_BAKE_OCCLUSION_ON:
        case IDC_BAKE_DISPLACEMENT_ON: {
            bool& on = gadget == IDC_BAKE_NORMAL_ON      ? normalOn_
                       : gadget == IDC_BAKE_OCCLUSION_ON ? occlusionOn_
                                                         : displacementOn_;
            getBool(gadget, on);
            updateEnabling();
            updateMemoryEstimate();
            break;
        }
        case IDC_BAKE_NORMAL_FILE:
            readFileName(gadget, normalFile_);
            updateEnabling();
            break;
        case IDC_BAKE_OCCLUSION_FILE:
            readFileName(gadget, occlusionFile_);
            updateEnabling();
            break;
        case IDC_BAKE_DISPLACEMENT_FILE:
            readFileName(gadget, displacementFile_);
            updateEnabling();
            break;
        case IDC_BAKE_NORMAL_CHOOSE:
            chooseMapFile(IDC_BAKE_NORMAL_FILE, normalFile_, "diffmap");
            updateEnabling();
            break;
        case IDC_BAKE_OCCLUSION_CHOOSE:
            chooseMapFile(IDC_BAKE_OCCLUSION_FILE, occlusionFile_, "gimap");
            updateEnabling();
            break;
        case IDC_BAKE_DISPLACEMENT_CHOOSE:
            chooseMapFile(IDC_BAKE_DISPLACEMENT_FILE, displacementFile_, "dispmap");
            updateEnabling();
            break;
        case IDC_BAKE_OCCLUSION_GRID:
            getInt(gadget, occlusionGrid_);
            break;
        case IDC_BAKE_OCCLUDERS:
            getInt(gadget, occluders_);
            break;
        case IDC_BAKE_OCCLUSION_EXPONENT:
            getReal(gadget, occlusionExponent_);
            break;
        case IDC_BAKE_HALF_SPACE:
            getInt(gadget, halfSpace_);
            break;
        case IDC_BAKE_NORMAL_Y:
            getInt(IDC_BAKE_NORMAL_Y, normalY_);
            // Anything but the two entries (a setting stored before the choice existed) is up.
            if (normalY_ != IDC_BAKE_NORMAL_Y_DOWN) normalY_ = IDC_BAKE_NORMAL_Y_UP;
            break;
        case IDC_BAKE_OCCLUSION_RANDOM:
            getBool(gadget, randomDirections_);
            break;
        case IDC_BAKE_START:
            startOrStop();
            updateEnabling();
            break;
        default:
            break;
    }
    return 1;
}

// ---------------------------------------------------------------------------------------------
// The bake

void BakeDialog::copySettings() {
    BakeSettings& s = thread_.settings;
    s.width = width_;
    s.height = height_;
    s.supersampling = supersampling_ - IDC_BAKE_SUPERSAMPLING;
    s.fileFormat = bakeFormatCode(format_);
    s.bitDepth = bitDepth_ == IDC_BAKE_BITS_8 ? 8 : bitDepth_ == IDC_BAKE_BITS_16 ? 16 : 32;
    if (s.fileFormat == BAKE_FORMAT_EXR && s.bitDepth == 16) s.fileFormat = BAKE_FORMAT_EXR_HALF;
    s.normalOn = normalOn_ ? 1 : 0;
    s.normalFile = normalFile_;
    s.normalYDown = normalY_ == IDC_BAKE_NORMAL_Y_DOWN ? 1 : 0;
    s.occlusionOn = occlusionOn_ ? 1 : 0;
    s.occlusionFile = occlusionFile_;
    s.randomDirections = randomDirections_ ? 1 : 0;
    s.occlusionExponent = static_cast<float>(occlusionExponent_);
    s.blockedHalfSpace = halfSpace_ - IDC_BAKE_HALF_SPACE_NONE;
    s.occluderMode = occluders_ - IDC_BAKE_OCCLUDERS_HIGH;
    s.occlusionGrid = occlusionGrid_ - IDC_BAKE_OCCLUSION_GRID;
    s.displacementOn = displacementOn_ ? 1 : 0;
    s.displacementFile = displacementFile_;
    s.highObject = highObject_;
    s.highUvw = highUvw_;
    s.bumpFile = bumpFile_;
    s.bumpStrength = static_cast<float>(bumpStrength_);
    s.lowObject = lowObject_;
    s.lowUvw = lowUvw_;
    s.document = document_;
}

void BakeDialog::startOrStop() {
    if (baking_) {
        // The end message follows and finishes the bake's state.
        thread_.end(true);
        return;
    }
    if (!bakePossible()) return;
    copySettings();
    thread_.settings.statusText.set("");
    thread_.settings.spinner.store(0);
    spinnerIndex_ = 0;
    setString(IDC_BAKE_STATUS, "");
    if (thread_.start())
        baking_ = true;
    else
        setString(IDC_BAKE_STATUS, resourceString(BAKE_TEXT_FAILED));
}

void BakeDialog::timer(const HstSettings* /*msg*/) {
    if (!thread_.isRunning()) return;
    HostString text = thread_.settings.statusText.text();
    if (thread_.settings.spinner.load() != 0) {
        const char spin[2] = {kSpinner[spinnerIndex_], 0};
        text += " ";
        text += spin;
        spinnerIndex_ = (spinnerIndex_ + 1) % kSpinnerSteps;
    }
    setString(IDC_BAKE_STATUS, text);
}

int32_t BakeDialog::coreMessage(int32_t id, const HstSettings* /*msg*/) {
    if (id != OMBRIN_ID) return 1;
    thread_.wait();
    baking_ = false;
    setString(IDC_BAKE_STATUS, thread_.settings.statusText.text());
    updateEnabling();
    return 1;
}

int32_t BakeDialog::askClose() {
    if (baking_ || thread_.isRunning()) thread_.end(true);
    baking_ = false;
    return 0;
}
