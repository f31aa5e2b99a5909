// The reduction brush: a viewport tool that collapses the polygon under the cursor while the user
// drags over the active polygon object. One drag is one undo step; a drag that collapses nothing, or
// that the user cancels, is taken back.
#pragma once

#include <cstdint>

#include "sources/Geometry.h"
#include "sources/HostInterface.h"
#include "sources/HostPolygonObject.h"

class TessikContext;

// Depth of the far point of the view ray (the near point is at depth 0).
constexpr double TESSIK_FAR_DEPTH = 10000.0;

// The inverse of an object's global matrix as an affine map (rows of the inverted axes, and the
// offset); the identity when the axes are singular.
struct TessikInverse {
    double rows[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    Vector offset;

    static TessikInverse of(const double matrix[12]);
    Vector point(const Vector& p) const { return add(direction(p), offset); }
    Vector direction(const Vector& d) const {
        return Vector{rows[0][0] * d.x + rows[0][1] * d.y + rows[0][2] * d.z,
                      rows[1][0] * d.x + rows[1][1] * d.y + rows[1][2] * d.z,
                      rows[2][0] * d.x + rows[2][1] * d.y + rows[2][2] * d.z};
    }
};

// True for the projection kinds whose view ray starts on a view plane rather than at an eye (the six
// axis views): there, polygons behind the near point are picked too.
bool tessikAcceptsBehind(int32_t projection);

class TessikTool : public HostToolBase {
public:
    TessikTool() = default;
    ~TessikTool() override = default;
    TessikTool(const TessikTool&) = delete;
    TessikTool& operator=(const TessikTool&) = delete;

    // A press with the left or right button starts a drag over the active polygon object; always 1.
    int32_t mouseInput(HstDocument* doc, HstSettings* settings, void* view, void* window,
                       const HstSettings* msg) override;
    // Disabled in object mode; otherwise enabled while the active object is a polygon object.
    int32_t state(HstDocument* doc) override;
    // The help text and the cursor shape.
    int32_t cursorInfo(HstDocument* doc, HstSettings* settings, void* view, double x, double y,
                       HstSettings* result) override;
    // Draws the picked polygon in the highlight colour during a drag; returns 0.
    int32_t draw(HstDocument* doc, HstSettings* settings, void* view, int32_t flags) override;
    // The settings panel over the tool's container; null when memory is refused.
    HostDialogBase* createSettingsPanel(HstSettings* settings) override;

    int32_t picked = -1;                      // polygon last picked and not collapsed; -1 when none
    HostPolygonObject object;                 // the object being edited; invalid outside a drag
    float highlight[3] = {1.0f, 0.0f, 0.0f};  // highlight colour

    // Cost shown in the status bar after the last step of the last drag.
    float shownCost = 0.0f;

    // How a step went, for the status bar.
    enum class StepOutcome { NothingPicked, Collapsed, AboveLimit, Refused };
    // What the drag in progress has done, for the status line at its end.
    struct StrokeTally {
        int32_t collapsed = 0;
        float leastAboveLimit = -1.0f;  // the least error refused by the limit; < 0: none
    };

private:
    // The drag from (x, y) until the button is released; what it did goes to the status line and,
    // for the settings panel, into `settings` (TESSIK_LEAST_REFUSED).
    void drag(HstDocument* doc, void* view, HstSettings* settings, TessikContext& context, double x, double y,
              int32_t button);
    // One pick and collapse at (x, y).
    StepOutcome step(void* view, TessikContext& context, const TessikInverse& inverse, bool acceptBehind, double x,
                     double y);
    // The status line after a step, in words, and the step counted in the tally.
    void showStep(StepOutcome outcome, float limit, StrokeTally& tally);
    // The status line once the drag is over.
    void showStroke(const StrokeTally& tally, float limit);
};
