#include "baking/BakeDialog.h"

int32_t BakeDialog::createLayout() { return loadLayout(DLG_BAKE) ? 1 : 0; }
