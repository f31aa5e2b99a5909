#include "HostSession.h"

#include <csignal>

#include "host/EventQueue.h"
#include "host/HostHandles.h"
#include "host/HostTable.h"
#include "host/formats/MeshFile.h"

namespace app {
namespace {

volatile std::sig_atomic_t gInterrupted = 0;

void onSigint(int) { gInterrupted = 1; }

int32_t gReportedVersion = HOST_INTERFACE_VERSION;

}  // namespace

bool interrupted() { return gInterrupted != 0; }

void setReportedHostVersion(int32_t version) { gReportedVersion = version; }

std::unique_ptr<HostSession> HostSession::start(const std::string& moduleFolder, std::string* error) {
    std::unique_ptr<HostSession> s(new HostSession());
    s->document_ = std::make_unique<host::Document>();
    host::setActiveDocument(s->document_.get());
    s->module_ = host::LoadedModule::open(moduleFolder, error);
    if (!s->module_) return nullptr;
    s->table_ = host::makeHostApi(gReportedVersion);
    if (!s->module_->startUp(&s->table_, error)) return nullptr;
    host::DialogHost::main();  // installs the dialogs as the main queue's receiver
    // From here on Ctrl-C is this session's to answer: one pressed while the input still loads stops
    // the work as soon as it starts waiting.
    gInterrupted = 0;
    std::signal(SIGINT, onSigint);
    return s;
}

HostSession::~HostSession() {
    // Dialogs may run work that touches the document: close them while both still exist.
    for (HostDialogBase* d : dialogs().openDialogs()) dialogs().close(d);
    host::EventQueue::main().pump();
    module_.reset();
    dialogs().reset();
    host::setActiveDocument(nullptr);
    document_.reset();
    std::signal(SIGINT, SIG_DFL);
}

bool HostSession::loadFile(const std::string& path, std::vector<host::Object*>* loaded, std::string* error) {
    if (!host::formats::readMeshFile(path, *document_, loaded, error)) return false;
    if (document_->path.empty()) document_->path = path;
    return true;
}

void HostSession::select(const std::vector<host::Object*>& objects) {
    document_->clearActive();
    for (host::Object* o : objects) document_->setActive(o, true);
}

HostDialogBase* HostSession::openCommand(int32_t pluginId, std::string* error) {
    const host::RegisteredPlugin* p = host::PluginRegistry::main().find(pluginId);
    if (!p || p->kind != HOST_PLUGIN_COMMAND) {
        if (error) *error = "the module has no command " + std::to_string(pluginId);
        return nullptr;
    }
    auto* command = static_cast<HostCommandBase*>(p->object);
    HstDocument* doc = host::toHandle(document_.get());
    if (command->state(doc) == 0) {
        if (error) *error = p->name + " cannot run here: select a polygon object first";
        return nullptr;
    }
    if (!command->execute(doc)) {
        if (error) *error = p->name + " did not open its dialog";
        return nullptr;
    }
    HostDialogBase* dialog = dialogs().dialogOf(pluginId);
    if (!dialog && error) *error = p->name + " opened no dialog";
    return dialog;
}

bool HostSession::waitFor(const std::function<bool()>& done, const std::function<void()>& onInterrupt) {
    bool askedToStop = false;
    host::EventQueue::main().pumpUntil(done, -1, [&] {
        dialogs().tick();
        if (gInterrupted && !askedToStop) {
            askedToStop = true;
            if (onInterrupt) onInterrupt();
        }
    });
    return !askedToStop;
}

}  // namespace app
