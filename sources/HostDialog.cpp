#include "sources/HostDialog.h"

#include "sources/Module.h"

HostDialog::~HostDialog() {
    const HostApi* api = moduleApi();
    if (api != nullptr && api->dlgForget != nullptr) api->dlgForget(this);
}

int32_t HostDialog::open(int32_t pluginId, int32_t x, int32_t y, int32_t w, int32_t h) {
    return moduleApi()->dlgOpen(this, pluginId, x, y, w, h);
}

int32_t HostDialog::restore(int32_t pluginId, int32_t subId, void* layoutData) {
    return moduleApi()->dlgRestore(this, pluginId, subId, layoutData);
}

void HostDialog::close() { moduleApi()->dlgClose(this); }

bool HostDialog::loadLayout(int32_t layoutId) { return moduleApi()->dlgLoadLayout(this, layoutId) != 0; }

bool HostDialog::attachUserArea(int32_t gadget, HostUserAreaBase* area) {
    return moduleApi()->dlgAttachUserArea(this, gadget, area) != 0;
}

bool HostDialog::setInt(int32_t gadget, int32_t v, int32_t min, int32_t max, int32_t step) {
    return moduleApi()->dlgSetInt(this, gadget, v, min, max, step) != 0;
}

bool HostDialog::setReal(int32_t gadget, double v, double min, double max, double step, int32_t format) {
    return moduleApi()->dlgSetReal(this, gadget, v, min, max, step, format) != 0;
}

bool HostDialog::setBool(int32_t gadget, bool v) { return moduleApi()->dlgSetBool(this, gadget, v ? 1 : 0) != 0; }

bool HostDialog::setString(int32_t gadget, const HostString& v) {
    return moduleApi()->dlgSetString(this, gadget, v.handle()) != 0;
}

bool HostDialog::setFilename(int32_t gadget, const HostFilename& v) {
    return moduleApi()->dlgSetFilename(this, gadget, v.handle()) != 0;
}

bool HostDialog::setColor(int32_t gadget, const double color[3], double brightness, double maxBrightness,
                          int32_t flags) {
    return moduleApi()->dlgSetColor(this, gadget, color, brightness, maxBrightness, flags) != 0;
}

bool HostDialog::enable(int32_t gadget, bool on) { return moduleApi()->dlgEnable(this, gadget, on ? 1 : 0) != 0; }

bool HostDialog::getInt(int32_t gadget, int32_t& out) {
    int32_t v = 0;
    if (moduleApi()->dlgGetInt(this, gadget, &v) == 0) return false;
    out = v;
    return true;
}

bool HostDialog::getReal(int32_t gadget, double& out) {
    double v = 0.0;
    if (moduleApi()->dlgGetReal(this, gadget, &v) == 0) return false;
    out = v;
    return true;
}

bool HostDialog::getBool(int32_t gadget, bool& out) {
    int32_t v = 0;
    if (moduleApi()->dlgGetBool(this, gadget, &v) == 0) return false;
    out = v != 0;
    return true;
}

bool HostDialog::getString(int32_t gadget, HostString& out) {
    return moduleApi()->dlgGetString(this, gadget, out.handle()) != 0;
}

bool HostDialog::getFilename(int32_t gadget, HostFilename& out) {
    return moduleApi()->dlgGetFilename(this, gadget, out.handle()) != 0;
}

bool HostDialog::getColor(int32_t gadget, double color[3], double& brightness) {
    double c[3] = {0.0, 0.0, 0.0};
    double b = 0.0;
    if (moduleApi()->dlgGetColor(this, gadget, c, &b) == 0) return false;
    color[0] = c[0];
    color[1] = c[1];
    color[2] = c[2];
    brightness = b;
    return true;
}

void HostDialog::setTimer(int32_t periodMs) { moduleApi()->dlgSetTimer(this, periodMs); }

bool HostDialog::gadgetRect(int32_t gadget, int32_t out[4]) { return moduleApi()->dlgGadgetRect(this, gadget, out) != 0; }

void HostDialog::setDragCursor(int32_t cursor) { moduleApi()->dlgSetDragCursor(this, cursor); }
