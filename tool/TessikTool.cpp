#include "tool/TessikTool.h"

#include <cmath>
#include <cstdio>


#include "mixkit/WeightingPolicy.h"
#include "sources/Geometry.h"
#include "sources/HostMemory.h"
#include "sources/HostSettings.h"
#include "sources/HostString.h"
#include "sources/Module.h"
#include "sources/ResourceHolder.h"
#include "tool/TessikCollapse.h"
#include "tool/TessikContext.h"
#include "tool/TessikSettings.h"
#include "tool/TessikSettingsPanel.h"

namespace {

int32_t weightingPolicyOf(int32_t popupValue) {
    switch (popupValue) {
        case TESSIK_WEIGHT_AREA: return WEIGHTING_AREA;
        case TESSIK_WEIGHT_AVERAGE: return WEIGHTING_AVERAGE;
        case TESSIK_WEIGHT_ANGLE: return WEIGHTING_ANGLE;
        case TESSIK_WEIGHT_AREA_AVERAGE: return WEIGHTING_AREA_AVERAGE;
        default: return WEIGHTING_AREA;
    }
}

}  // namespace

TessikInverse TessikInverse::of(const double m[12]) {
    TessikInverse inv;
    const Vector off{m[0], m[1], m[2]};
    const Vector v1{m[3], m[4], m[5]}, v2{m[6], m[7], m[8]}, v3{m[9], m[10], m[11]};
    const double det = dot(v1, cross(v2, v3));
    if (det == 0.0) return inv;
    // With the axes as columns, the inverse's rows are the cross products of the other two axes.
    const Vector r0 = scale(cross(v2, v3), 1.0 / det);
    const Vector r1 = scale(cross(v3, v1), 1.0 / det);
    const Vector r2 = scale(cross(v1, v2), 1.0 / det);
    const Vector rows[3] = {r0, r1, r2};
    for (int i = 0; i < 3; ++i) {
        inv.rows[i][0] = rows[i].x;
        inv.rows[i][1] = rows[i].y;
        inv.rows[i][2] = rows[i].z;
    }
    inv.offset = scale(inv.direction(off), -1.0);
    return inv;
}

bool tessikAcceptsBehind(int32_t projection) {
    return projection >= HOST_PROJECTION_LEFT && projection <= HOST_PROJECTION_BOTTOM;
}

int32_t TessikTool::state(HstDocument* doc) {
    if (doc == nullptr) return 0;
    const HostApi* api = moduleApi();
    const HostSettings settings(api->docSettings(doc));
    if (settings.getInt(DOC_EDITING_MODE, 0) == MODE_OBJECT) return 0;
    const HostPolygonObject active(api->docActiveObject(doc));
    return active.valid() && active.isPolygonObject() ? HOST_CMD_ENABLED : 0;
}

int32_t TessikTool::mouseInput(HstDocument* doc, HstSettings* settings, void* view, void* /*window*/,
                               const HstSettings* msg) {
    const HostApi* api = moduleApi();
    const HostSettings message(msg);
    const double x = message.getReal(HOST_MSG_MOUSE_X, 0.0);
    const double y = message.getReal(HOST_MSG_MOUSE_Y, 0.0);
    const int32_t channel = message.getInt(HOST_MSG_CHANNEL, 0);
    int32_t button = 0;
    if (channel == HOST_CHANNEL_LEFT) button = HOST_BUTTON_LEFT;
    else if (channel == HOST_CHANNEL_RIGHT) button = HOST_BUTTON_RIGHT;
    else return 1;

    object = HostPolygonObject();
    if (doc == nullptr) return 1;
    const HostPolygonObject active(api->docActiveObject(doc));
    if (!active.valid() || !active.isPolygonObject()) return 1;
    object = active;
    picked = -1;
    const HostSettings tool(settings);
    const double red[3] = {1.0, 0.0, 0.0};
    double colour[3];
    tool.getVector(TESSIK_COLOR, red, colour);
    const double brightness = tool.getReal(TESSIK_BRIGHTNESS, 1.0);
    for (int i = 0; i < 3; ++i) highlight[i] = static_cast<float>(colour[i] * brightness);

    {
        TessikContext context;
        if (context.setup(object)) {
            context.maxNeighbours = tool.getInt(TESSIK_MAX_NEIGHBOURS, 0);
            context.checkFolds = tool.getBool(TESSIK_CHECK_FOLDS, false) ? 1 : 0;
            context.boundaryWeight = static_cast<float>(tool.getReal(TESSIK_BOUNDARY_WEIGHT, 0.0));
            context.maxError = static_cast<float>(tool.getReal(TESSIK_MAX_ERROR, 0.0));
            context.weightingPolicy = weightingPolicyOf(tool.getInt(TESSIK_WEIGHTING, 0));
            drag(doc, view, settings, context, x, y, button);
        } else if (context.cornersOutside) {
            api->statusText(resourceString(STR_TESSIK_BAD_CORNERS).handle());
        }
    }
    object = HostPolygonObject();
    return 1;
}

