// The tags a reduction follows, and the effects of a contraction on point data: the quad turned
// into a triangle, point selections and float maps. (UVWs: AttributeTransferUvw.cpp; corner
// normals: AttributeTransferNormals.cpp.)
#include "mixkit/AttributeTransfer.h"

#include "mixkit/ContractionHistory.h"
#include "mixkit/HistoryRecorder.h"
#include "mixkit/StackHelpers.h"
#include "sources/Geometry.h"

namespace {

// Sizes `bytes` to n and fills it with the set's membership bytes, every non-zero one made 255.
bool takeMembership(const HostSelection& set, int32_t n, Stack<uint8_t>& bytes) {
    if (!bytes.resize(n)) return false;
    if (n > 0) set.memberBytes(bytes.items, n);
    for (int32_t i = 0; i < bytes.count; ++i)
        if (bytes.items[i] != 0) bytes.items[i] = 255;
    return true;
}

}  // namespace

bool AttributeTransfer::collect(HostPolygonObject object, int32_t pointCount, int32_t polygonCount) {
    for (HostTag tag = object.firstTag(); tag.valid(); tag = tag.next()) {
        switch (tag.type()) {
            case TAG_UVW: {
                auto* rows = static_cast<UvwRecord*>(tag.data());
                if (polygonCount > 0 && (rows == nullptr || tag.dataCount() < polygonCount)) break;
                if (!pushChecked(uvwTags_, UvwTag{tag, rows})) return false;
                break;
            }
            case TAG_POLYGON_SELECTION:
            case TAG_POINT_SELECTION: {
                const bool points = tag.type() == TAG_POINT_SELECTION;
                Stack<SelectionBytes>& list = points ? pointSets_ : seamSets_;
                const int32_t before = list.count;
                list.push(SelectionBytes{});
                if (list.count == before) return false;
                SelectionBytes& entry = list.items[list.count - 1];
                entry.set = tag.selection();
                if (!takeMembership(entry.set, points ? pointCount : polygonCount, entry.bytes)) return false;
                break;
            }
            case TAG_FLOAT_MAP: {
                auto* data = static_cast<float*>(tag.data());
                if (pointCount > 0 && (data == nullptr || tag.dataCount() < pointCount)) break;
                if (!pushChecked(floatMaps_, FloatMap{tag, data})) return false;
                break;
            }
            case TAG_NORMALS: {
                auto* rows = static_cast<NormalRecord*>(tag.data());
                if (polygonCount > 0 && (rows == nullptr || tag.dataCount() < polygonCount)) break;
                normalTag_ = tag;
                normalRows_ = rows;
                break;
            }
            default:
                break;
        }
    }
    // The normal refresh marks the points of a ring.
    return normalRows_ == nullptr || ringMarks_.resize(pointCount);
}

void AttributeTransfer::followTagData() {
    for (UvwTag& e : uvwTags_) e.rows = static_cast<UvwRecord*>(e.tag.data());
    for (FloatMap& e : floatMaps_) e.data = static_cast<float*>(e.tag.data());
    if (normalTag_.valid()) normalRows_ = static_cast<NormalRecord*>(normalTag_.data());
}

void AttributeTransfer::bindSlots(ContractionHistory& history) const {
    for (int32_t t = 0; t < uvwTags_.count; ++t) history.bindUvwTag(t, uvwTags_.items[t].tag);
    for (int32_t m = 0; m < floatMaps_.count; ++m) history.bindFloatMap(m, floatMaps_.items[m].tag);
    history.bindNormalTag(normalTag_);
    for (int32_t s = 0; s < pointSets_.count; ++s) history.bindSet(HISTORY_POINT_SETS + s, pointSets_.items[s].set.handle());
}

void AttributeTransfer::release() {
    pointSets_.clear();
    seamSets_.clear();
    floatMaps_.clear();
    uvwTags_.clear();
    normalTag_ = HostTag();
    normalRows_ = nullptr;
    ringMarks_.clear();
    ringNormals_.clear();
    deferred_ = false;
}

void AttributeTransfer::turnCorners(int32_t f, int shift, HistoryRecorder& recorder) {
    for (int32_t t = 0; t < uvwTags_.count; ++t) {
        UvwRecord& row = uvwTags_.items[t].rows[f];
        const UvwRecord old = row;
        FloatVector uvw[4] = {row.corner[0], row.corner[1], row.corner[2], row.corner[3]};
        rotateCorners(uvw, shift);
        for (int c = 0; c < 4; ++c) row.corner[c] = uvw[c];
        recorder.uvwChanged(t, f, old, row);
    }
    if (normalRows_ != nullptr) {
        NormalRecord& row = normalRows_[f];
        const NormalRecord old = row;
        for (int c = 0; c < 4; ++c)
            for (int x = 0; x < 3; ++x) row.v[3 * c + x] = old.v[3 * ((c + shift) % 4) + x];
        recorder.normalsChanged(f, old, row);
    }
}

void AttributeTransfer::blendPointData(const Contraction& k, HistoryRecorder& recorder) {
    const double f = k.interpolation();
    const int32_t v1 = k.v1;
    const int32_t v2 = k.v2;
    for (int32_t s = 0; s < pointSets_.count; ++s) {
        SelectionBytes& set = pointSets_.items[s];
        uint8_t& b1 = set.bytes[v1];
        const uint8_t before = b1;
        const double blended = before + (set.bytes[v2] - before) * f;
        b1 = static_cast<uint8_t>(static_cast<int32_t>(blended));
        recorder.membershipChanged(HISTORY_POINT_SETS + s, v1, before >= POINT_SET_THRESHOLD, b1 >= POINT_SET_THRESHOLD);
    }
    for (int32_t m = 0; m < floatMaps_.count; ++m) {
        float* w = floatMaps_.items[m].data;
        const float before = w[v1];
        const float blended = static_cast<float>(before + (static_cast<double>(w[v2]) - before) * f);
        recorder.floatChanged(m, v1, before, blended);
        w[v1] = blended;
    }
}

void AttributeTransfer::writeBackPointSets() {
    for (int32_t s = 0; s < pointSets_.count; ++s) {
        SelectionBytes& entry = pointSets_.items[s];
        for (int32_t i = 0; i < entry.bytes.count; ++i) {
            if (entry.bytes.items[i] < POINT_SET_THRESHOLD)
                entry.set.deselect(i);
            else
                entry.set.select(i);
        }
    }
}
