#include "StudioCommand.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "HostSession.h"
#include "host/formats/MeshFile.h"
#include "host/EventQueue.h"
#include "host/Services.h"
#include "host/ModuleLoader.h"
#include "host/studio/Studio.h"
#include "host/studio/StudioServer.h"
#include "host/HostTable.h"
#include "host/StatusBar.h"
#include "host/studio/StudioBrush.h"
#include "sources/HostInterface.h"
#include "sources/ResourceIds.h"

namespace fs = std::filesystem;

namespace app {

CLI::App* addStudioCommand(CLI::App& cli, StudioOptions& o) {
    CLI::App* cmd = cli.add_subcommand(
        "studio", "Open the files in the studio: a page in your browser with the 3D view, the dialogs and the brush");
    cmd->add_option("files", o.files, "Mesh files to open");
    cmd->add_option("--port", o.port, "Port on 127.0.0.1 to serve the page from (default: a free one)")
        ->check(CLI::Range(0, 65535));
    cmd->add_option("--grace", o.grace,
                    "Seconds to wait after the last page closed before the host ends (default 10)")
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("--unsaved-grace", o.unsavedGrace,
                    "Seconds to wait for a page to come back while the document has unsaved changes (default 600)")
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("--web-dir", o.webDir, "Folder of the studio page (default: web/ beside vexlor)");
    return cmd;
}

int runStudio(const std::string& moduleDir, const StudioOptions& o, std::ostream& out, std::ostream& err) {
    const std::string webDir = o.webDir.empty() ? (fs::path(host::executableFolder()) / "web").string() : o.webDir;
    std::error_code ec;
    if (!fs::is_regular_file(fs::path(webDir) / "index.html", ec)) {
        err << "vexlor studio: the page is missing (" << webDir << "/index.html); build the vexlor target again\n";
        return 1;
    }
    std::string error;
    std::unique_ptr<HostSession> session = HostSession::start(moduleDir, &error);
    if (!session) {
        err << "vexlor studio: " << error << "\n";
        return 1;
    }
    std::vector<host::Object*> selected;
    for (const std::string& f : o.files) {
        std::vector<host::Object*> loaded;
        if (!session->loadFile(f, &loaded, &error)) {
            err << "vexlor studio: " << error << "\n";
            return 1;
        }
        selected.insert(selected.end(), loaded.begin(), loaded.end());
    }
    session->select(selected);
    // Work an earlier run could not save is named before anything else happens to it.
    for (const std::string& f : o.files)
        if (const std::string kept = host::studio::recoveryPathFor(f); fs::exists(kept, ec))
            out << "vexlor studio: unsaved changes of an earlier session were kept in " << kept
                << " (open it to carry on)" << std::endl;

    host::DialogHost& dialogs = session->dialogs();
    host::studio::MainTasks tasks;
    host::studio::StudioServer server(webDir, tasks);
    host::studio::StudioHooks hooks;
    hooks.openCommand = [&](int32_t plugin, std::string* e) { return session->openCommand(plugin, e); };
    hooks.readFile = [](const std::string& path, host::Document& into, std::vector<host::Object*>* loaded,
                        std::string* e) { return host::formats::readMeshFile(path, into, loaded, e); };
    // Saving writes any format the host writes, chosen by the file's suffix.
    hooks.writeFile = [](const std::string& path, const std::vector<const host::Object*>& objects, std::string* e) {
        return host::formats::writeMeshFile(path, objects, e);
    };
    // The module's dialogs say what runs: the reduction dialog disables its settings while a pass
    // runs and its prepare button while a preview is held; the baking dialog its settings group.
    hooks.busy = [&]() -> std::string {
        if (HostDialogBase* d = dialogs.dialogOf(VEXLOR_ID); d && !dialogs.usable(d, IDC_VEXLOR_SETTINGS))
            return "a reduction runs";
        if (HostDialogBase* d = dialogs.dialogOf(OMBRIN_ID); d && !dialogs.usable(d, IDC_BAKE_SETTINGS))
            return "a bake runs";
        return {};
    };
    hooks.previewOpen = [&] {
        HostDialogBase* d = dialogs.dialogOf(VEXLOR_ID);
        const host::Gadget* prepare = d ? dialogs.gadget(d, IDC_VEXLOR_PREPARE) : nullptr;
        return prepare && !prepare->enabled;
    };
    hooks.collectingDialogs = {VEXLOR_ID};
    // The brush: the registered tool in a host viewport that takes the page's camera.
    std::unique_ptr<host::studio::StudioBrush> brush;
    const host::RegisteredPlugin* tool = host::PluginRegistry::main().find(TESSIK_ID);
    const auto idle = hooks.busy;
    hooks.busy = [&, idle]() -> std::string {
        if (brush && brush->dragging()) return "a stroke is being drawn";
        return idle();
    };
    hooks.toolState = [&]() -> std::string {
        return std::string("{\"brush\":") + (tool ? "true" : "false") +
               ",\"active\":" + (brush && brush->active() ? "true" : "false") + "}";
    };
    host::studio::Studio studio(session->document(), dialogs, server, hooks);
    studio.addRoutes();
    brush = std::make_unique<host::studio::StudioBrush>(
        session->document(), server, tasks, studio.sentMeshes(),
        tool ? static_cast<HostToolBase*>(tool->object) : nullptr, [&](host::Object* o) { return studio.idOf(o); });
    brush->addRoutes();
    studio.refresh();
    if (!server.start(o.port, &error)) {
        err << "vexlor studio: " << error << "\n";
        return 1;
    }
    out << "vexlor studio: open " << server.url() << " in your browser (Ctrl-C ends)" << std::endl;
    // The page shows the status bar (a step's error while brushing, a bake's progress): the terminal
    // keeps to what the host says about itself.
    host::StatusBar::main().setQuiet(true);

    // Ctrl-C ends the host even while its main thread is held (a long step, a stroke, a file that
    // would not open): a stroke under way is ended at once, and a main thread that has not come back
    // within kStuckSeconds is left behind.
    constexpr int kStuckSeconds = 5;
    std::atomic<bool> finished{false};
    std::thread watchdog([&] {
        while (!finished.load() && !interrupted()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (finished.load()) return;
        brush->abandon();
        tasks.wake();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStuckSeconds);
        while (!finished.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (finished.load()) return;
        const std::string what = tasks.running();
        const std::string message = "vexlor studio: the host is held" +
                                    (what.empty() ? std::string() : " (" + what + ")") +
                                    "; it ends now (nothing was saved that you did not save)\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, message.data(), message.size());
        std::_Exit(130);
    });

    bool pageGone = false, toldUnsaved = false;
    // The state is looked at after anything happened, and four times a second besides (a worker's
    // progress on the status bar, a worker's end).
    int64_t lastLook = host::clockMs();
    while (!interrupted()) {
        tasks.waitForWork(25);
        const int happened = tasks.runPending() + host::EventQueue::main().pump() + dialogs.tick();
        if (happened > 0 || host::clockMs() - lastLook >= 250) {
            studio.refresh();
            lastLook = host::clockMs();
        }
        // Unsaved changes are waited for longer: a page closed by mistake can come back for them.
        const bool unsaved = studio.unsaved();
        if (server.hadPages() && server.secondsWithoutPages() > (unsaved ? std::max(o.grace, o.unsavedGrace) : o.grace)) {
            pageGone = true;
            break;
        }
        if (unsaved && server.hadPages() && server.openPages() == 0 && !toldUnsaved &&
            server.secondsWithoutPages() > o.grace) {
            out << "vexlor studio: the last page was closed with unsaved changes; the host waits "
                << std::max(o.grace, o.unsavedGrace) << " s for a page at " << server.url() << std::endl;
            toldUnsaved = true;
        }
        if (server.openPages() > 0) toldUnsaved = false;
    }
    server.stop();
    tasks.runPending();  // answers nobody waits for any more
    finished = true;
    watchdog.join();
    host::StatusBar::main().setQuiet(false);
    brush.reset();  // closes the brush's panel while the module is still loaded
    // Unsaved changes are not thrown away: they go to the recovery file beside the document.
    std::string kept;
    studio.refresh();
    if (studio.unsaved()) {
        kept = studio.writeRecovery(&error);
        if (kept.empty()) err << "vexlor studio: unsaved changes could not be kept: " << error << "\n";
    }
    out << "vexlor studio: " << (pageGone ? "the last page was closed" : "stopped") << "; the host ends ("
        << (kept.empty() ? "nothing was saved that you did not save" : "unsaved changes were kept in " + kept) << ")"
        << std::endl;
    // A file still being read (its open was stopped, or the host ends during it) cannot be interrupted
    // inside its parser: the process ends without running its static objects' ends under that thread.
    if (host::studio::BackgroundRead::running() > 0) {
        out.flush();
        err.flush();
        std::_Exit(0);
    }
    return 0;
}

}  // namespace app
