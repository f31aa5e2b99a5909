// The dialog, drag-and-drop, file chooser, user-area and mouse-drag entries of the host table:
// each adapts the C interface (opaque handles, out parameters, int results) to the DialogHost.
#include "host/Dialogs.h"
#include "host/HostHandles.h"
#include "host/HostServices.h"
#include "host/HostTable.h"

namespace host {

namespace {

DialogHost& dialogs() { return hostServices().dialogs; }

int32_t dlgOpen(HostDialogBase* d, int32_t pluginId, int32_t /*x*/, int32_t /*y*/, int32_t /*w*/, int32_t /*h*/) {
    return dialogs().open(d, pluginId) ? 1 : 0;
}
int32_t dlgRestore(HostDialogBase* d, int32_t pluginId, int32_t /*subId*/, void* /*layoutData*/) {
    return dialogs().open(d, pluginId) ? 1 : 0;
}
void dlgClose(HostDialogBase* d) { dialogs().closeByModule(d); }
void dlgForget(HostDialogBase* d) { dialogs().forget(d); }
int32_t dlgLoadLayout(HostDialogBase* d, int32_t layoutId) { return dialogs().loadLayout(d, layoutId) ? 1 : 0; }
int32_t dlgAttachUserArea(HostDialogBase* d, int32_t gadget, HostUserAreaBase* area) {
    return dialogs().attachUserArea(d, gadget, area) ? 1 : 0;
}

int32_t dlgSetInt(HostDialogBase* d, int32_t gadget, int32_t v, int32_t min, int32_t max, int32_t step) {
    return dialogs().setInt(d, gadget, v, min, max, step) ? 1 : 0;
}
int32_t dlgSetReal(HostDialogBase* d, int32_t gadget, double v, double min, double max, double step, int32_t format) {
    return dialogs().setReal(d, gadget, v, min, max, step, format) ? 1 : 0;
}
int32_t dlgSetBool(HostDialogBase* d, int32_t gadget, int32_t v) {
    return dialogs().setBool(d, gadget, v != 0) ? 1 : 0;
}
int32_t dlgSetString(HostDialogBase* d, int32_t gadget, const HstString* v) {
    return v && dialogs().setString(d, gadget, asString(v)) ? 1 : 0;
}
int32_t dlgSetFilename(HostDialogBase* d, int32_t gadget, const HstFilename* v) {
    return v && dialogs().setFilename(d, gadget, asFilename(v)) ? 1 : 0;
}
int32_t dlgSetColor(HostDialogBase* d, int32_t gadget, const double color[3], double brightness, double maxBrightness,
                    int32_t flags) {
    if (!color) return 0;
    Colour c{{color[0], color[1], color[2]}, brightness};
    return dialogs().setColour(d, gadget, c, maxBrightness, flags) ? 1 : 0;
}

int32_t dlgGetInt(HostDialogBase* d, int32_t gadget, int32_t* out) {
    int32_t v = 0;
    if (!out || !dialogs().getInt(d, gadget, v)) return 0;
    *out = v;
    return 1;
}
int32_t dlgGetReal(HostDialogBase* d, int32_t gadget, double* out) {
    double v = 0;
    if (!out || !dialogs().getReal(d, gadget, v)) return 0;
    *out = v;
    return 1;
}
int32_t dlgGetBool(HostDialogBase* d, int32_t gadget, int32_t* out) {
    bool v = false;
    if (!out || !dialogs().getBool(d, gadget, v)) return 0;
    *out = v ? 1 : 0;
    return 1;
}
int32_t dlgGetString(HostDialogBase* d, int32_t gadget, HstString* out) {
    std::string v;
    if (!out || !dialogs().getString(d, gadget, v)) return 0;
    asString(out) = std::move(v);
    return 1;
}
int32_t dlgGetFilename(HostDialogBase* d, int32_t gadget, HstFilename* out) {
    std::string v;
    if (!out || !dialogs().getFilename(d, gadget, v)) return 0;
    asFilename(out) = std::move(v);
    return 1;
}
int32_t dlgGetColor(HostDialogBase* d, int32_t gadget, double color[3], double* brightness) {
    Colour c;
    if (!color || !dialogs().getColour(d, gadget, c)) return 0;
    color[0] = c.rgb.x;
    color[1] = c.rgb.y;
    color[2] = c.rgb.z;
    if (brightness) *brightness = c.brightness;
    return 1;
}

int32_t dlgEnable(HostDialogBase* d, int32_t gadget, int32_t on) {
    return dialogs().enable(d, gadget, on != 0) ? 1 : 0;
}
void dlgSetTimer(HostDialogBase* d, int32_t periodMs) { dialogs().setTimer(d, periodMs); }
int32_t dlgGadgetRect(HostDialogBase* d, int32_t gadget, int32_t out[4]) {
    Rect r;
    if (!out || !dialogs().gadgetRect(d, gadget, r)) return 0;
    out[0] = r.x;
    out[1] = r.y;
    out[2] = r.w;
    out[3] = r.h;
    return 1;
}
void dlgSetDragCursor(HostDialogBase* d, int32_t cursor) { dialogs().setDragCursor(d, cursor); }

int32_t dragItemCount(const HstSettings* msg) { return msg ? DialogHost::dragItemCount(asSettings(msg)) : 0; }
void* dragItem(const HstSettings* msg, int32_t i, int32_t* kind) {
    if (!msg) {
        if (kind) *kind = 0;
        return nullptr;
    }
    return DialogHost::dragItem(asSettings(msg), i, kind);
}

int32_t fileChoose(HstFilename* f, int32_t forSave, const char* title) {
    if (!f) return 0;
    std::string path = asFilename(f);
    if (!dialogs().chooseFile(path, forSave != 0, title ? title : "")) return 0;
    asFilename(f) = std::move(path);
    return 1;
}

void uaRedraw(HostUserAreaBase* a) { dialogs().areaRedraw(a); }
void uaSize(HostUserAreaBase* a, int32_t* w, int32_t* h) {
    int32_t aw = 0, ah = 0;
    dialogs().areaSize(a, aw, ah);
    if (w) *w = aw;
    if (h) *h = ah;
}
void uaBorderSize(HostUserAreaBase* /*a*/, int32_t style, int32_t out[4]) {
    if (!out) return;
    const int32_t b = DialogHost::borderWidth(style);
    out[0] = out[1] = out[2] = out[3] = b;
}
void uaDrawBorder(HostUserAreaBase* a, int32_t style) { dialogs().areaDrawBorder(a, style); }
void uaClear(HostUserAreaBase* a, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    dialogs().areaClear(a, x1, y1, x2, y2);
}
void uaSetPen(HostUserAreaBase* a, double r, double g, double b) { dialogs().areaSetPen(a, r, g, b); }
void uaDrawLine(HostUserAreaBase* a, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    dialogs().areaDrawLine(a, x1, y1, x2, y2);
}
void uaDrawBitmap(HostUserAreaBase* a, HstBitmap* b, int32_t sx, int32_t sy, int32_t sw, int32_t sh, int32_t dx,
                  int32_t dy, int32_t dw, int32_t dh, int32_t mode) {
    if (b) dialogs().areaDrawBitmap(a, asBitmap(b), sx, sy, sw, sh, dx, dy, dw, dh, mode);
}
void uaNotify(HostUserAreaBase* a, int32_t dragging) { dialogs().areaNotify(a, dragging != 0); }

int32_t mouseDragStart(int32_t button, double x, double y, int32_t flags) {
    return dialogs().mouseDragStart(button, x, y, flags) ? 1 : 0;
}
int32_t mouseDrag(double* dx, double* dy, HstSettings* channels) {
    return dialogs().mouseDrag(dx, dy, channels ? &asSettings(channels) : nullptr);
}
int32_t mouseDragEnd() { return dialogs().mouseDragEnd() ? 1 : 0; }

}  // namespace

void fillDialogApi(HostApi& api) {
    api.dlgOpen = dlgOpen;
    api.dlgRestore = dlgRestore;
    api.dlgClose = dlgClose;
    api.dlgForget = dlgForget;
    api.dlgLoadLayout = dlgLoadLayout;
    api.dlgAttachUserArea = dlgAttachUserArea;
    api.dlgSetInt = dlgSetInt;
    api.dlgSetReal = dlgSetReal;
    api.dlgSetBool = dlgSetBool;
    api.dlgSetString = dlgSetString;
    api.dlgSetFilename = dlgSetFilename;
    api.dlgSetColor = dlgSetColor;
    api.dlgGetInt = dlgGetInt;
    api.dlgGetReal = dlgGetReal;
    api.dlgGetBool = dlgGetBool;
    api.dlgGetString = dlgGetString;
    api.dlgGetFilename = dlgGetFilename;
    api.dlgGetColor = dlgGetColor;
    api.dlgEnable = dlgEnable;
    api.dlgSetTimer = dlgSetTimer;
    api.dlgGadgetRect = dlgGadgetRect;
    api.dlgSetDragCursor = dlgSetDragCursor;
    api.dragItemCount = dragItemCount;
    api.dragItem = dragItem;
    api.fileChoose = fileChoose;
    api.uaRedraw = uaRedraw;
    api.uaSize = uaSize;
    api.uaBorderSize = uaBorderSize;
    api.uaDrawBorder = uaDrawBorder;
    api.uaClear = uaClear;
    api.uaSetPen = uaSetPen;
    api.uaDrawLine = uaDrawLine;
    api.uaDrawBitmap = uaDrawBitmap;
    api.uaNotify = uaNotify;
    api.mouseDragStart = mouseDragStart;
    api.mouseDrag = mouseDrag;
    api.mouseDragEnd = mouseDragEnd;
}

}  // namespace host
