#include "reduction/VexlorDialog.h"

#include "sources/HostSettings.h"
#include "sources/Module.h"
#include "sources/HostContract.h"
#include "sources/ResourceHolder.h"

namespace {

// View redraw flags: after a change of the objects, while the slider is dragged, after it moved.
constexpr int32_t kRedrawChanged = 2;
constexpr int32_t kRedrawDragging = 1026;
constexpr int32_t kRedrawMoved = 6;
// Limits of the dialog's real fields.
constexpr double kRealMax = 9.0e18;
constexpr int32_t kIntMax = 2147483647;

// Weighting policies by radio value, and back.
struct Weighting {
    int32_t radio;
    int32_t policy;
};
constexpr Weighting kWeightings[] = {{IDC_VEXLOR_WEIGHT_AREA, WEIGHTING_AREA},
                                     {IDC_VEXLOR_WEIGHT_AVERAGE, WEIGHTING_AVERAGE},
                                     {IDC_VEXLOR_WEIGHT_ANGLE, WEIGHTING_ANGLE},
                                     {IDC_VEXLOR_WEIGHT_AREA_AVERAGE, WEIGHTING_AREA_AVERAGE}};

}  // namespace

int32_t VexlorDialog::createLayout() {
    if (!loadLayout(DLG_VEXLOR)) return 0;
    attachUserArea(IDC_VEXLOR_REGLER, &slider);
    return 1;
}

int32_t VexlorDialog::initValues() {
    closing = 0;
    awaitingEnd = 0;
    recollect();
    const ReductionSettings& s = thread.settings;
    for (const Weighting& w : kWeightings)
        if (w.policy == s.weightingPolicy) setInt(IDC_VEXLOR_WEIGHTING, w.radio);
    setRealField(IDC_VEXLOR_ERROR, s.errorLimit);
    slider.setValue(s.errorLimit);
    setBool(IDC_VEXLOR_HIERARCHY, s.wholeHierarchy != 0);
    setBool(IDC_VEXLOR_CHECKS, s.useChecks != 0);
    setRealField(IDC_VEXLOR_BOUNDARY_WEIGHT, s.boundaryWeight);
    setRealField(IDC_VEXLOR_COMPACTNESS, s.compactnessPenalty);
    setRealField(IDC_VEXLOR_FLIP, s.flipPenalty);
    setInt(IDC_VEXLOR_VALENCE, static_cast<int32_t>(s.valencePenalty), 0, kIntMax, 1);
    enable(IDC_VEXLOR_COMPACTNESS, s.useChecks != 0);
    enable(IDC_VEXLOR_FLIP, s.useChecks != 0);
    enable(IDC_VEXLOR_VALENCE, s.useChecks != 0);
    setString(IDC_VEXLOR_INFO, resourceString(STR_VEXLOR_INFO));
    showButtons();
    showTarget();
    return 1;
}

bool VexlorDialog::passPending() const {
    return awaitingEnd != 0 || thread.settings.requestedPass != PASS_NONE;
}

int32_t VexlorDialog::coreMessage(int32_t id, const HstSettings* msg) {
    if (id == VEXLOR_ID && closing == 0) {
        // The end event is the worker's last act; let it finish before the items are touched.
        thread.wait();
        awaitingEnd = 0;
        if (thread.settings.completedPass == PASS_PREPARE)
            follow(false);
        else if (thread.settings.completedPass == PASS_DIRECT || thread.broken != 0)
            recollect();
        showButtons();
        showTarget();
        redrawViews(kRedrawChanged);
    }
    return HostDialog::coreMessage(id, msg);
}

