// The reduction command's non-modal dialog (layout DLG_VEXLOR). It shows the reduction settings,
// collects the selected objects whenever it opens or a setting changes, and offers both ways of
// working: start reduces directly; prepare records a full reduction, after which the target field,
// the error field and the error slider move every object along its history at once and start
// commits the level shown. While a pass runs only the start button (then a stop button) is usable.
// During a preview, "finish level" shows the current level finished (quads rebuilt, cleaned up) so
// that it can be looked at or saved; the next move of the target carries on from the history.
#pragma once

#include <cstdint>

#include "reduction/ReglerArea.h"
#include "reduction/VexlorThread.h"
#include "sources/HostDialog.h"

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

// Resource strings of the dialog.
enum : int32_t {
    STR_VEXLOR_INFO = 10116,
    STR_VEXLOR_FINISH_LEVEL = 10119,
    STR_VEXLOR_PREPARE = 10120,
    STR_VEXLOR_PREPARED = 10121,
    STR_VEXLOR_START = 10122,
    STR_VEXLOR_STOP = 10123,
};

class VexlorDialog : public HostDialog {
public:
    VexlorDialog() = default;
    // Takes the slider images from another module folder.
    explicit VexlorDialog(const char* moduleFolder) : slider(moduleFolder) {}
    ~VexlorDialog() override = default;  // the slider goes first, then the thread

    // Loads DLG_VEXLOR and attaches the slider; false when the layout is missing.
    int32_t createLayout() override;
    int32_t initValues() override;
    int32_t coreMessage(int32_t id, const HstSettings* msg) override;
    int32_t command(int32_t gadget, const HstSettings* msg) override;
    int32_t askClose() override;
    void destroyWindow() override {}

    bool isClosing() const { return closing != 0; }
    // True from the start of a pass until its end event has been handled.
    bool passPending() const;

    VexlorThread thread;
    ReglerArea slider;

private:
    void recollect();
    void showButtons();
    void showTarget();
    void showError();
    void settingsChanged();
    void follow(bool dragging);
    // The target field after the error changed: the level reached, in the field's unit.
    void updateTarget(int32_t minCount, int32_t maxCount);
    void startPass(bool prepare);
    void setRealField(int32_t gadget, double value);
    void redrawViews(int32_t flags);

    int32_t closing = 0;       // set by ask close; end events are then ignored
    int32_t awaitingEnd = 0;   // a pass was started and its end event has not come yet
};
