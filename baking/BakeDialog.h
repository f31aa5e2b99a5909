// The baking command's non-modal dialog (layout 10023).
#pragma once

#include <cstdint>

#include "sources/HostDialog.h"

constexpr int32_t DLG_BAKE = 10023;

class BakeDialog : public HostDialog {
public:
    BakeDialog() = default;
    ~BakeDialog() override = default;

    // Loads DLG_BAKE; false when the layout is missing.
    int32_t createLayout() override;
};
