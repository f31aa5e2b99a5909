// A running host: the loaded module, one document, the headless dialogs and the main-thread queue.
// The front end's commands use it to work the module's plug-ins as a person at the host would.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/Dialogs.h"
#include "host/Document.h"
#include "host/ModuleLoader.h"
#include "sources/HostInterface.h"

namespace app {

class HostSession {
public:
    // Loads the module from its folder and starts it; null with `error` set when it cannot.
    static std::unique_ptr<HostSession> start(const std::string& moduleFolder, std::string* error);
    // Closes every dialog the module opened, ends the module, forgets the document.
    ~HostSession();

    host::Document& document() { return *document_; }
    host::DialogHost& dialogs() { return host::DialogHost::main(); }

    // Reads a mesh file into the document; the objects read are listed in `loaded`.
    bool loadFile(const std::string& path, std::vector<host::Object*>* loaded, std::string* error);
    // Makes exactly these objects the active (selected) ones.
    void select(const std::vector<host::Object*>& objects);

    // Runs a command plug-in as a click on its menu entry would, and returns the dialog it opened.
    HostDialogBase* openCommand(int32_t pluginId, std::string* error);

    // Pumps the main-thread queue and the dialog timers until `done()` holds. A Ctrl-C (SIGINT) while
    // waiting runs `onInterrupt` once (it should ask the work to stop) and the wait goes on until done.
    // Returns false when interrupted.
    bool waitFor(const std::function<bool()>& done, const std::function<void()>& onInterrupt = {});

private:
    HostSession() = default;
    HostApi table_{};  // the table the module was started with, alive as long as the module
    std::unique_ptr<host::LoadedModule> module_;
    std::unique_ptr<host::Document> document_;
};

// The host interface version every later session reports to the module (--host-version); the
// host's own version unless set.
void setReportedHostVersion(int32_t version);

// True once SIGINT arrived since the last waitFor began (installed by HostSession).
bool interrupted();

}  // namespace app