TessikTool::StepOutcome TessikTool::step(void* view, TessikContext& context, const TessikInverse& inverse,
                                         bool acceptBehind, double x, double y) {
    const HostApi* api = moduleApi();
    double nearPoint[3] = {0, 0, 0}, farPoint[3] = {0, 0, 0};
    if (api->viewScreenToWorld(view, x, y, 0.0, nearPoint) == 0 ||
        api->viewScreenToWorld(view, x, y, TESSIK_FAR_DEPTH, farPoint) == 0) {
        picked = -1;
        return StepOutcome::NothingPicked;
    }
    const Vector n{nearPoint[0], nearPoint[1], nearPoint[2]};
    const Vector f{farPoint[0], farPoint[1], farPoint[2]};
    const Vector origin = inverse.point(n);
    const Vector direction = inverse.direction(subtract(f, n));
    picked = context.pick(origin, direction, acceptBehind);
    if (picked < 0) return StepOutcome::NothingPicked;
    if (!tessikCollapse(context, picked, shownCost))
        return shownCost > context.maxError ? StepOutcome::AboveLimit : StepOutcome::Refused;
    picked = -1;
    return StepOutcome::Collapsed;
}

namespace {

// A resource text with %1 and %2 replaced by the numbers: a whole number as it is, any other to
// four significant digits. Built in a buffer of its own (no allocation to fail); a longer text is cut.
HostString filledIn(int32_t id, double first, double second = 0.0) {
    const HostString pattern = resourceString(id);
    const char* from = pattern.chars();
    char text[512];
    size_t at = 0;
    while (*from != '\0' && at + 1 < sizeof text) {
        if (from[0] == '%' && (from[1] == '1' || from[1] == '2')) {
            const double v = from[1] == '1' ? first : second;
            const bool whole = v == std::floor(v) && std::fabs(v) < 1e15;
            const int n = std::snprintf(text + at, sizeof text - at, whole ? "%.0f" : "%.4g", v);
            if (n > 0) at += static_cast<size_t>(n) < sizeof text - at ? static_cast<size_t>(n) : sizeof text - at - 1;
            from += 2;
        } else {
            text[at++] = *from++;
        }
    }
    text[at] = '\0';
    return HostString(text);
}

}  // namespace

void TessikTool::showStep(StepOutcome outcome, float limit, StrokeTally& tally) {
    const HostApi* api = moduleApi();
    switch (outcome) {
        case StepOutcome::NothingPicked:
            break;  // the line keeps what the last polygon under the cursor did
        case StepOutcome::Collapsed:
            ++tally.collapsed;
            api->statusText(filledIn(STR_TESSIK_COLLAPSED, shownCost, limit).handle());
            break;
        case StepOutcome::AboveLimit:
            if (tally.leastAboveLimit < 0.0f || shownCost < tally.leastAboveLimit) tally.leastAboveLimit = shownCost;
            api->statusText(filledIn(STR_TESSIK_ABOVE_LIMIT, shownCost, limit).handle());
            break;
        case StepOutcome::Refused:
            api->statusText(resourceString(STR_TESSIK_REFUSED).handle());
            break;
    }
    api->viewsRedraw(HOST_REDRAW_TOOL);
}

void TessikTool::showStroke(const StrokeTally& tally, float limit) {
    const HostApi* api = moduleApi();
    if (tally.collapsed == 0 && tally.leastAboveLimit >= 0.0f)
        api->statusText(filledIn(STR_TESSIK_STROKE_LIMITED, tally.leastAboveLimit, limit).handle());
    else if (tally.collapsed > 0)
        api->statusText(filledIn(STR_TESSIK_STROKE_DONE, tally.collapsed).handle());
}

