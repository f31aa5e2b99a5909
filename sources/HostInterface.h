// The interface between the host application and this module: the C table of host operations that
// the host hands over at init, and the abstract plug-in classes whose virtual operations the host
// calls. This is the only header that both sides include.
//
// Handles are opaque: the module never sees the host's records, only pointers it passes back.
// Every operation that makes a handle has a matching destroy; whoever makes a handle destroys it.
#pragma once

#include <cstdint>

#include "sources/HostContract.h"

// Interface version reported by our host in the table's first 32-bit word.
#define HOST_INTERFACE_VERSION 8500
// Oldest host interface the module accepts.
#define HOST_MIN_INTERFACE_VERSION 7500

// Plug-in kinds passed at registration.
#define HOST_PLUGIN_SHADER 2
#define HOST_PLUGIN_COMMAND 7
#define HOST_PLUGIN_TOOL 14

// Command state flag: the command can run.
#define HOST_CMD_ENABLED 0x40000000

extern "C" {

typedef struct HstString HstString;
typedef struct HstFilename HstFilename;
typedef struct HstResource HstResource;
typedef struct HstBitmap HstBitmap;
typedef struct HstSettings HstSettings;
typedef struct HstDocument HstDocument;
typedef struct HstObject HstObject;
typedef struct HstTag HstTag;
typedef struct HstSelection HstSelection;
typedef struct HstObjectList HstObjectList;
typedef struct HstRandom HstRandom;
typedef struct HstRenderObject HstRenderObject;

// One polygon of a polygon object: four point indices; a triangle has c == d.
struct HostPolygon {
    int32_t a, b, c, d;
};

}  // extern "C"

class HostCommandBase;
class HostDialogBase;
class HostUserAreaBase;
class HostThreadBase;
class HostToolBase;
class HostShaderBase;

// Makes one shader instance for the host (shaders are instantiated per use).
typedef HostShaderBase* (*HostShaderAllocator)();

