#include "reduction/VexlorDialog.h"

int32_t VexlorDialog::createLayout() { return loadLayout(DLG_VEXLOR) ? 1 : 0; }

int32_t VexlorDialog::initValues() {
    closing = 0;
    return 1;
}
