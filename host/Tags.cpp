#include "Tags.h"

namespace host {

const char* tagTypeName(int32_t type) {
    switch (type) {
        case TAG_POINTS: return "points";
        case TAG_POLYGONS: return "polygons";
        case TAG_SMOOTHING: return "smoothing";
        case TAG_UVW: return "uvw";
        case TAG_POLYGON_SELECTION: return "polygon selection";
        case TAG_POINT_SELECTION: return "point selection";
        case TAG_FLOAT_MAP: return "float map";
        case TAG_NORMALS: return "normals";
        default: return "unknown";
    }
}

}  // namespace host
