// The numbers the host and the module agree on: plug-in identifiers, object and tag types, document
// settings, modelling commands and their settings, undo kinds, and the keys and kinds of the messages
// that travel as settings containers. Both sides take them from here and nowhere else.
//
// They live in their own namespace, opened to the global one below (the module uses them unqualified)
// and to the host's namespace by the host's headers (the host also writes host::TAG_UVW).
#pragma once

#include <cstdint>

namespace contract {

// Identifiers of the module's plug-ins, registered with the host and used for their dialogs, messages
// and special events.
constexpr int32_t VEXLOR_ID = 1015827;     // reduction command
constexpr int32_t TESSIK_ID = 1015828;     // reduction brush tool
constexpr int32_t OMBRIN_ID = 1016396;     // baking command
constexpr int32_t XOMBRIN85_ID = 1016397;  // normal-map shader

// Version of the plug-in interface the module's plug-ins are written for.
constexpr int32_t PLUGIN_INTERFACE_VERSION = 8500;

// Object types.
enum : int32_t {
    OBJECT_POLYGON = 5100,
    OBJECT_CAMERA = 5103,
    OBJECT_GROUP = 5140,
};

// Update messages an object can be told about.
enum : int32_t { MSG_UPDATE = 5, MSG_POINTS_CHANGED = 7 };

// Tag types.
enum : int32_t {
    TAG_POINTS = 5600,
    TAG_POLYGONS = 5604,
    TAG_SMOOTHING = 5612,
    TAG_UVW = 5671,
    TAG_POLYGON_SELECTION = 5673,
    TAG_POINT_SELECTION = 5674,
    TAG_FLOAT_MAP = 5682,
    TAG_NORMALS = 5711,
};

// Settings keys of the smoothing tag.
enum : int32_t { SMOOTHING_ANGLE_LIMIT = 1001, SMOOTHING_ANGLE = 1002 };

// Document settings: the editing mode, and its values.
enum : int32_t { DOC_EDITING_MODE = 1019 };
enum : int32_t { MODE_POINTS = 5, MODE_EDGES = 6, MODE_POLYGONS = 7, MODE_OBJECT = 12 };

// Undo entry for a full snapshot of one object.
enum : int32_t { UNDO_OBJECT_CHANGE = 41 };

// Modelling commands.
enum : int32_t {
    CMD_GROW_SELECTION = 204,
    CMD_SHRINK_SELECTION = 205,
    CMD_POINTS_TO_POLYGONS = 206,
    CMD_POLYGONS_TO_POINTS = 207,
    CMD_CLEANUP = 227,
    CMD_CURRENT_STATE_TO_OBJECT = 245,
};

// Which selection commands 204 and 205 work on.
enum : int32_t { SELECT_MODE_NONE = 0, SELECT_MODE_POINTS = 1, SELECT_MODE_POLYGONS = 2 };

// Parameters of the clean-up (227).
enum : int32_t {
    CLEANUP_TOLERANCE = 2076,       // real, merge distance (default 0)
    CLEANUP_MERGE_POINTS = 2077,    // bool, merge points closer than the tolerance
    CLEANUP_DROP_POLYGONS = 2078,   // bool, drop (0,0,0,0) and degenerate polygons
    CLEANUP_DROP_POINTS = 2079,     // bool, drop points that no polygon uses
};

// Messages (input events, drag-and-drop, timers, commands, special events) travel as settings
// containers with these keys.
enum : int32_t {
    HOST_MSG_ID = 0,              // int: the message kind
    DLG_MSG_VALUE1 = 1,           // int: first value of a special event or posted message
    DLG_MSG_VALUE2 = 2,           // int: second value of a special event
    HOST_MSG_DRAG_FINISHED = 5,   // bool: a drag-receive message that ends the drag
    DLG_MSG_DRAGGING = 6,         // bool: a command sent while a user area is still being dragged
    HOST_MSG_MOUSE_X = 0x69707678,
    HOST_MSG_MOUSE_Y = 0x69707679,
    HOST_MSG_CHANNEL = 0x69706361,
    DLG_MSG_DRAG_COUNT = 0x64726763,  // int: number of payload items of a drag-receive message
    DLG_MSG_DRAG_ITEMS = 0x64690000,  // item i: link at +2i, kind at +2i+1
};
// Message kinds.
enum : int32_t {
    HOST_MSGKIND_DRAG_RECEIVE = 10003,
    HOST_MSGKIND_INPUT = 100,
    DLG_MSGKIND_COMMAND = 0x636d6e64,
    DLG_MSGKIND_TIMER = 0x74696d72,
};
// Drag payload item kinds.
enum : int32_t { HOST_DRAG_OBJECT = 1, HOST_DRAG_TAG = 2 };
// Mouse drag loop answers: the button was released, the drag was cancelled, the drag goes on.
enum : int32_t { DLG_DRAG_RELEASED = 1, DLG_DRAG_CANCELLED = 2, DLG_DRAG_CONTINUE = 3 };

// How a bake ended: the value of the baking command's end message (OMBRIN_ID). Whoever waits for a
// bake reads its outcome here; the dialog's status line only shows it.
enum : int32_t { BAKE_END_FAILED = 0, BAKE_END_DONE = 1, BAKE_END_STOPPED = 2 };
// How a pass of the reduction command ended: the first value of its end event (VEXLOR_ID); the second
// value is the number of objects the pass worked on. NOTHING: no object could be taken in, so the
// pass changed nothing and left no undo step.
enum : int32_t {
    REDUCTION_END_FAILED = 0,
    REDUCTION_END_DONE = 1,
    REDUCTION_END_STOPPED = 2,
    REDUCTION_END_NOTHING = 3,
};

// Drag cursors of the baking dialog: nothing to drop on, a drop area that refuses the payload, one
// that takes it.
enum : int32_t { BAKE_CURSOR_NONE = 8, BAKE_CURSOR_REFUSED = 5, BAKE_CURSOR_ACCEPTED = 19 };

// Display formats of real gadgets: the gadget kind's own (percent for a percent gadget, plain
// otherwise), plain, or a fraction shown times 100 with "%".
enum : int32_t { HOST_FORMAT_DEFAULT = 0, HOST_FORMAT_REAL = 0x66726561, HOST_FORMAT_PERCENT = 1 };

// Bitmap drawing modes: copy, or blend with the source's alpha channel when it has one.
enum : int32_t { HOST_BLIT_COPY = 0, HOST_BLIT_ALPHA = 256 };

// Projection kinds of a view: a perspective camera, a free parallel one, and the six axis views.
enum : int32_t {
    HOST_PROJECTION_PERSPECTIVE = 0,
    HOST_PROJECTION_PARALLEL = 1,
    HOST_PROJECTION_LEFT = 2,
    HOST_PROJECTION_RIGHT = 3,
    HOST_PROJECTION_FRONT = 4,
    HOST_PROJECTION_BACK = 5,
    HOST_PROJECTION_TOP = 6,
    HOST_PROJECTION_BOTTOM = 7,
};

// A tool's mouse input: the input channels of the buttons in an input message, the button codes a
// drag is started with, and the flags of that start.
enum : int32_t { HOST_CHANNEL_LEFT = 1, HOST_CHANNEL_RIGHT = 2, HOST_CHANNEL_MIDDLE = 3 };
enum : int32_t { HOST_BUTTON_LEFT = 0xF000, HOST_BUTTON_RIGHT = 0xF001 };
enum : int32_t { HOST_DRAG_FLAGS_TOOL = 3 };

// View redraw flags a tool asks for after each step of a drag.
enum : int32_t { HOST_REDRAW_TOOL = 1282 };

// A tool's cursor information: keys of the result container, and the brush's cursor shape.
enum : int32_t { CURSOR_INFO_SHAPE = 1, CURSOR_INFO_HELP = 2 };
enum : int32_t { HOST_CURSOR_BRUSH = 19 };

// Shaders: the element type of shader nodes (for link resolution), the shader message that carries
// a shader node to link under the receiver, and the first stored-file version whose shader links
// need no conversion.
enum : int32_t { HOST_TYPE_SHADER = 5707, HOST_MSG_LINK_SHADER = 1001073, HOST_FILE_VERSION_LINKS = 8300 };

}  // namespace contract

using namespace contract;
