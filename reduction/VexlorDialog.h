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
#include "sources/ResourceIds.h"

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
