// One elementary change that a contraction made to the host object, stored so that it can be made
// again (forward) or taken back (backward) without running the reduction.
//
// An entry names what it changes by slot, never by address: the kind says which array (polygons, a
// UVW tag, the normal tag, a float map, a selection set) and `slot` which one of its kind, in the
// order the history bound them when recording started. The arrays are looked up again each time the
// history is applied, so the object may resize or move its data in between (a finished level that
// is put back) and any number of tags is followed.
//
// Changes of float and 16-bit data are kept as the bitwise exclusive-or of the old and new bit
// patterns, so that applying and reverting restore every value exactly (a float difference added
// and subtracted again would not). Polygon indices keep their integer differences, which are exact.
#pragma once

#include <cstdint>

#include "sources/Geometry.h"
#include "sources/HostInterface.h"

enum ChangeKind : int32_t {
    CHANGE_POLYGON = 0,     // index: polygon; values[0..3]: differences of a, b, c, d
    CHANGE_MEMBERSHIP = 1,  // slot: selection set; index: element; values[0]: member after, [1]: before
    CHANGE_FLOAT = 2,       // slot: float map; index: point; values[0]: old ^ new bits
    CHANGE_UVW = 3,         // slot: UVW tag; index: polygon; values[0..11]: old ^ new bits
    CHANGE_NORMALS = 4,     // slot: normal tag (0); index: polygon; values[0..11]: old ^ new bits
};
constexpr int32_t CHANGE_KINDS = 5;

// The value words each kind uses; the rest stay 0.
constexpr int32_t changeWords(int32_t kind) {
    return kind == CHANGE_POLYGON ? 4 : kind == CHANGE_MEMBERSHIP ? 2 : kind == CHANGE_FLOAT ? 1 : 12;
}

struct ChangeEntry {
    int32_t kind = CHANGE_POLYGON;
    int32_t slot = 0;
    int32_t index = 0;
    uint32_t values[12] = {};
};

// An array an entry may change, as the object holds it now.
template <typename T>
struct ChangeArray {
    T* data = nullptr;
    int32_t count = 0;
};

// Where the entries' slots are now: looked up from the object and its tags before a history is
// applied. Entries whose slot or index lies outside these are left out.
struct ChangeTargets {
    ChangeArray<FloatVector> points;
    ChangeArray<HostPolygon> polygons;
    const ChangeArray<UvwRecord>* uvw = nullptr;
    int32_t uvwCount = 0;
    ChangeArray<NormalRecord> normals;
    const ChangeArray<float>* maps = nullptr;
    int32_t mapCount = 0;
    HstSelection* const* sets = nullptr;
    int32_t setCount = 0;
};

// Makes the change (forward) or takes it back on the targets.
void applyChange(const ChangeEntry& e, const ChangeTargets& targets, bool forward);

// The packed form of a record's entries, one after the other:
//   head byte   kind in the low 3 bits, slot in the high 5 (31: the slot minus 31 follows as a varint)
//   index       zigzag varint of the difference to the previous entry's index (the first entry's to
//               the record's moved point)
//   mask        varint with one bit per non-zero value word
//   values      a varint per non-zero word; polygon differences zigzag coded as signed numbers
// Varints are little-endian groups of 7 bits, the high bit set on every byte but the last.
constexpr int32_t MAX_PACKED_ENTRY = 1 + 5 + 5 + 2 + 12 * 5;

// Writes the entry at `out` and returns the bytes written (at most MAX_PACKED_ENTRY).
int32_t packEntry(const ChangeEntry& e, int32_t& previousIndex, uint8_t* out);
// Reads one entry from `in` and returns the bytes read.
int32_t unpackEntry(const uint8_t* in, int32_t& previousIndex, ChangeEntry& e);
