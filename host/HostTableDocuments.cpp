// The document, undo, object, polygon object and modelling command entries of the host table, and
// the host's notion of the active document.
#include "host/HostTable.h"
#include "host/HostServices.h"
#include "host/HostTableSections.h"

#include <atomic>
#include <memory>
#include <vector>

#include "host/HostHandles.h"
#include "host/ModelingCommands.h"

namespace host {
namespace {

PolygonObject* polygonObject(HstObject* o) {
    Object* obj = fromHandle(o);
    return obj && obj->isPolygonObject() ? static_cast<PolygonObject*>(obj) : nullptr;
}

// ---- documents and undo ---------------------------------------------------------------------
HstDocument* activeDoc() { return toHandle(tableState().activeDocument.load()); }
HstObjectList* docActiveObjects(HstDocument* d, int32_t topOnly) {
    Document* doc = fromHandle(d);
    auto* list = makeCounted<HstObjectList>();
    if (doc) list->objects = doc->activeObjects(topOnly != 0);
    return list;
}
HstObject* docActiveObject(HstDocument* d) {
    Document* doc = fromHandle(d);
    return doc ? toHandle(doc->activeObject()) : nullptr;
}
HstSettings* docSettings(HstDocument* d) {
    Document* doc = fromHandle(d);
    return doc ? wrapSettings(doc->settings) : nullptr;
}
// The document's folder: where files that belong with it are proposed.
HstFilename* docPath(HstDocument* d) {
    Document* doc = fromHandle(d);
    return makeFilename(doc ? filename::directory(doc->path) : "");
}
int32_t listCount(const HstObjectList* l) { return l ? static_cast<int32_t>(l->objects.size()) : 0; }
HstObject* listAt(const HstObjectList* l, int32_t i) {
    if (!l || i < 0 || i >= static_cast<int32_t>(l->objects.size())) return nullptr;
    return toHandle(l->objects[i]);
}
void listDestroy(HstObjectList* l) { destroyCounted(l); }

int32_t undoStart(HstDocument* d) { return fromHandle(d) && fromHandle(d)->startUndo() ? 1 : 0; }
int32_t undoAdd(HstDocument* d, int32_t kind, HstObject* o) {
    return fromHandle(d) && fromHandle(d)->addUndo(kind, fromHandle(o)) ? 1 : 0;
}
int32_t undoEnd(HstDocument* d) { return fromHandle(d) && fromHandle(d)->endUndo() ? 1 : 0; }
int32_t undoLast(HstDocument* d) { return fromHandle(d) && fromHandle(d)->undoLast() ? 1 : 0; }

// ---- objects --------------------------------------------------------------------------------
int32_t objType(HstObject* o) { return fromHandle(o) ? fromHandle(o)->type() : 0; }
HstObject* objFirstChild(HstObject* o) { return fromHandle(o) ? toHandle(fromHandle(o)->firstChild()) : nullptr; }
HstObject* objNext(HstObject* o) { return fromHandle(o) ? toHandle(fromHandle(o)->next()) : nullptr; }
HstString* objName(HstObject* o) { return makeString(fromHandle(o) ? fromHandle(o)->name() : ""); }
void objMessage(HstObject* o, int32_t id) {
    if (fromHandle(o)) fromHandle(o)->message(id);
}
void objGlobalMatrix(HstObject* o, double out[12]) {
    const Matrix m = fromHandle(o) ? fromHandle(o)->globalMatrix() : Matrix{};
    const Vec3* parts[4] = {&m.off, &m.v1, &m.v2, &m.v3};
    for (int i = 0; i < 4; ++i) {
        out[3 * i] = parts[i]->x;
        out[3 * i + 1] = parts[i]->y;
        out[3 * i + 2] = parts[i]->z;
    }
}
HstDocument* objDocument(HstObject* o) { return fromHandle(o) ? toHandle(fromHandle(o)->document()) : nullptr; }

int32_t polyPointCount(HstObject* o) { return polygonObject(o) ? polygonObject(o)->pointCount() : 0; }
int32_t polyPolygonCount(HstObject* o) { return polygonObject(o) ? polygonObject(o)->polygonCount() : 0; }
float* polyPoints(HstObject* o) {
    PolygonObject* p = polygonObject(o);
    static_assert(sizeof(Vec3f) == 3 * sizeof(float));
    return p && !p->points.empty() ? &p->points.front().x : nullptr;
}
HostPolygon* polyPolygons(HstObject* o) {
    PolygonObject* p = polygonObject(o);
    static_assert(sizeof(Polygon) == sizeof(HostPolygon));
    return p && !p->polygons.empty() ? reinterpret_cast<HostPolygon*>(p->polygons.data()) : nullptr;
}
int32_t polyResize(HstObject* o, int32_t points, int32_t polygons) {
    PolygonObject* p = polygonObject(o);
    return p && p->resize(points, polygons) ? 1 : 0;
}
HstSelection* polyPointSelection(HstObject* o) {
    return polygonObject(o) ? objectSelection(&polygonObject(o)->pointSelection) : nullptr;
}
HstSelection* polyPolygonSelection(HstObject* o) {
    return polygonObject(o) ? objectSelection(&polygonObject(o)->polygonSelection) : nullptr;
}
HstSelection* polyHiddenPoints(HstObject* o) {
    return polygonObject(o) ? objectSelection(&polygonObject(o)->hiddenPoints) : nullptr;
}
HstSelection* polyHiddenPolygons(HstObject* o) {
    return polygonObject(o) ? objectSelection(&polygonObject(o)->hiddenPolygons) : nullptr;
}
int32_t objVisibility(HstObject* o) { return fromHandle(o) && !fromHandle(o)->visible ? 1 : 0; }
HstObject* docFirstObject(HstDocument* d) {
    return fromHandle(d) ? toHandle(fromHandle(d)->firstObject()) : nullptr;
}

// ---- modelling commands ---------------------------------------------------------------------
int32_t modelingCommand(int32_t command, int32_t mode, HstDocument* d, HstObject* o, HstSettings* params) {
    Object* obj = fromHandle(o);
    if (!obj) return 0;
    static const Settings kNoParams;
    return runModelingCommand(command, mode, fromHandle(d), {obj}, params ? asSettings(params) : kNoParams) ? 1 : 0;
}
HstObject* objCurrentStateCopy(HstDocument* d, HstObject* o) {
    Object* obj = fromHandle(o);
    if (!obj) return nullptr;
    std::vector<std::unique_ptr<Object>> results;
    if (!runModelingCommand(CMD_CURRENT_STATE_TO_OBJECT, 0, fromHandle(d), {obj}, Settings{}, &results) ||
        results.empty())
        return nullptr;
    countHandle(1);
    return toHandle(results.front().release());
}
void objDestroy(HstObject* o) {
    if (!o) return;
    countHandle(-1);
    delete fromHandle(o);
}

}  // namespace

void fillDocumentApi(HostApi& t) {
    t.activeDocument = activeDoc;
    t.docActiveObjects = docActiveObjects;
    t.docActiveObject = docActiveObject;
    t.docSettings = docSettings;
    t.docPath = docPath;
    t.listCount = listCount;
    t.listAt = listAt;
    t.listDestroy = listDestroy;
    t.undoStart = undoStart;
    t.undoAdd = undoAdd;
    t.undoEnd = undoEnd;
    t.undoLast = undoLast;
    t.objType = objType;
    t.objFirstChild = objFirstChild;
    t.objNext = objNext;
    t.objName = objName;
    t.objMessage = objMessage;
    t.objGlobalMatrix = objGlobalMatrix;
    t.objDocument = objDocument;
    t.polyPointCount = polyPointCount;
    t.polyPolygonCount = polyPolygonCount;
    t.polyPoints = polyPoints;
    t.polyPolygons = polyPolygons;
    t.polyResize = polyResize;
    t.polyPointSelection = polyPointSelection;
    t.polyPolygonSelection = polyPolygonSelection;
    t.polyHiddenPoints = polyHiddenPoints;
    t.polyHiddenPolygons = polyHiddenPolygons;
    t.objVisibility = objVisibility;
    t.docFirstObject = docFirstObject;
    t.modelingCommand = modelingCommand;
    t.objCurrentStateCopy = objCurrentStateCopy;
    t.objDestroy = objDestroy;
}

void setActiveDocument(Document* doc) { tableState().activeDocument = doc; }
Document* activeDocument() { return tableState().activeDocument.load(); }

}  // namespace host
