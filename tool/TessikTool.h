// The reduction brush: a viewport tool that collapses the polygon under the cursor while the user
// drags over the active polygon object.
#pragma once

#include <cstdint>

#include "sources/HostInterface.h"
#include "sources/HostPolygonObject.h"

class TessikTool : public HostToolBase {
public:
    TessikTool() = default;
    ~TessikTool() override = default;
    TessikTool(const TessikTool&) = delete;
    TessikTool& operator=(const TessikTool&) = delete;

    // Disabled in object mode; otherwise enabled while the active object is a polygon object.
    int32_t state(HstDocument* doc) override;

    int32_t picked = -1;                        // polygon last picked and not collapsed; -1 when none
    HostPolygonObject* object = nullptr;        // the object being edited; null outside a drag
    float highlight[3] = {1.0f, 0.0f, 0.0f};  // highlight colour
};
