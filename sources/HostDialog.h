// Base of the module's dialogs: the host dialog interface plus helpers that call the host for this
// dialog's gadgets. The host identifies a dialog by its object, so every helper passes `this`.
#pragma once

#include <cstdint>

#include "sources/HostFilename.h"
#include "sources/HostInterface.h"
#include "sources/HostString.h"

class HostUserAreaBase;

class HostDialog : public HostDialogBase {
public:
    HostDialog() = default;
    HostDialog(const HostDialog&) = delete;
    HostDialog& operator=(const HostDialog&) = delete;
    // Tells the host to forget this dialog (it may still be listed as open).
    ~HostDialog() override;

    // Opens the dialog non-modally under a plug-in id; (-1, -1) and (0, 0) ask for the host's defaults.
    // Both answer the host's result (non-zero on success).
    int32_t open(int32_t pluginId, int32_t x = -1, int32_t y = -1, int32_t w = 0, int32_t h = 0);
    int32_t restore(int32_t pluginId, int32_t subId, void* layoutData);
    void close();

    bool loadLayout(int32_t layoutId);
    bool attachUserArea(int32_t gadget, HostUserAreaBase* area);

    bool setInt(int32_t gadget, int32_t v, int32_t min = -2147483647 - 1, int32_t max = 2147483647, int32_t step = 1);
    bool setReal(int32_t gadget, double v, double min, double max, double step, int32_t format = HOST_FORMAT_DEFAULT);
    bool setPercent(int32_t gadget, double v, double min, double max, double step) {
        return setReal(gadget, v, min, max, step, HOST_FORMAT_PERCENT);
    }
    bool setBool(int32_t gadget, bool v);
    bool setString(int32_t gadget, const HostString& v);
    bool setString(int32_t gadget, const char* v) { return setString(gadget, HostString(v)); }
    bool setFilename(int32_t gadget, const HostFilename& v);
    bool setColor(int32_t gadget, const double color[3], double brightness = 1.0, double maxBrightness = 1.0,
                  int32_t flags = 0);
    bool enable(int32_t gadget, bool on);

    // Getters report whether the gadget exists; `out` is left alone when it does not.
    bool getInt(int32_t gadget, int32_t& out);
    bool getReal(int32_t gadget, double& out);
    bool getBool(int32_t gadget, bool& out);
    bool getString(int32_t gadget, HostString& out);
    bool getFilename(int32_t gadget, HostFilename& out);
    bool getColor(int32_t gadget, double color[3], double& brightness);

    void setTimer(int32_t periodMs);
    // x, y, width, height of a gadget; false when there is no such gadget.
    bool gadgetRect(int32_t gadget, int32_t out[4]);
    void setDragCursor(int32_t cursor);
};
