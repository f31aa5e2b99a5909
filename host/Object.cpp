#include "Object.h"

#include <algorithm>

namespace host {

Matrix Object::globalMatrix() const {
    Matrix m = localMatrix;
    for (const Object* p = parent_; p; p = p->parent_) m = p->localMatrix * m;
    return m;
}

Object* Object::next() const {
    const std::vector<std::unique_ptr<Object>>* siblings = nullptr;
    if (parent_)
        siblings = &parent_->children_;
    else
        siblings = documentRoots_;
    if (!siblings) return nullptr;
    for (size_t i = 0; i < siblings->size(); ++i)
        if ((*siblings)[i].get() == this) return i + 1 < siblings->size() ? (*siblings)[i + 1].get() : nullptr;
    return nullptr;
}

Object* Object::addChild(std::unique_ptr<Object> child) {
    child->parent_ = this;
    child->setDocument(document_, documentRoots_);
    children_.push_back(std::move(child));
    return children_.back().get();
}

std::unique_ptr<Object> Object::removeChild(Object* child) {
    for (auto it = children_.begin(); it != children_.end(); ++it) {
        if (it->get() == child) {
            std::unique_ptr<Object> out = std::move(*it);
            children_.erase(it);
            out->parent_ = nullptr;
            out->setDocument(nullptr, nullptr);
            return out;
        }
    }
    return nullptr;
}

void Object::setDocument(Document* doc, const std::vector<std::unique_ptr<Object>>* roots) {
    document_ = doc;
    documentRoots_ = roots;
    for (auto& c : children_) c->setDocument(doc, roots);
}

Tag* Object::addTag(std::unique_ptr<Tag> tag) { return insertTag(std::move(tag), -1); }

Tag* Object::insertTag(std::unique_ptr<Tag> tag, int index) {
    if (auto* poly = dynamic_cast<PolygonObject*>(this)) tag->resize(poly->pointCount(), poly->polygonCount());
    tag->owner_ = this;
    if (index < 0 || static_cast<size_t>(index) >= tags_.size()) index = static_cast<int>(tags_.size());
    return tags_.insert(tags_.begin() + index, std::move(tag))->get();
}

Tag* Object::tag(int32_t type, int index) const {
    for (const auto& t : tags_)
        if (t->type() == type && index-- == 0) return t.get();
    return nullptr;
}

int Object::tagCount(int32_t type) const {
    return static_cast<int>(std::count_if(tags_.begin(), tags_.end(), [&](const auto& t) { return t->type() == type; }));
}

bool Object::removeTag(Tag* tag) { return takeTag(tag) != nullptr; }

std::unique_ptr<Tag> Object::takeTag(Tag* tag) {
    auto it = std::find_if(tags_.begin(), tags_.end(), [&](const auto& t) { return t.get() == tag; });
    if (it == tags_.end()) return nullptr;
    std::unique_ptr<Tag> out = std::move(*it);
    tags_.erase(it);
    out->owner_ = nullptr;
    return out;
}

void Object::message(int32_t) { ++updates_; }

std::unique_ptr<Object> Object::cloneAlone() const {
    auto copy = std::make_unique<Object>(type_, name_);
    copy->copyStateFrom(*this);
    return copy;
}

std::unique_ptr<Object> Object::cloneTree() const {
    std::unique_ptr<Object> copy = cloneAlone();
    for (const auto& c : children_) copy->addChild(c->cloneTree());
    return copy;
}

void Object::copyStateFrom(const Object& from) {
    name_ = from.name_;
    localMatrix = from.localMatrix;
    visible = from.visible;
    active = from.active;
    tags_.clear();
    for (const auto& t : from.tags_) {
        tags_.push_back(t->clone());
        tags_.back()->owner_ = this;
    }
}

bool Object::sameStateAs(const Object& o) const {
    if (type_ != o.type_ || name_ != o.name_ || !(localMatrix == o.localMatrix) || visible != o.visible) return false;
    if (tags_.size() != o.tags_.size()) return false;
    for (size_t i = 0; i < tags_.size(); ++i)
        if (!tags_[i]->equals(*o.tags_[i])) return false;
    return true;
}

bool PolygonObject::resize(int pointCount, int polygonCount) {
    if (pointCount < 0 || polygonCount < 0) return false;
    points.resize(pointCount);
    polygons.resize(polygonCount);
    pointSelection.resize(pointCount);
    hiddenPoints.resize(pointCount);
    polygonSelection.resize(polygonCount);
    hiddenPolygons.resize(polygonCount);
    for (const auto& t : tags()) t->resize(pointCount, polygonCount);
    return true;
}

void PolygonObject::compact(const std::vector<int>& pointRemap, int newPointCount,
                            const std::vector<int>& polygonRemap, int newPolygonCount) {
    std::vector<Vec3f> newPoints(newPointCount);
    for (size_t i = 0; i < points.size() && i < pointRemap.size(); ++i)
        if (pointRemap[i] >= 0) newPoints[pointRemap[i]] = points[i];
    auto mapPoint = [&](int p) { return p >= 0 && p < static_cast<int>(pointRemap.size()) ? pointRemap[p] : -1; };
    std::vector<Polygon> newPolygons(newPolygonCount);
    for (size_t i = 0; i < polygons.size() && i < polygonRemap.size(); ++i) {
        if (polygonRemap[i] < 0) continue;
        const Polygon& p = polygons[i];
        newPolygons[polygonRemap[i]] = {mapPoint(p.a), mapPoint(p.b), mapPoint(p.c), mapPoint(p.d)};
    }
    points = std::move(newPoints);
    polygons = std::move(newPolygons);
    pointSelection.compact(pointRemap, newPointCount);
    hiddenPoints.compact(pointRemap, newPointCount);
    polygonSelection.compact(polygonRemap, newPolygonCount);
    hiddenPolygons.compact(polygonRemap, newPolygonCount);
    for (const auto& t : tags()) t->compact(pointRemap, newPointCount, polygonRemap, newPolygonCount);
}

std::unique_ptr<Object> PolygonObject::cloneAlone() const {
    auto copy = std::make_unique<PolygonObject>(name());
    copy->copyStateFrom(*this);
    return copy;
}

void PolygonObject::copyStateFrom(const Object& from) {
    Object::copyStateFrom(from);
    if (auto* p = dynamic_cast<const PolygonObject*>(&from)) {
        points = p->points;
        polygons = p->polygons;
        pointSelection = p->pointSelection;
        polygonSelection = p->polygonSelection;
        hiddenPoints = p->hiddenPoints;
        hiddenPolygons = p->hiddenPolygons;
    }
}

bool PolygonObject::sameStateAs(const Object& o) const {
    if (!Object::sameStateAs(o)) return false;
    auto* p = dynamic_cast<const PolygonObject*>(&o);
    return p && p->points == points && p->polygons == polygons && p->pointSelection == pointSelection &&
           p->polygonSelection == polygonSelection && p->hiddenPoints == hiddenPoints &&
           p->hiddenPolygons == hiddenPolygons;
}

}  // namespace host
