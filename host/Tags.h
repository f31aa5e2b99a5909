// Tags: the typed data that hangs on an object. Per-point and per-polygon tags follow their object's
// arrays when the object is resized, and are compacted with them by the clean-up command.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Geometry.h"
#include "SelectionSet.h"
#include "Settings.h"
#include "sources/HostContract.h"

namespace host {

// The contract's numbers, also as host::TAG_UVW and the like.
using namespace ::contract;

// One UVW row: the texture coordinates of the corners a, b, c, d of one polygon (48 bytes).
struct UVWRow {
    Vec3f a, b, c, d;
    Vec3f& corner(int i) { return (&a)[i]; }
    const Vec3f& corner(int i) const { return (&a)[i]; }
    bool operator==(const UVWRow&) const = default;
};
static_assert(sizeof(UVWRow) == 48);

// One corner-normal row: x, y, z of corners a, b, c, d as unit normal * 32000.
struct NormalRow {
    int16_t v[12] = {};
    bool operator==(const NormalRow&) const = default;
};
static_assert(sizeof(NormalRow) == 24);

const char* tagTypeName(int32_t type);

class Object;

class Tag {
public:
    // What the tag's elements are counted by.
    enum class Domain { None, Points, Polygons };

    Tag(int32_t type, std::string name) : type_(type), name_(std::move(name)) {}
    virtual ~Tag() = default;

    int32_t type() const { return type_; }
    // The object the tag hangs on; null while it is on none.
    Object* owner() const { return owner_; }
    const std::string& name() const { return name_; }
    void setName(std::string n) { name_ = std::move(n); }

    virtual Domain domain() const { return Domain::None; }
    // Number of elements held (rows, members or values); 0 for tags without elements.
    virtual int elementCount() const { return 0; }
    // Follows the object's arrays: new elements are zero or unselected.
    virtual void resize(int /*points*/, int /*polygons*/) {}
    // remap[i] is the new index of element i, or -1 when it is dropped.
    virtual void compact(const std::vector<int>& /*pointRemap*/, int /*points*/,
                         const std::vector<int>& /*polygonRemap*/, int /*polygons*/) {}
    virtual std::unique_ptr<Tag> clone() const = 0;
    virtual bool equals(const Tag& other) const = 0;

protected:
    Tag(const Tag& o) : type_(o.type_), name_(o.name_) {}  // a copy hangs on no object yet

private:
    friend class Object;
    int32_t type_;
    std::string name_;
    Object* owner_ = nullptr;
};

// Helper for tags that keep one value per point or per polygon in a vector.
template <class T, int32_t Type, Tag::Domain D>
class ArrayTag : public Tag {
public:
    explicit ArrayTag(std::string name = {}, int size = 0) : Tag(Type, std::move(name)), data(size) {}
    std::vector<T> data;

    Domain domain() const override { return D; }
    int elementCount() const override { return static_cast<int>(data.size()); }
    void resize(int points, int polygons) override {
        data.resize(D == Domain::Points ? points : polygons, T{});
    }
    void compact(const std::vector<int>& pointRemap, int points, const std::vector<int>& polygonRemap,
                 int polygons) override {
        const std::vector<int>& remap = D == Domain::Points ? pointRemap : polygonRemap;
        std::vector<T> next(D == Domain::Points ? points : polygons, T{});
        const size_t n = std::min(remap.size(), data.size());
        for (size_t i = 0; i < n; ++i)
            if (remap[i] >= 0 && remap[i] < static_cast<int>(next.size())) next[remap[i]] = data[i];
        data = std::move(next);
    }
    std::unique_ptr<Tag> clone() const override { return std::make_unique<ArrayTag>(*this); }
    bool equals(const Tag& other) const override {
        auto* o = dynamic_cast<const ArrayTag*>(&other);
        return o && o->name() == name() && o->data == data;
    }
};

using UVWTag = ArrayTag<UVWRow, TAG_UVW, Tag::Domain::Polygons>;
using NormalTag = ArrayTag<NormalRow, TAG_NORMALS, Tag::Domain::Polygons>;
using FloatMapTag = ArrayTag<float, TAG_FLOAT_MAP, Tag::Domain::Points>;

// Point (5674) or polygon (5673) selection tag: a named selection set.
class SelectionTag : public Tag {
public:
    SelectionTag(int32_t type, std::string name = {}, int size = 0) : Tag(type, std::move(name)), set(size) {}
    SelectionSet set;

    Domain domain() const override { return type() == TAG_POINT_SELECTION ? Domain::Points : Domain::Polygons; }
    int elementCount() const override { return set.size(); }
    void resize(int points, int polygons) override { set.resize(domain() == Domain::Points ? points : polygons); }
    void compact(const std::vector<int>& pointRemap, int points, const std::vector<int>& polygonRemap,
                 int polygons) override {
        if (domain() == Domain::Points)
            set.compact(pointRemap, points);
        else
            set.compact(polygonRemap, polygons);
    }
    std::unique_ptr<Tag> clone() const override { return std::make_unique<SelectionTag>(*this); }
    bool equals(const Tag& other) const override {
        auto* o = dynamic_cast<const SelectionTag*>(&other);
        return o && o->type() == type() && o->name() == name() && o->set == set;
    }
};

// Smoothing tag: SMOOTHING_ANGLE_LIMIT (bool) and SMOOTHING_ANGLE (radians).
class SmoothingTag : public Tag {
public:
    explicit SmoothingTag(std::string name = {}) : Tag(TAG_SMOOTHING, std::move(name)) {}
    Settings data;
    std::unique_ptr<Tag> clone() const override { return std::make_unique<SmoothingTag>(*this); }
    bool equals(const Tag& other) const override {
        auto* o = dynamic_cast<const SmoothingTag*>(&other);
        return o && o->name() == name() && o->data == data;
    }
};

}  // namespace host
