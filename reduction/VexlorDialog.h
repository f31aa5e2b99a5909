// The reduction command's non-modal dialog (layout DLG_VEXLOR).
#pragma once

#include <cstdint>

#include "sources/HostDialog.h"

constexpr int32_t DLG_VEXLOR = 10001;

class VexlorDialog : public HostDialog {
public:
    VexlorDialog() = default;
    ~VexlorDialog() override = default;

    // Loads DLG_VEXLOR; false when the layout is missing.
    int32_t createLayout() override;
    int32_t initValues() override;

    bool isClosing() const { return closing != 0; }

private:
    int32_t closing = 0;  // set by ask close; end events are then ignored
};
