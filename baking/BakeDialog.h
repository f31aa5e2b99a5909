// BakeDialog: the baking command's non-modal dialog (layout 10023). The user drops the
// high-resolution object (or its UVW tag) and the low-resolution object (or its UVW tag) on the two
// drop areas, chooses the maps, their files and the options, and starts or stops the bake. The bake
// runs on the dialog's BakeThread; a one-second timer shows its status text with a spinner, and the
// thread's message OMBRIN_ID tells the dialog that it has ended.
#pragma once

#include <cstdint>

#include "baking/BakeThread.h"
#include "baking/IconButtonArea.h"
#include "sources/HostBitmap.h"
#include "sources/HostDialog.h"
#include "sources/HostFilename.h"
#include "sources/HostString.h"
#include "sources/ResourceIds.h"

// Bytes that a bake of width x height needs: per texel, in each of its two layer sets, 16 bytes of
// normal and count and 4 more each for occlusion and displacement; and 3 bytes of image.
int64_t bakeMemoryBytes(int32_t width, int32_t height, bool occlusion, bool displacement);
// The estimate as the dialog shows it: one decimal and a unit ("12.7 MB"). Each step to the next
// unit scales by 0.001 and rounds up by 0.1, so the text never understates the need.
HostString bakeMemoryText(int64_t bytes);

// Host image format code and file suffix of a format choice.
int32_t bakeFormatCode(int32_t formatChoice);
// Whether a format choice can hold a bit-depth choice: TIFF and PNG 8 or 16 bits, BMP and TGA 8,
// OpenEXR 16 (half) or 32 (float).
bool bakeFormatHoldsBits(int32_t formatChoice, int32_t bitsChoice);
const char* bakeFormatSuffix(int32_t formatChoice);

class BakeDialog : public HostDialog {
public:
    BakeDialog() = default;
    // The thread (a member) stops and is waited for before the areas and the picture go.
    ~BakeDialog() override = default;

    // Loads DLG_BAKE, loads "pic.tif" once and attaches the four icon areas; 0 when the layout or
    // an area cannot be had.
    int32_t createLayout() override;
    // Forgets the dropped objects, fills every gadget from the dialog's settings, starts the timer.
    int32_t initValues() override;
    // OMBRIN_ID: the bake has ended; shows its final status.
    int32_t coreMessage(int32_t id, const HstSettings* msg) override;
    int32_t command(int32_t gadget, const HstSettings* msg) override;
    // Stops a running bake and waits for it; closing is always allowed.
    int32_t askClose() override;
    // While a bake runs: the status text, with the spinner when the bake asks for it.
    void timer(const HstSettings* msg) override;
    // Drops on the two drop areas; other messages get the host's default handling.
    int32_t message(const HstSettings* msg, HstSettings* result) override;

    // True from the start of a bake until its end message has been handled.
    bool baking() const { return baking_; }
    // True when the dropped objects and the maps and files asked for allow a bake.
    bool bakePossible() const;
    BakeThread& thread() { return thread_; }

    HstObject* highObject() const { return highObject_; }
    HstTag* highUvw() const { return highUvw_; }
    HstObject* lowObject() const { return lowObject_; }
    HstTag* lowUvw() const { return lowUvw_; }

private:
    // What a drop would set.
    struct DropTarget {
        HstObject* object = nullptr;
        HstTag* tag = nullptr;
    };

    void updateEnabling();
    void updateMemoryEstimate();
    // The drop area whose rows hold the pointer's height, or 0.
    int32_t dropAreaAt(double y);
    bool acceptsDrop(int32_t area, const HstSettings* msg, DropTarget& target) const;
    void takeDrop(int32_t area, const DropTarget& target);
    void showFileNames();
    void setSuffixes();
    void readFileName(int32_t gadget, HostFilename& name);
    void chooseMapFile(int32_t gadget, HostFilename& name, const char* proposal);
    void chooseBumpFile();
    void startOrStop();
    void copySettings();

    IconButtonArea areas_[4];
    HostBitmap picture_;
    bool pictureLoaded_ = false;

    HstObject* highObject_ = nullptr;
    HstObject* lowObject_ = nullptr;
    HstTag* highUvw_ = nullptr;
    HstTag* lowUvw_ = nullptr;
    HstDocument* document_ = nullptr;

    // The settings as the gadgets show them (choices as their ids).
    HostFilename bumpFile_;
    double bumpStrength_ = 1.0;
    int32_t width_ = 600;
    int32_t height_ = 600;
    int32_t supersampling_ = IDC_BAKE_SUPERSAMPLING + 2;
    int32_t format_ = IDC_BAKE_FORMAT_TIF;
    int32_t bitDepth_ = IDC_BAKE_BITS_8;
    bool normalOn_ = true;
    HostFilename normalFile_;
    int32_t normalY_ = IDC_BAKE_NORMAL_Y_UP;
    bool occlusionOn_ = false;
    int32_t occlusionGrid_ = IDC_BAKE_OCCLUSION_GRID + 3;
    bool randomDirections_ = true;
    int32_t occluders_ = IDC_BAKE_OCCLUDERS_HIGH;
    double occlusionExponent_ = 1.0;
    int32_t halfSpace_ = IDC_BAKE_HALF_SPACE_NONE;
    HostFilename occlusionFile_;
    bool displacementOn_ = false;
    HostFilename displacementFile_;

    // Index of the spinner character shown next.
    int32_t spinnerIndex_ = 0;
    bool baking_ = false;

    // Last member: destroyed first, so that a running bake stops before anything it reads goes.
    BakeThread thread_;
};