extern "C" {

struct HostApi {
    int32_t version;  // must stay the first 32-bit word
    int32_t size;     // sizeof(HostApi) as the host built it

    // Memory: a block or null; size 0 is taken as 1. free ignores null.
    void* (*memAlloc)(int64_t size, int32_t line, const char* tag);
    void (*memFree)(void* block);

    // Strings (value semantics through handles).
    HstString* (*strMake)(const char* text);
    HstString* (*strCopy)(const HstString* s);
    void (*strDestroy)(HstString* s);
    HstString* (*strConcat)(const HstString* a, const HstString* b);  // a new string
    int32_t (*strLength)(const HstString* s);
    const char* (*strChars)(const HstString* s);  // valid while s lives
    HstString* (*strFromInt)(int64_t value);
    HstString* (*strFromReal)(double value, int32_t decimals);  // decimals < 0: shortest exact text
    void (*strAssign)(HstString* s, const char* text);

    // File names.
    HstFilename* (*fnMake)(const char* path);
    HstFilename* (*fnCopy)(const HstFilename* f);
    void (*fnDestroy)(HstFilename* f);
    HstFilename* (*fnJoin)(const HstFilename* folder, const char* name);  // a new file name
    void (*fnSetSuffix)(HstFilename* f, const char* suffix);
    int32_t (*fnIsEmpty)(const HstFilename* f);
    const char* (*fnChars)(const HstFilename* f);
    void (*fnAssign)(HstFilename* f, const char* path);

    // Console: one diagnostic line.
    void (*consolePrint)(const HstString* line);

    // Resources of a module folder (strings and dialog layouts under res/).
    HstResource* (*resOpen)(const HstFilename* moduleFolder);  // null when there are none
    void (*resClose)(HstResource* r);
    HstString* (*resString)(HstResource* r, int32_t id);  // the empty string when missing
    int32_t (*resRegisterDescription)(HstResource* r, const char* name);  // 1 on success

    // Status bar and views.
    void (*statusBar)(int32_t percent);
    void (*statusText)(const HstString* text);
    void (*statusSpin)();
    void (*statusClear)();
    void (*viewsRedraw)(int32_t flags);

    // Clock and random numbers.
    int64_t (*clockMs)();
    HstRandom* (*randomMake)(uint32_t seed);
    void (*randomDestroy)(HstRandom* r);
    double (*randomReal)(HstRandom* r);  // in [0, 1)

    // Worker threads. The thread object is the module's; the host runs its main on a new thread.
    void (*threadCreate)(HostThreadBase* t);   // from the base constructor
    void (*threadDestroy)(HostThreadBase* t);  // from the base destructor: stops and waits first
    int32_t (*threadStart)(HostThreadBase* t);
    int32_t (*threadIsRunning)(HostThreadBase* t);
    void (*threadEnd)(HostThreadBase* t, int32_t wait);  // asks for a stop
    void (*threadWait)(HostThreadBase* t);
    int32_t (*threadTestBreak)(HostThreadBase* t);  // stop asked, or the thread's own test says so

    // Events to the main thread: special events reach every open dialog's core message; messages
    // reach the dialog of a plug-in id.
    void (*specialEvent)(int32_t id, int32_t value1, int32_t value2);
    void (*postMessage)(int32_t pluginId, int32_t value);

    // Documents.
    HstDocument* (*activeDocument)();
    HstObjectList* (*docActiveObjects)(HstDocument* doc, int32_t topOnly);
    HstObject* (*docActiveObject)(HstDocument* doc);
    HstSettings* (*docSettings)(HstDocument* doc);  // owned by the document
    HstFilename* (*docPath)(HstDocument* doc);       // a new file name: the document's folder
    int32_t (*listCount)(const HstObjectList* l);
    HstObject* (*listAt)(const HstObjectList* l, int32_t i);
    void (*listDestroy)(HstObjectList* l);

    // Undo.
    int32_t (*undoStart)(HstDocument* doc);
    int32_t (*undoAdd)(HstDocument* doc, int32_t kind, HstObject* obj);
    int32_t (*undoEnd)(HstDocument* doc);
    int32_t (*undoLast)(HstDocument* doc);

    // Objects.
    int32_t (*objType)(HstObject* obj);
    HstObject* (*objFirstChild)(HstObject* obj);
    HstObject* (*objNext)(HstObject* obj);
    HstString* (*objName)(HstObject* obj);  // a new string
    void (*objMessage)(HstObject* obj, int32_t id);
    void (*objGlobalMatrix)(HstObject* obj, double out[12]);  // offset, v1, v2, v3
    HstDocument* (*objDocument)(HstObject* obj);

    // Polygon objects.
    int32_t (*polyPointCount)(HstObject* obj);
    int32_t (*polyPolygonCount)(HstObject* obj);
    float* (*polyPoints)(HstObject* obj);            // 3 floats per point
    HostPolygon* (*polyPolygons)(HstObject* obj);
    int32_t (*polyResize)(HstObject* obj, int32_t points, int32_t polygons);  // tags follow
    HstSelection* (*polyPointSelection)(HstObject* obj);
    HstSelection* (*polyPolygonSelection)(HstObject* obj);
    HstSelection* (*polyHiddenPoints)(HstObject* obj);
    HstSelection* (*polyHiddenPolygons)(HstObject* obj);

    // Tags.
    HstTag* (*objFirstTag)(HstObject* obj);
    HstTag* (*tagNext)(HstTag* tag);
    HstTag* (*objTagOfType)(HstObject* obj, int32_t type, int32_t index);
    int32_t (*tagType)(HstTag* tag);
    HstObject* (*tagObject)(HstTag* tag);
    HstString* (*tagName)(HstTag* tag);  // a new string
    void* (*tagData)(HstTag* tag);       // UVW rows, normal rows, float values; null for others
    int32_t (*tagDataCount)(HstTag* tag);
    HstSelection* (*tagSelection)(HstTag* tag);  // for selection tags
    HstTag* (*objDetachTag)(HstObject* obj, HstTag* tag);  // the tag is then the caller's
    // Gives a detached tag back as the object's last tag: objInsertTag below with an index past the
    // end. The module uses that one; this entry keeps its place because the table only ever grows.
    void (*objAttachTag)(HstObject* obj, HstTag* tag);
    void (*tagDestroy)(HstTag* tag);                       // a detached tag

    // Selection sets. Sets made here grow as members are added; an object's sets have its size.
    HstSelection* (*selMake)();
    void (*selDestroy)(HstSelection* s);
    int32_t (*selCopyFrom)(HstSelection* dst, const HstSelection* src);
    int32_t (*selIsSelected)(const HstSelection* s, int32_t i);
    int32_t (*selSelect)(HstSelection* s, int32_t i);
    int32_t (*selDeselect)(HstSelection* s, int32_t i);
    int32_t (*selToggle)(HstSelection* s, int32_t i);
    void (*selDeselectAll)(HstSelection* s);
    int32_t (*selCount)(const HstSelection* s);
    int32_t (*selRangeCount)(const HstSelection* s);
    int32_t (*selRange)(const HstSelection* s, int32_t index, int32_t* first, int32_t* last);
    // Writes one byte per element 0..count-1 (1 = member).
    void (*selMemberBytes)(const HstSelection* s, uint8_t* out, int32_t count);

    // Settings containers.
    HstSettings* (*setsMake)();
    void (*setsDestroy)(HstSettings* s);
    int32_t (*setsGetInt)(const HstSettings* s, int32_t key, int32_t def);
    double (*setsGetReal)(const HstSettings* s, int32_t key, double def);
    void (*setsGetVector)(const HstSettings* s, int32_t key, const double def[3], double out[3]);
    HstString* (*setsGetString)(const HstSettings* s, int32_t key);  // a new string ("" when absent)
    int32_t (*setsGetBool)(const HstSettings* s, int32_t key, int32_t def);
    void* (*setsGetLink)(const HstSettings* s, int32_t key);
    void (*setsSetInt)(HstSettings* s, int32_t key, int32_t v);
    void (*setsSetReal)(HstSettings* s, int32_t key, double v);
    void (*setsSetVector)(HstSettings* s, int32_t key, const double v[3]);
    void (*setsSetString)(HstSettings* s, int32_t key, const HstString* v);
    void (*setsSetBool)(HstSettings* s, int32_t key, int32_t v);
    void (*setsSetLink)(HstSettings* s, int32_t key, void* target);
    int32_t (*setsHas)(const HstSettings* s, int32_t key);

    // Modelling commands (204-207 selections, 227 clean-up); 1 on success.
    int32_t (*modelingCommand)(int32_t command, int32_t mode, HstDocument* doc, HstObject* obj,
                               HstSettings* params);
    // Command 245: a new polygon copy of an object and its children, not in any document; the
    // caller frees it with objDestroy.
    HstObject* (*objCurrentStateCopy)(HstDocument* doc, HstObject* obj);
    void (*objDestroy)(HstObject* obj);

    // Bitmaps and image files.
    HstBitmap* (*bmpMake)();
    void (*bmpDestroy)(HstBitmap* b);
    int32_t (*bmpInit)(HstBitmap* b, int32_t width, int32_t height, int32_t bitsPerPixel);  // 1 on success
    int32_t (*bmpLoad)(HstBitmap* b, const HstFilename* path);                               // 1 on success
    int32_t (*bmpSave)(HstBitmap* b, const HstFilename* path, int32_t format);               // 1 on success
    int32_t (*bmpWidth)(const HstBitmap* b);
    int32_t (*bmpHeight)(const HstBitmap* b);
    int32_t (*bmpBitsPerPixel)(const HstBitmap* b);
    void (*bmpSetPixel)(HstBitmap* b, int32_t x, int32_t y, int32_t r, int32_t g, int32_t bl);
    void (*bmpGetPixel)(const HstBitmap* b, int32_t x, int32_t y, int32_t* r, int32_t* g, int32_t* bl);
    void (*bmpSetPixel16)(HstBitmap* b, int32_t x, int32_t y, int32_t r, int32_t g, int32_t bl);
    // Float channels (1 grey or 3 RGB) for images saved as OpenEXR; 1 on success.
    int32_t (*bmpInitFloat)(HstBitmap* b, int32_t width, int32_t height, int32_t channels);
    // Any bitmap: float channels as they are, 8- and 16-bit ones scaled to [0, 1]; grey sets take the
    // mean of r, g, b and reads give the grey value three times.
    void (*bmpSetPixelFloat)(HstBitmap* b, int32_t x, int32_t y, float r, float g, float bl);
    void (*bmpGetPixelFloat)(const HstBitmap* b, int32_t x, int32_t y, float* r, float* g, float* bl);

    // Plug-in registration; the object belongs to the host once registered. 1 on success.
    // Command and tool objects must live in a block from memAlloc: the host ends them by calling
    // their virtual destructor and then memFree on the object's address.
    int32_t (*registerPlugin)(int32_t kind, int32_t id, const HstString* name, int32_t info, HstBitmap* icon,
                              const HstString* help, void* object, HostShaderAllocator shaderAlloc,
                              int32_t version);

    // Dialogs. A dialog is identified by its module object.
    int32_t (*dlgOpen)(HostDialogBase* d, int32_t pluginId, int32_t x, int32_t y, int32_t w, int32_t h);
    int32_t (*dlgRestore)(HostDialogBase* d, int32_t pluginId, int32_t subId, void* layoutData);
    void (*dlgClose)(HostDialogBase* d);
    void (*dlgForget)(HostDialogBase* d);  // from the base destructor
    int32_t (*dlgLoadLayout)(HostDialogBase* d, int32_t layoutId);
    int32_t (*dlgAttachUserArea)(HostDialogBase* d, int32_t gadget, HostUserAreaBase* area);
    int32_t (*dlgSetInt)(HostDialogBase* d, int32_t gadget, int32_t v, int32_t min, int32_t max, int32_t step);
    int32_t (*dlgSetReal)(HostDialogBase* d, int32_t gadget, double v, double min, double max, double step,
                          int32_t format);
    int32_t (*dlgSetBool)(HostDialogBase* d, int32_t gadget, int32_t v);
    int32_t (*dlgSetString)(HostDialogBase* d, int32_t gadget, const HstString* v);
    int32_t (*dlgSetFilename)(HostDialogBase* d, int32_t gadget, const HstFilename* v);
    int32_t (*dlgSetColor)(HostDialogBase* d, int32_t gadget, const double color[3], double brightness,
                           double maxBrightness, int32_t flags);
    int32_t (*dlgGetInt)(HostDialogBase* d, int32_t gadget, int32_t* out);
    int32_t (*dlgGetReal)(HostDialogBase* d, int32_t gadget, double* out);
    int32_t (*dlgGetBool)(HostDialogBase* d, int32_t gadget, int32_t* out);
    int32_t (*dlgGetString)(HostDialogBase* d, int32_t gadget, HstString* out);
    int32_t (*dlgGetFilename)(HostDialogBase* d, int32_t gadget, HstFilename* out);
    int32_t (*dlgGetColor)(HostDialogBase* d, int32_t gadget, double color[3], double* brightness);
    int32_t (*dlgEnable)(HostDialogBase* d, int32_t gadget, int32_t on);
    void (*dlgSetTimer)(HostDialogBase* d, int32_t periodMs);
    int32_t (*dlgGadgetRect)(HostDialogBase* d, int32_t gadget, int32_t out[4]);  // x, y, w, h
    void (*dlgSetDragCursor)(HostDialogBase* d, int32_t cursor);
    // The payload of a drag-receive message: count, then items with their kind.
    int32_t (*dragItemCount)(const HstSettings* msg);
    void* (*dragItem)(const HstSettings* msg, int32_t i, int32_t* kind);
    // Host file chooser; 1 when a file was chosen (and `f` updated).
    int32_t (*fileChoose)(HstFilename* f, int32_t forSave, const char* title);

    // User areas.
    void (*uaRedraw)(HostUserAreaBase* a);
    void (*uaSize)(HostUserAreaBase* a, int32_t* w, int32_t* h);
    void (*uaBorderSize)(HostUserAreaBase* a, int32_t style, int32_t out[4]);  // left, top, right, bottom
    void (*uaDrawBorder)(HostUserAreaBase* a, int32_t style);
    void (*uaClear)(HostUserAreaBase* a, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    void (*uaSetPen)(HostUserAreaBase* a, double r, double g, double b);
    void (*uaDrawLine)(HostUserAreaBase* a, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    void (*uaDrawBitmap)(HostUserAreaBase* a, HstBitmap* b, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                         int32_t dx, int32_t dy, int32_t dw, int32_t dh, int32_t mode);
    // Tells the dialog that the area's gadget changed (command with the dragging flag).
    void (*uaNotify)(HostUserAreaBase* a, int32_t dragging);
    // Mouse drags inside an area or a view: start, then steps until the button is released.
    int32_t (*mouseDragStart)(int32_t button, double x, double y, int32_t flags);
    int32_t (*mouseDrag)(double* dx, double* dy, HstSettings* channels);  // 3 while the drag goes on
    int32_t (*mouseDragEnd)();                                            // 1 when cancelled

    // Text files: writes `text` to `path` through a temporary file renamed into place, so that a
    // failed write leaves no half-written file. 1 on success.
    int32_t (*fileWriteText)(const HstFilename* path, const char* text);
    // The settings container a tag keeps (the smoothing tag's switch 1001 and angle 1002); null for
    // tags without one. Owned by the tag.
    HstSettings* (*tagSettings)(HstTag* tag);
    // An object's visibility in the editor: 0 on, 1 off, 2 as its parent.
    int32_t (*objVisibility)(HstObject* obj);
    // The first top-level object of a document (objNext walks the others), or null.
    HstObject* (*docFirstObject)(HstDocument* doc);
    // Gives a detached tag back at a place among the object's tags: 0 makes it the first, an index
    // past the last tag (or a negative one) the last.
    void (*objInsertTag)(HstObject* obj, HstTag* tag, int32_t index);

    // Views, as the host hands them to a tool's mouse input and draw operations (`view`).
    // The view's projection kind (HOST_PROJECTION_*).
    int32_t (*viewProjection)(void* view);
    // The world point under the screen position (x, y) (pixels from the top left) at `depth` world
    // units along the view direction; depth 0 is the near point (the eye of a perspective view, the
    // view plane of a parallel one). 1 on success; 0 for a position outside the view.
    int32_t (*viewScreenToWorld)(void* view, double x, double y, double depth, double out[3]);
    // Draws a filled polygon of `count` corners (3 or 4) given in world coordinates (x, y, z per
    // corner), each corner with its own colour (r, g, b from 0 to 1), over what the view shows.
    void (*viewDrawPolygon)(void* view, int32_t count, const double* points, const double* colours);
    // Tells the host that the document changed (flags 0: a plain change).
    void (*eventAdd)(int32_t flags);
    // Worker threads a module may run side by side for one long task: the host's setting, by
    // default the number of processor cores (at least 1).
    int32_t (*workerThreadCount)();
    // Memory accounting: the highest number of bytes held by blocks of memAlloc since the last call
    // with `restart` non-zero, which starts the next measurement at the bytes held now.
    int64_t (*memPeakBytes)(int32_t restart);

    // ---- Shader nodes and rendering ----------------------------------------------------------
    // A shader node is the host's element for one use of a shader in a material; the plug-in
    // slots receive it as `node`. Render-init data, channel data and render data are the host's
    // records for one render start and one shading sample.
    // The node's parameters (owned by the node), and the document it belongs to (null when none).
    HstSettings* (*shaderSettings)(void* node);
    HstDocument* (*shaderDocument)(void* node);
    // The element linked under `key` of `settings`, when it belongs to `doc` and is of `type`
    // (HOST_TYPE_SHADER for shader nodes); null otherwise.
    void* (*linkResolve)(const HstSettings* settings, int32_t key, HstDocument* doc, int32_t type);
    // Inserts shader node `child` under `node` and links it under `key`; refused (0) when that would
    // put a node under itself.
    int32_t (*shaderInsertChild)(void* node, void* child, int32_t key);
    // Passes a message to a shader node's own shader; its answer.
    int32_t (*shaderMessage)(void* node, int32_t type, void* data);
    // Reading a stored shader: the file's format version, and the conversion of a link stored
    // under `key` in the old format (1 on success).
    int32_t (*fileVersion)(void* file);
    int32_t (*shaderConvertOldLink)(void* node, void* file, int32_t key);
    // Render start: the render document and the node being prepared.
    HstDocument* (*renderInitDocument)(void* renderInit);
    void* (*renderInitNode)(void* renderInit);
    // A node's render start and end, and one sample of its colour at the channel data.
    int32_t (*shaderInitRender)(void* node, void* renderInit);
    void (*shaderFreeRender)(void* node);
    void (*shaderSample)(void* node, void* channelData, float colour[3]);
    // One shading sample: its render data (null when absent), the hit id, the current texture's
    // UVW-set index, and where the hit lies in its polygon (answers 1 when in a quad's second
    // triangle a, d, c; w1, w2 weigh the triangle's second and third corner).
    void* (*channelRenderData)(void* channelData);
    int32_t (*channelHitId)(void* channelData);
    int32_t (*channelUvwSet)(void* channelData);
    int32_t (*channelHitPlace)(void* channelData, double* w1, double* w2);
    HstRenderObject* (*renderDataObject)(void* renderData);  // null when absent
    void (*renderDataSetNormal)(void* renderData, const double normal[3]);
    // The rendered object: UVW sets (index 1 up to count - 1 name one each), points in render
    // space (3 floats each), polygons, the polygon of a hit id (-1 when none), a polygon's four
    // UVWs in a set (12 floats, corners a, b, c, d; 1 on success), and the smooth surface normal
    // of a polygon at the position of one of its corners (1 on success).
    int32_t (*robjUvwSetCount)(HstRenderObject* ro);
    int32_t (*robjPointCount)(HstRenderObject* ro);
    int32_t (*robjPolygonCount)(HstRenderObject* ro);
    const float* (*robjPoints)(HstRenderObject* ro);
    const HostPolygon* (*robjPolygons)(HstRenderObject* ro);
    int32_t (*robjPolygonOfHit)(HstRenderObject* ro, int32_t hitId);
    int32_t (*robjPolygonUvw)(HstRenderObject* ro, int32_t set, int32_t polygon, float out[12]);
    int32_t (*robjSmoothNormal)(HstRenderObject* ro, int32_t polygon, const double position[3], double out[3]);
};

}  // extern "C"

// The module's exported entry.
extern "C" int32_t hst_main(int32_t action, void* p1, void* p2, void* p3);
typedef int32_t (*HostMainFunction)(int32_t action, void* p1, void* p2, void* p3);

enum : int32_t {
    HST_ACTION_INIT = 1,
    HST_ACTION_START = 2,
    HST_ACTION_END = 3,
    HST_ACTION_QUERY = 4,
    HST_ACTION_MESSAGE = 6,
};

// ---------------------------------------------------------------------------------------------
// Plug-in classes. The host calls these virtual operations; their order is the host's slot order
// and must not change. Defaults are the host's default behaviour.

class HostCommandBase {
public:
    virtual ~HostCommandBase() = default;
    virtual int32_t execute(HstDocument* /*doc*/) { return 1; }
    virtual int32_t state(HstDocument* /*doc*/) { return HOST_CMD_ENABLED; }
    virtual int32_t restoreLayout(void* /*layoutData*/) { return 0; }
    virtual int32_t message(int32_t /*type*/, void* /*data*/) { return 1; }
};

class HostDialogBase {
public:
    virtual ~HostDialogBase() = default;
    virtual int32_t createLayout() { return 1; }
    virtual int32_t initValues() { return 1; }
    virtual int32_t coreMessage(int32_t /*id*/, const HstSettings* /*msg*/) { return 1; }
    virtual int32_t validate() { return 1; }
    virtual int32_t command(int32_t /*gadget*/, const HstSettings* /*msg*/) { return 1; }
    virtual int32_t askClose() { return 0; }  // 0: the dialog may close
    virtual void timer(const HstSettings* /*msg*/) {}
    virtual void destroyWindow() {}
    virtual int32_t message(const HstSettings* /*msg*/, HstSettings* /*result*/) { return 0; }
    // Slot 11, used by sub-dialogs (tool settings panels).
    virtual int32_t initDialogValues() { return 1; }
};

class HostUserAreaBase {
public:
    virtual ~HostUserAreaBase() = default;
    virtual int32_t init() { return 1; }
    virtual int32_t initValues() { return 1; }
    virtual int32_t minimumSize(int32_t* w, int32_t* h) {
        *w = 0;
        *h = 0;
        return 0;
    }
    virtual void sized(int32_t /*w*/, int32_t /*h*/) {}
    virtual void draw(int32_t /*x1*/, int32_t /*y1*/, int32_t /*x2*/, int32_t /*y2*/) {}
    virtual int32_t inputEvent(const HstSettings* /*msg*/) { return 0; }
    virtual void timer(const HstSettings* /*msg*/) {}
    virtual int32_t message(const HstSettings* /*msg*/, HstSettings* /*result*/) { return 0; }
    virtual int32_t cursorInfo(HstSettings* /*result*/) { return 0; }
    virtual void activationChanged(int32_t /*active*/) {}
};

class HostThreadBase {
public:
    virtual ~HostThreadBase() = default;
    virtual int32_t testBreak() { return 0; }
    virtual void main() = 0;
};

class HostToolBase {
public:
    virtual ~HostToolBase() = default;
    virtual int32_t initTool(HstDocument* /*doc*/, HstSettings* /*settings*/) { return 1; }
    virtual void freeTool(HstDocument* /*doc*/, HstSettings* /*settings*/) {}
    virtual void initDefaultSettings(HstDocument* /*doc*/, HstSettings* /*settings*/) {}
    virtual int32_t keyboardInput(HstDocument* /*doc*/, HstSettings* /*settings*/, const HstSettings* /*msg*/) {
        return 0;
    }
    virtual int32_t mouseInput(HstDocument* /*doc*/, HstSettings* /*settings*/, void* /*view*/, void* /*window*/,
                               const HstSettings* /*msg*/) {
        return 0;
    }
    virtual int32_t state(HstDocument* /*doc*/) { return HOST_CMD_ENABLED; }
    virtual int32_t cursorInfo(HstDocument* /*doc*/, HstSettings* /*settings*/, void* /*view*/, double /*x*/,
                               double /*y*/, HstSettings* /*result*/) {
        return 1;
    }
    virtual int32_t draw(HstDocument* /*doc*/, HstSettings* /*settings*/, void* /*view*/, int32_t /*flags*/) {
        return 0;
    }
    virtual int32_t message(HstDocument* /*doc*/, HstSettings* /*settings*/, int32_t /*type*/, void* /*data*/) {
        return 1;
    }
    virtual int32_t getCursorInfo(HstSettings* /*result*/) { return 0; }
    virtual int32_t getDDescription(HstSettings* /*description*/) { return 0; }
    virtual HostDialogBase* createSettingsPanel(HstSettings* /*settings*/) { return nullptr; }
};

class HostShaderBase {
public:
    virtual ~HostShaderBase() = default;
    virtual int32_t init(void* /*node*/) { return 1; }
    virtual int32_t copyTo(void* /*dest*/) { return 1; }
    virtual int32_t read(void* /*node*/, void* /*file*/, int32_t /*level*/) { return 1; }
    virtual int32_t write(void* /*node*/, void* /*file*/) { return 1; }
    virtual int32_t message(void* /*node*/, int32_t /*type*/, void* /*data*/) { return 1; }
    virtual int32_t describe(void* /*node*/) { return 1; }
    virtual int32_t getParameter(void* /*node*/, int32_t /*id*/) { return 0; }
    virtual int32_t setParameter(void* /*node*/, int32_t /*id*/) { return 0; }
    virtual int32_t enableParameter(void* /*node*/, int32_t /*id*/) { return 1; }
    virtual int32_t translate(void* /*node*/) { return 1; }
    virtual int32_t isInstanceOf(int32_t /*type*/) { return 0; }
    virtual int32_t branchInfo(void* /*node*/) { return 0; }
    virtual int32_t reserved14() { return 0; }
    virtual int32_t reserved15() { return 0; }
    virtual int32_t renderInfo() { return 0; }
    virtual int32_t initRender(void* /*renderInit*/) { return 1; }
    virtual void freeRender() {}
    virtual void output(void* /*channelData*/, float /*colour*/[3]) {}
};
