#include "mixkit/ChangeEntry.h"

#include <cstring>

#include "mixkit/PolygonCorners.h"
#include "mixkit/TagRecords.h"
#include "sources/Module.h"

namespace {

void flipFloat(float& value, uint32_t bits) {
    uint32_t v;
    memcpy(&v, &value, sizeof v);
    v ^= bits;
    memcpy(&value, &v, sizeof v);
}

}  // namespace

void ChangeEntry::apply(HostPolygon* polygons, bool forward) const {
    switch (kind) {
        case CHANGE_POLYGON: {
            HostPolygon& p = polygons[index];
            for (int k = 0; k < 4; ++k) {
                const uint32_t now = static_cast<uint32_t>(corner(p, k));
                corner(p, k) = static_cast<int32_t>(forward ? now + values[k] : now - values[k]);
            }
            break;
        }
        case CHANGE_MEMBERSHIP: {
            auto* set = static_cast<HstSelection*>(target);
            const uint32_t member = forward ? values[0] : values[1];
            if (member != 0)
                moduleApi()->selSelect(set, index);
            else
                moduleApi()->selDeselect(set, index);
            break;
        }
        case CHANGE_FLOAT:
            flipFloat(static_cast<float*>(target)[index], values[0]);
            break;
        case CHANGE_UVW: {
            UvwRecord& r = static_cast<UvwRecord*>(target)[index];
            for (int k = 0; k < 4; ++k) {
                flipFloat(r.corner[k].x, values[3 * k]);
                flipFloat(r.corner[k].y, values[3 * k + 1]);
                flipFloat(r.corner[k].z, values[3 * k + 2]);
            }
            break;
        }
        case CHANGE_NORMALS: {
            NormalRecord& r = static_cast<NormalRecord*>(target)[index];
            for (int k = 0; k < 12; ++k)
                r.v[k] = static_cast<int16_t>(static_cast<uint16_t>(r.v[k]) ^ static_cast<uint16_t>(values[k]));
            break;
        }
        default:
            break;
    }
}
