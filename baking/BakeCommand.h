// The baking command: opens its dialog, which lives as long as the command. Its state is the
// host's default (always enabled).
#pragma once

#include <cstdint>

#include "baking/BakeDialog.h"
#include "sources/HostCommand.h"

class BakeCommand : public HostCommand {
public:
    // Opens the dialog non-modally under OMBRIN_ID at the host's default place and size.
    int32_t execute(HstDocument* doc) override;
    int32_t restoreLayout(void* layoutData) override;

    // The command's dialog, opened by execute.
    BakeDialog dialog;
};
