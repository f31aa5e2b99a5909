// Objects of a document: a hierarchy of named objects with placement matrices, visibility and tags.
// Polygon objects add a float point array, a polygon array, selections and hidden sets.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Geometry.h"
#include "SelectionSet.h"
#include "Tags.h"

namespace host {

class Document;

class Object {
public:
    Object(int32_t type, std::string name) : type_(type), name_(std::move(name)) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    int32_t type() const { return type_; }
    bool isPolygonObject() const { return type_ == OBJECT_POLYGON; }
    const std::string& name() const { return name_; }
    void setName(std::string n) { name_ = std::move(n); }

    Matrix localMatrix;
    bool visible = true;
    bool active = false;  // selected as an object in the document

    // Global placement: the parents' matrices applied over the local one.
    Matrix globalMatrix() const;

    // Hierarchy.
    Object* parent() const { return parent_; }
    Document* document() const { return document_; }
    Object* firstChild() const { return children_.empty() ? nullptr : children_.front().get(); }
    Object* next() const;  // next sibling, or null
    const std::vector<std::unique_ptr<Object>>& children() const { return children_; }
    Object* addChild(std::unique_ptr<Object> child);
    std::unique_ptr<Object> removeChild(Object* child);

    // Tags, in insertion order.
    const std::vector<std::unique_ptr<Tag>>& tags() const { return tags_; }
    Tag* addTag(std::unique_ptr<Tag> tag);
    // Puts a tag at a place among the others: 0 makes it the first; a negative index or one past the
    // last tag makes it the last.
    Tag* insertTag(std::unique_ptr<Tag> tag, int index);
    // The index-th tag of the given type (0 = first), or null.
    Tag* tag(int32_t type, int index = 0) const;
    int tagCount(int32_t type) const;
    bool removeTag(Tag* tag);
    // Takes a tag off the object and hands it to the caller.
    std::unique_ptr<Tag> takeTag(Tag* tag);

    // Update messages received (5: general update, 7: points changed); counted for those who watch.
    void message(int32_t id);
    int updateCount() const { return updates_; }

    // A copy of this object's own state (name, matrix, flags, tags, geometry) without its children.
    virtual std::unique_ptr<Object> cloneAlone() const;
    // A copy of this object and everything below it.
    std::unique_ptr<Object> cloneTree() const;
    // Takes over every piece of state of `from` (of the same type) except identity and hierarchy.
    virtual void copyStateFrom(const Object& from);
    // True when the own state (not the children) equals that of `o`, tags included.
    virtual bool sameStateAs(const Object& o) const;

private:
    friend class Document;
    int32_t type_;
    std::string name_;
    Object* parent_ = nullptr;
    Document* document_ = nullptr;
    // The document's list of top objects while this object is in a document: where a top object
    // finds its next sibling, without the object having to know the document's class.
    const std::vector<std::unique_ptr<Object>>* documentRoots_ = nullptr;
    std::vector<std::unique_ptr<Object>> children_;
    std::vector<std::unique_ptr<Tag>> tags_;
    int updates_ = 0;

    void setDocument(Document* doc, const std::vector<std::unique_ptr<Object>>* roots);
};

class PolygonObject : public Object {
public:
    explicit PolygonObject(std::string name = "Polygon") : Object(OBJECT_POLYGON, std::move(name)) {}

    std::vector<Vec3f> points;
    std::vector<Polygon> polygons;
    SelectionSet pointSelection;
    SelectionSet polygonSelection;
    SelectionSet hiddenPoints;
    SelectionSet hiddenPolygons;

    int pointCount() const { return static_cast<int>(points.size()); }
    int polygonCount() const { return static_cast<int>(polygons.size()); }

    // Resizes the arrays; selections, hidden sets and every per-point or per-polygon tag follow
    // (new elements are zero and unselected). Negative counts are refused.
    bool resize(int pointCount, int polygonCount);

    // Drops points and polygons by remap tables (new index, or -1 to drop), keeping every tag,
    // selection and hidden set attached to the same surviving elements. Polygon corners are
    // renumbered through the point table.
    void compact(const std::vector<int>& pointRemap, int newPointCount, const std::vector<int>& polygonRemap,
                 int newPolygonCount);

    std::unique_ptr<Object> cloneAlone() const override;
    void copyStateFrom(const Object& from) override;
    bool sameStateAs(const Object& o) const override;
};

}  // namespace host
