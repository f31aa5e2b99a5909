#include "reduction/VexlorCommand.h"

#include "sources/Module.h"
#include "sources/HostContract.h"

int32_t VexlorCommand::execute(HstDocument* /*doc*/) { return dialog.open(VEXLOR_ID, -1, -1, 0, 0); }

int32_t VexlorCommand::state(HstDocument* doc) {
    if (doc == nullptr) return 0;
    return moduleApi()->docActiveObject(doc) != nullptr ? HOST_CMD_ENABLED : 0;
}

int32_t VexlorCommand::restoreLayout(void* layoutData) { return dialog.restore(VEXLOR_ID, 0, layoutData); }
