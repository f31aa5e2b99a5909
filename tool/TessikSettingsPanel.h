// The brush's settings panel: the sub-dialog the host shows in its tool settings area while the brush
// is the active tool. Every gadget change goes straight into the tool's settings container; the next
// press of the tool reads it (a drag under way keeps what it read at its press).
#pragma once

#include <cstdint>

#include "sources/HostDialog.h"
#include "sources/HostInterface.h"

class TessikSettingsPanel : public HostDialog {
public:
    // Writes every setting's default into `settings` when it does not hold the weighting key yet; a
    // container that holds it is left as it is. The container is the host's.
    explicit TessikSettingsPanel(HstSettings* settings);

    int32_t createLayout() override;
    // The host's request at this slot runs the panel's init values.
    int32_t initValues() override { return initDialogValues(); }
    // Copies the changed gadget's value into its key; other gadgets do nothing. Returns 1.
    int32_t command(int32_t gadget, const HstSettings* msg) override;
    // Sets every gadget from the container with its limits; a missing key shows zero. Returns 1.
    int32_t initDialogValues() override;
    // After a drag (the brush's own event), the raise button follows what the drag left.
    int32_t coreMessage(int32_t id, const HstSettings* msg) override;

    HstSettings* settings = nullptr;  // not owned

    static constexpr const char* sourceTag = "TessikSettingsPanel";

private:
    // The raise button, enabled while the last drag left a least refused error.
    void showRaise();
};
