// The running host's services, owned in one place: the main-thread queue, the headless dialogs, the
// status bar, the console, the registry of the module's plug-ins, and what the host table keeps
// between calls.
//
// Why one instance reached through hostServices() rather than objects passed to whoever needs them:
// the module reaches the host only through the host table's C functions, which carry no context
// argument (the table's layout is the module's interface and is fixed), so those functions need one
// place to find the host. The front end's commands, the studio and the tests reach the same
// instance the same way. The classes' own main() (EventQueue::main(), DialogHost::main(),
// StatusBar::main(), Console::main(), PluginRegistry::main()) are shorthands for its members; no
// other instance of them is global.
//
// Made on first use, its members in the order below; never destroyed, because worker threads the
// module started and the module's own static objects may still call into the host while the process
// exits.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "host/Dialogs.h"
#include "host/EventQueue.h"
#include "host/HostHandles.h"
#include "host/PluginRegistry.h"
#include "host/Services.h"
#include "host/StatusBar.h"
#include "host/Threads.h"

namespace host {

// What the host table's functions keep between calls.
struct HostTableState {
    // Handles made for the module and not yet destroyed (liveHandles).
    std::atomic<long> liveHandles{0};
    // The document the module sees as active.
    std::atomic<Document*> activeDocument{nullptr};
    // View redraws the module asked for, in order, until someone takes them.
    std::mutex redrawMutex;
    std::vector<int32_t> redraws;
    // The host thread of each module thread object: it runs the object's main and asks its break test.
    std::mutex threadsMutex;
    std::unordered_map<HostThreadBase*, std::unique_ptr<Thread>> threads;
    // An object's own selection sets as handed to the module: one handle a set, the same each time.
    std::mutex selectionsMutex;
    std::unordered_map<SelectionSet*, std::unique_ptr<HstSelection>> objectSelections;
};

struct HostServices {
    HostServices();
    HostServices(const HostServices&) = delete;
    HostServices& operator=(const HostServices&) = delete;

    EventQueue events;
    DialogHost dialogs;  // takes the queue's events (installed by the constructor)
    StatusBar statusBar;
    Console console;
    PluginRegistry plugins;
    HostTableState table;
};

// The one instance of the running host.
HostServices& hostServices();

}  // namespace host
