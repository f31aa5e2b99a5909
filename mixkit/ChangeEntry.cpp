#include "mixkit/ChangeEntry.h"

#include <cstring>

#include "sources/Geometry.h"
#include "sources/HostSelection.h"

namespace {

void flipFloat(float& value, uint32_t bits) {
    uint32_t v;
    memcpy(&v, &value, sizeof v);
    v ^= bits;
    memcpy(&value, &v, sizeof v);
}

template <typename T>
T* element(const ChangeArray<T>& array, int32_t index) {
    return array.data != nullptr && index >= 0 && index < array.count ? array.data + index : nullptr;
}

template <typename T>
T* slotElement(const ChangeArray<T>* arrays, int32_t count, int32_t slot, int32_t index) {
    return slot >= 0 && slot < count ? element(arrays[slot], index) : nullptr;
}

uint32_t zigzag(int32_t v) { return (static_cast<uint32_t>(v) << 1) ^ static_cast<uint32_t>(v >> 31); }
int32_t unzigzag(uint32_t v) { return static_cast<int32_t>((v >> 1) ^ (0u - (v & 1u))); }

int32_t putVarint(uint32_t v, uint8_t* out) {
    int32_t n = 0;
    while (v >= 0x80) {
        out[n++] = static_cast<uint8_t>(v | 0x80);
        v >>= 7;
    }
    out[n++] = static_cast<uint8_t>(v);
    return n;
}

int32_t getVarint(const uint8_t* in, uint32_t& v) {
    v = 0;
    int32_t n = 0;
    for (int shift = 0; shift < 35; shift += 7) {
        const uint8_t b = in[n++];
        v |= static_cast<uint32_t>(b & 0x7f) << shift;
        if ((b & 0x80) == 0) break;
    }
    return n;
}

constexpr int32_t kInlineSlots = 31;

}  // namespace

void applyChange(const ChangeEntry& e, const ChangeTargets& t, bool forward) {
    switch (e.kind) {
        case CHANGE_POLYGON: {
            HostPolygon* p = element(t.polygons, e.index);
            if (p == nullptr) break;
            for (int k = 0; k < 4; ++k) {
                const uint32_t now = static_cast<uint32_t>(corner(*p, k));
                corner(*p, k) = static_cast<int32_t>(forward ? now + e.values[k] : now - e.values[k]);
            }
            break;
        }
        case CHANGE_MEMBERSHIP: {
            if (e.slot < 0 || e.slot >= t.setCount || t.sets[e.slot] == nullptr) break;
            HostSelection set(t.sets[e.slot]);
            const uint32_t member = forward ? e.values[0] : e.values[1];
            if (member != 0)
                set.select(e.index);
            else
                set.deselect(e.index);
            break;
        }
        case CHANGE_FLOAT:
            if (float* v = slotElement(t.maps, t.mapCount, e.slot, e.index)) flipFloat(*v, e.values[0]);
            break;
        case CHANGE_UVW: {
            UvwRecord* r = slotElement(t.uvw, t.uvwCount, e.slot, e.index);
            if (r == nullptr) break;
            for (int k = 0; k < 4; ++k) {
                flipFloat(r->corner[k].x, e.values[3 * k]);
                flipFloat(r->corner[k].y, e.values[3 * k + 1]);
                flipFloat(r->corner[k].z, e.values[3 * k + 2]);
            }
            break;
        }
        case CHANGE_NORMALS: {
            NormalRecord* r = e.slot == 0 ? element(t.normals, e.index) : nullptr;
            if (r == nullptr) break;
            for (int k = 0; k < 12; ++k)
                r->v[k] = static_cast<int16_t>(static_cast<uint16_t>(r->v[k]) ^ static_cast<uint16_t>(e.values[k]));
            break;
        }
        default:
            break;
    }
}

int32_t packEntry(const ChangeEntry& e, int32_t& previousIndex, uint8_t* out) {
    int32_t n = 0;
    const uint32_t slot = static_cast<uint32_t>(e.slot);
    const uint32_t inlineSlot = slot < kInlineSlots ? slot : kInlineSlots;
    out[n++] = static_cast<uint8_t>((static_cast<uint32_t>(e.kind) & 7u) | (inlineSlot << 3));
    if (inlineSlot == kInlineSlots) n += putVarint(slot - kInlineSlots, out + n);
    n += putVarint(zigzag(static_cast<int32_t>(static_cast<uint32_t>(e.index) - static_cast<uint32_t>(previousIndex))),
                   out + n);
    previousIndex = e.index;
    const int32_t words = changeWords(e.kind);
    uint32_t mask = 0;
    for (int32_t k = 0; k < words; ++k)
        if (e.values[k] != 0) mask |= 1u << k;
    n += putVarint(mask, out + n);
    for (int32_t k = 0; k < words; ++k) {
        if (e.values[k] == 0) continue;
        const uint32_t v = e.kind == CHANGE_POLYGON ? zigzag(static_cast<int32_t>(e.values[k])) : e.values[k];
        n += putVarint(v, out + n);
    }
    return n;
}

int32_t unpackEntry(const uint8_t* in, int32_t& previousIndex, ChangeEntry& e) {
    int32_t n = 0;
    const uint8_t head = in[n++];
    e.kind = head & 7;
    uint32_t slot = head >> 3;
    if (slot == kInlineSlots) {
        uint32_t more;
        n += getVarint(in + n, more);
        slot += more;
    }
    e.slot = static_cast<int32_t>(slot);
    uint32_t delta;
    n += getVarint(in + n, delta);
    e.index = static_cast<int32_t>(static_cast<uint32_t>(previousIndex) + static_cast<uint32_t>(unzigzag(delta)));
    previousIndex = e.index;
    uint32_t mask;
    n += getVarint(in + n, mask);
    for (int32_t k = 0; k < 12; ++k) {
        uint32_t v = 0;
        if ((mask >> k) & 1u) {
            n += getVarint(in + n, v);
            if (e.kind == CHANGE_POLYGON) v = static_cast<uint32_t>(unzigzag(v));
        }
        e.values[k] = v;
    }
    return n;
}
