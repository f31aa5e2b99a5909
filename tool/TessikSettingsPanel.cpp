#include "tool/TessikSettingsPanel.h"

#include <cmath>

#include "sources/HostSettings.h"
#include "tool/TessikSettings.h"

namespace {

constexpr int32_t kIntLimit = 2147483647;
constexpr double kRealLimit = 9.0e18;
constexpr double kMaxBrightness = 1.0;
constexpr int32_t kColourFlags = 3;

// The value rounded up to two significant digits, as a person would type it.
double roundedUp(double v) {
    const double unit = std::pow(10.0, std::floor(std::log10(v)) - 1);
    return std::ceil(v / unit) * unit;
}

}  // namespace

TessikSettingsPanel::TessikSettingsPanel(HstSettings* container) : settings(container) {
    HostSettings s(settings);
    if (!s.valid() || s.has(TESSIK_WEIGHTING)) return;
    s.setInt(TESSIK_WEIGHTING, TESSIK_DEFAULT_WEIGHTING);
    s.setInt(TESSIK_MAX_NEIGHBOURS, TESSIK_DEFAULT_MAX_NEIGHBOURS);
    s.setBool(TESSIK_CHECK_FOLDS, TESSIK_DEFAULT_CHECK_FOLDS);
    s.setReal(TESSIK_BOUNDARY_WEIGHT, TESSIK_DEFAULT_BOUNDARY_WEIGHT);
    s.setReal(TESSIK_MAX_ERROR, TESSIK_DEFAULT_MAX_ERROR);
    const double red[3] = {1.0, 0.0, 0.0};
    s.setVector(TESSIK_COLOR, red);
    s.setReal(TESSIK_BRIGHTNESS, TESSIK_DEFAULT_BRIGHTNESS);
}

int32_t TessikSettingsPanel::createLayout() { return loadLayout(DLG_TESSIK) ? 1 : 0; }

int32_t TessikSettingsPanel::initDialogValues() {
    const HostSettings s(settings);
    setInt(IDC_TESSIK_WEIGHTING, s.getInt(TESSIK_WEIGHTING, 0), -kIntLimit, kIntLimit, 1);
    setInt(IDC_TESSIK_MAX_NEIGHBOURS, s.getInt(TESSIK_MAX_NEIGHBOURS, 0), TESSIK_MIN_NEIGHBOURS, kIntLimit, 1);
    setBool(IDC_TESSIK_CHECK_FOLDS, s.getBool(TESSIK_CHECK_FOLDS, false));
    setReal(IDC_TESSIK_BOUNDARY_WEIGHT, s.getReal(TESSIK_BOUNDARY_WEIGHT, 0.0), 0.0, kRealLimit, 1.0, HOST_FORMAT_REAL);
    setReal(IDC_TESSIK_MAX_ERROR, s.getReal(TESSIK_MAX_ERROR, 0.0), 0.0, kRealLimit, 1.0, HOST_FORMAT_REAL);
    const double black[3] = {0.0, 0.0, 0.0};
    double colour[3];
    s.getVector(TESSIK_COLOR, black, colour);
    setColor(IDC_TESSIK_COLOR, colour, s.getReal(TESSIK_BRIGHTNESS, 0.0), kMaxBrightness, kColourFlags);
    showRaise();
    return 1;
}

void TessikSettingsPanel::showRaise() {
    enable(IDC_TESSIK_RAISE_LIMIT, HostSettings(settings).getReal(TESSIK_LEAST_REFUSED, 0.0) > 0.0);
}

int32_t TessikSettingsPanel::coreMessage(int32_t id, const HstSettings* msg) {
    if (id == TESSIK_ID) showRaise();
    return HostDialog::coreMessage(id, msg);
}

int32_t TessikSettingsPanel::command(int32_t gadget, const HstSettings* /*msg*/) {
    HostSettings s(settings);
    int32_t i = 0;
    double r = 0.0;
    bool b = false;
    switch (gadget) {
        case IDC_TESSIK_WEIGHTING:
            if (getInt(gadget, i)) s.setInt(TESSIK_WEIGHTING, i);
            break;
        case IDC_TESSIK_MAX_NEIGHBOURS:
            if (getInt(gadget, i)) s.setInt(TESSIK_MAX_NEIGHBOURS, i);
            break;
        case IDC_TESSIK_CHECK_FOLDS:
            if (getBool(gadget, b)) s.setBool(TESSIK_CHECK_FOLDS, b);
            break;
        case IDC_TESSIK_BOUNDARY_WEIGHT:
            if (getReal(gadget, r)) s.setReal(TESSIK_BOUNDARY_WEIGHT, r);
            break;
        case IDC_TESSIK_MAX_ERROR:
            if (getReal(gadget, r)) s.setReal(TESSIK_MAX_ERROR, r);
            break;
        case IDC_TESSIK_RAISE_LIMIT: {
            const double least = s.getReal(TESSIK_LEAST_REFUSED, 0.0);
            if (least <= 0.0) break;
            const double raised = roundedUp(least * TESSIK_RAISE_FACTOR);
            s.setReal(TESSIK_MAX_ERROR, raised < kRealLimit ? raised : kRealLimit);
            s.setReal(TESSIK_LEAST_REFUSED, 0.0);
            initDialogValues();
            break;
        }
        case IDC_TESSIK_COLOR: {
            double colour[3];
            double brightness = 0.0;
            if (getColor(gadget, colour, brightness)) {
                s.setVector(TESSIK_COLOR, colour);
                s.setReal(TESSIK_BRIGHTNESS, brightness);
            }
            break;
        }
        default: break;
    }
    return 1;
}
