// The reduction command: opens its dialog, which lives as long as the command.
#pragma once

#include <cstdint>

#include "reduction/VexlorDialog.h"
#include "sources/HostCommand.h"

class VexlorCommand : public HostCommand {
public:
    // Opens the dialog non-modally under VEXLOR_ID at the host's default place and size.
    int32_t execute(HstDocument* doc) override;
    // Enabled while the document has an active object.
    int32_t state(HstDocument* doc) override;
    int32_t restoreLayout(void* layoutData) override;

    // The command's dialog, opened by execute.
    VexlorDialog dialog;
};
