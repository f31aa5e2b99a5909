#include "baking/BakeCommand.h"

#include "sources/HostContract.h"

int32_t BakeCommand::execute(HstDocument* /*doc*/) { return dialog.open(OMBRIN_ID, -1, -1, 0, 0); }

int32_t BakeCommand::restoreLayout(void* layoutData) { return dialog.restore(OMBRIN_ID, 0, layoutData); }