void TessikTool::drag(HstDocument* doc, void* view, HstSettings* settings, TessikContext& context, double x, double y,
                      int32_t button) {
    const HostApi* api = moduleApi();
    const bool acceptBehind = tessikAcceptsBehind(api->viewProjection(view));
    double matrix[12];
    object.globalMatrix(matrix);
    const TessikInverse inverse = TessikInverse::of(matrix);

    // Without a snapshot of its own the drag could not be taken back: then it changes nothing. The
    // empty group is closed without an undo, which would take back the step before it.
    if (api->undoStart(doc) == 0) return;
    if (api->undoAdd(doc, UNDO_OBJECT_CHANGE, object.handle()) == 0) {
        api->undoEnd(doc);
        return;
    }

    shownCost = 0.0f;
    StrokeTally tally;
    StepOutcome outcome = step(view, context, inverse, acceptBehind, x, y);
    bool changed = outcome == StepOutcome::Collapsed;
    showStep(outcome, context.maxError, tally);

    api->mouseDragStart(button, x, y, HOST_DRAG_FLAGS_TOOL);
    HostSettings channels;
    channels.make();
    double dx = 0.0, dy = 0.0;
    while (api->mouseDrag(&dx, &dy, channels.handle()) == DLG_DRAG_CONTINUE) {
        if (dx == 0.0 && dy == 0.0) continue;
        x += dx;
        y += dy;
        outcome = step(view, context, inverse, acceptBehind, x, y);
        if (outcome == StepOutcome::Collapsed) changed = true;
        showStep(outcome, context.maxError, tally);
    }

    tessikFinishDrag(context);
    api->undoEnd(doc);
    const bool cancelled = api->mouseDragEnd() != 0;
    if (cancelled || !changed) api->undoLast(doc);
    if (!cancelled) showStroke(tally, context.maxError);
    const bool stoppedByLimit = !cancelled && tally.collapsed == 0 && tally.leastAboveLimit >= 0.0f;
    HostSettings(settings).setReal(TESSIK_LEAST_REFUSED, stoppedByLimit ? tally.leastAboveLimit : 0.0);
    api->eventAdd(0);
    // The settings panel hears of it through the brush's own event.
    api->specialEvent(TESSIK_ID, 0, 0);
}

int32_t TessikTool::cursorInfo(HstDocument* /*doc*/, HstSettings* /*settings*/, void* /*view*/, double /*x*/,
                               double /*y*/, HstSettings* result) {
    HostSettings out(result);
    out.setString(CURSOR_INFO_HELP, resourceString(STR_TESSIK_HELP));
    out.setInt(CURSOR_INFO_SHAPE, HOST_CURSOR_BRUSH);
    return 1;
}

int32_t TessikTool::draw(HstDocument* /*doc*/, HstSettings* /*settings*/, void* view, int32_t /*flags*/) {
    if (!object.valid() || picked < 0 || picked >= object.polygonCount()) return 0;
    const HostPolygon p = object.polygons()[picked];
    if (p.a == 0 && p.b == 0 && p.c == 0 && p.d == 0) return 0;
    const int n = cornerCount(p);
    const float* points = object.points();
    double matrix[12];
    object.globalMatrix(matrix);
    double world[12], colours[12];
    for (int k = 0; k < n; ++k) {
        const int32_t c = corner(p, k);
        const double px = points[3 * c], py = points[3 * c + 1], pz = points[3 * c + 2];
        for (int axis = 0; axis < 3; ++axis) {
            world[3 * k + axis] =
                matrix[axis] + px * matrix[3 + axis] + py * matrix[6 + axis] + pz * matrix[9 + axis];
            colours[3 * k + axis] = highlight[axis];
        }
    }
    moduleApi()->viewDrawPolygon(view, n, world, colours);
    return 0;
}

HostDialogBase* TessikTool::createSettingsPanel(HstSettings* settings) {
    return hostNew<TessikSettingsPanel>(TessikSettingsPanel::sourceTag, __LINE__, settings);
}