int32_t VexlorDialog::command(int32_t gadget, const HstSettings* msg) {
    ReductionSettings& s = thread.settings;
    if (gadget == IDC_VEXLOR_START) {
        if (passPending() || thread.isRunning()) {
            thread.end(false);  // the pass ends at the core's next poll; its end event follows
        } else if (s.completedPass == PASS_PREPARE) {
            thread.commit();
            recollect();
            showButtons();
            showTarget();
            redrawViews(kRedrawChanged);
        } else {
            startPass(false);
        }
        return 1;
    }
    // Every other gadget lies in the settings group, which is unusable while a pass is pending.
    if (passPending()) return 1;
    bool flag = false;
    int32_t whole = 0;
    double real = 0.0;
    switch (gadget) {
        case IDC_VEXLOR_HIERARCHY:
            if (getBool(gadget, flag)) s.wholeHierarchy = flag ? 1 : 0;
            settingsChanged();
            break;
        case IDC_VEXLOR_WEIGHTING:
            if (getInt(gadget, whole))
                for (const Weighting& w : kWeightings)
                    if (w.radio == whole) s.weightingPolicy = w.policy;
            settingsChanged();
            break;
        case IDC_VEXLOR_PREPARE:
            if (s.completedPass != PASS_PREPARE) startPass(true);
            break;
        case IDC_VEXLOR_TARGET:
            if (thread.ratioMode()) {
                s.targetMode = TARGET_RATIO;
                if (getReal(gadget, real)) s.targetRatio = static_cast<float>(real);
            } else {
                s.targetMode = TARGET_COUNT;
                if (getInt(gadget, whole)) s.targetCount = whole;
            }
            follow(false);
            s.errorLimit = thread.averageError();
            slider.setValue(s.errorLimit);
            showError();
            break;
        case IDC_VEXLOR_REGLER: {
            const bool dragging = HostSettings(msg).getBool(DLG_MSG_DRAGGING, false);
            s.targetMode = TARGET_ERROR;
            s.errorLimit = slider.value();
            showError();
            follow(dragging);
            updateTarget(1, thread.startCount());
            break;
        }
        case IDC_VEXLOR_ERROR:
            s.targetMode = TARGET_ERROR;
            if (getReal(gadget, real)) s.errorLimit = real;
            slider.setValue(s.errorLimit);
            slider.redraw();
            follow(false);
            updateTarget(-kIntMax, kIntMax);
            break;
        case IDC_VEXLOR_CHECKS:
            if (getBool(gadget, flag)) s.useChecks = flag ? 1 : 0;
            enable(IDC_VEXLOR_COMPACTNESS, s.useChecks != 0);
            enable(IDC_VEXLOR_FLIP, s.useChecks != 0);
            enable(IDC_VEXLOR_VALENCE, s.useChecks != 0);
            settingsChanged();
            break;
        case IDC_VEXLOR_BOUNDARY_WEIGHT:
        case IDC_VEXLOR_COMPACTNESS:
        case IDC_VEXLOR_FLIP:
        case IDC_VEXLOR_VALENCE:
            if (getReal(gadget, real)) {
                if (gadget == IDC_VEXLOR_BOUNDARY_WEIGHT) s.boundaryWeight = real;
                if (gadget == IDC_VEXLOR_COMPACTNESS) s.compactnessPenalty = real;
                if (gadget == IDC_VEXLOR_FLIP) s.flipPenalty = real;
                if (gadget == IDC_VEXLOR_VALENCE) s.valencePenalty = real;
            }
            settingsChanged();
            break;
        case IDC_VEXLOR_FINISH_LEVEL:
            if (s.completedPass == PASS_PREPARE) {
                thread.finishLevels();
                redrawViews(kRedrawChanged);
            }
            break;
        default:
            break;
    }
    return 1;
}

int32_t VexlorDialog::askClose() {
    closing = 1;
    if (thread.isRunning()) thread.end(true);
    awaitingEnd = 0;
    if (thread.settings.completedPass == PASS_PREPARE) thread.revertAll();
    thread.clear();
    redrawViews(kRedrawChanged);
    return 0;
}

void VexlorDialog::recollect() {
    thread.clear();
    thread.collect();
    ReductionSettings& s = thread.settings;
    s.targetRatio = 1.0f;
    s.targetCount = thread.startCount();
    s.errorLimit = 0.0;
    s.targetMode = TARGET_ERROR;
}

void VexlorDialog::showButtons() {
    const ReductionSettings& s = thread.settings;
    const bool preview = s.completedPass == PASS_PREPARE;
    const bool pending = passPending();
    setString(IDC_VEXLOR_PREPARE, resourceString(preview ? STR_VEXLOR_PREPARED : STR_VEXLOR_PREPARE));
    enable(IDC_VEXLOR_PREPARE, !preview);
    // A pass counts as requested until its end event is handled: a quick pass may already have
    // cleared requestedPass on the worker thread.
    setString(IDC_VEXLOR_START, resourceString(pending ? STR_VEXLOR_STOP : STR_VEXLOR_START));
    enable(IDC_VEXLOR_SETTINGS, !pending);
    setString(IDC_VEXLOR_FINISH_LEVEL, resourceString(STR_VEXLOR_FINISH_LEVEL));
    enable(IDC_VEXLOR_FINISH_LEVEL, preview && !pending);
}

void VexlorDialog::showTarget() {
    const ReductionSettings& s = thread.settings;
    if (thread.ratioMode())
        setPercent(IDC_VEXLOR_TARGET, s.targetRatio, 0.0, 1.0, 0.01);
    else
        setInt(IDC_VEXLOR_TARGET, s.targetCount, 1, thread.startCount(), 1);
    slider.setValue(s.errorLimit);
    slider.redraw();
    showError();
}

void VexlorDialog::showError() { setString(IDC_VEXLOR_ERROR, slider.text()); }

void VexlorDialog::settingsChanged() {
    if (thread.settings.completedPass == PASS_PREPARE) {
        thread.revertAll();
        redrawViews(kRedrawChanged);
    }
    recollect();
    showButtons();
    showTarget();
}

void VexlorDialog::follow(bool dragging) {
    if (thread.settings.completedPass != PASS_PREPARE) return;
    thread.seekAll(true);
    redrawViews(dragging ? kRedrawDragging : kRedrawMoved);
}

void VexlorDialog::updateTarget(int32_t minCount, int32_t maxCount) {
    ReductionSettings& s = thread.settings;
    if (thread.ratioMode()) {
        s.targetRatio = static_cast<float>(thread.averagePercentage() / 100.0);
        setPercent(IDC_VEXLOR_TARGET, s.targetRatio, 0.0, 1.0, 0.01);
    } else {
        s.targetCount = thread.currentCount();
        setInt(IDC_VEXLOR_TARGET, s.targetCount, minCount, maxCount, 1);
    }
}

void VexlorDialog::startPass(bool prepare) {
    const bool started = prepare ? thread.startPrepare() : thread.startDirect();
    if (started) awaitingEnd = 1;
    showButtons();
}

void VexlorDialog::setRealField(int32_t gadget, double value) {
    setReal(gadget, value, 0.0, kRealMax, 1.0, HOST_FORMAT_REAL);
}

void VexlorDialog::redrawViews(int32_t flags) { moduleApi()->viewsRedraw(flags); }
