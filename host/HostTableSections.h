// The parts of the host table, one a section of the host interface: each fills its own entries of
// the table (HostTable.cpp assembles them), and the few helpers they share.
#pragma once

#include <utility>

#include "host/HostHandles.h"
#include "host/HostServices.h"
#include "sources/HostInterface.h"

namespace host {

void fillValueApi(HostApi& t);     // memory, strings, file names, console, clock, random, settings, text files
void fillThreadApi(HostApi& t);    // worker threads, main-thread events, status bar, view redraws
void fillDocumentApi(HostApi& t);  // documents, undo, objects, polygon objects, modelling commands
void fillTagApi(HostApi& t);       // tags and selection sets
void fillBitmapApi(HostApi& t);    // bitmaps
void fillPluginApi(HostApi& t);    // resources and plug-in registration
// The others: fillDialogApi, fillRenderApi (HostTable.h), fillViewportApi (viewport/Viewport.h).

// What the table keeps between calls, with the rest of the running host (HostServices.h): the
// table's functions take no context, so they find it there.
inline HostTableState& tableState() { return hostServices().table; }

// Handles made for the module are counted (liveHandles) from making to destroying.
template <class T, class... Args>
T* makeCounted(Args&&... args) {
    countHandle(1);
    return new T{std::forward<Args>(args)...};
}
template <class T>
void destroyCounted(T* p) {
    if (!p) return;
    countHandle(-1);
    delete p;
}

// The handle of one of an object's own selection sets (the same handle for the same set, living as
// long as the host).
HstSelection* objectSelection(SelectionSet* set);

}  // namespace host
