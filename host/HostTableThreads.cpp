// The worker thread, main-thread event, status bar and view redraw entries of the host table: what
// a running command uses to do its work off the main thread and to report on it.
#include "host/HostTable.h"
#include "host/HostServices.h"
#include "host/HostTableSections.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "host/EventQueue.h"
#include "host/HostHandles.h"
#include "host/StatusBar.h"
#include "host/Threads.h"

namespace host {
namespace {

// ---- status bar and views -------------------------------------------------------------------
void statusBarPercent(int32_t percent) { hostServices().statusBar.bar(percent); }
void statusText(const HstString* t) { hostServices().statusBar.text(t ? t->text : ""); }
void statusSpin() { hostServices().statusBar.spin(); }
void statusClear() { hostServices().statusBar.clear(); }
void viewsRedraw(int32_t flags) {
    std::lock_guard<std::mutex> lock(tableState().redrawMutex);
    tableState().redraws.push_back(flags);
}

// ---- threads --------------------------------------------------------------------------------
// Each module thread object gets a host thread that runs its main and asks its own break test.
Thread* hostThread(HostThreadBase* t) {
    std::lock_guard<std::mutex> lock(tableState().threadsMutex);
    auto it = tableState().threads.find(t);
    return it == tableState().threads.end() ? nullptr : it->second.get();
}

void threadCreate(HostThreadBase* t) {
    if (!t) return;
    auto thread = std::make_unique<Thread>([t](Thread&) { t->main(); }, [t] { return t->testBreak() != 0; });
    std::lock_guard<std::mutex> lock(tableState().threadsMutex);
    tableState().threads[t] = std::move(thread);
}
void threadDestroy(HostThreadBase* t) {
    std::unique_ptr<Thread> thread;
    {
        std::lock_guard<std::mutex> lock(tableState().threadsMutex);
        auto it = tableState().threads.find(t);
        if (it == tableState().threads.end()) return;
        thread = std::move(it->second);
        tableState().threads.erase(it);
    }
    thread->end(true);
}
int32_t threadStart(HostThreadBase* t) {
    Thread* h = hostThread(t);
    return h && h->start() ? 1 : 0;
}
int32_t threadIsRunning(HostThreadBase* t) {
    Thread* h = hostThread(t);
    return h && h->isRunning() ? 1 : 0;
}
void threadEnd(HostThreadBase* t, int32_t wait) {
    if (Thread* h = hostThread(t)) h->end(wait != 0);
}
void threadWait(HostThreadBase* t) {
    if (Thread* h = hostThread(t)) h->wait();
}
int32_t threadTestBreak(HostThreadBase* t) {
    Thread* h = hostThread(t);
    return h && h->testBreak() ? 1 : 0;
}

// ---- events ---------------------------------------------------------------------------------
void specialEvent(int32_t id, int32_t v1, int32_t v2) {
    hostServices().events.post({Event::Kind::Special, id, v1, v2, nullptr});
}
void postMessage(int32_t pluginId, int32_t value) {
    hostServices().events.post({Event::Kind::DialogMessage, pluginId, value, 0, nullptr});
}

int32_t workerThreads() { return workerThreadCount(); }

}  // namespace

void fillThreadApi(HostApi& t) {
    t.statusBar = statusBarPercent;
    t.statusText = statusText;
    t.statusSpin = statusSpin;
    t.statusClear = statusClear;
    t.viewsRedraw = viewsRedraw;
    t.threadCreate = threadCreate;
    t.threadDestroy = threadDestroy;
    t.threadStart = threadStart;
    t.threadIsRunning = threadIsRunning;
    t.threadEnd = threadEnd;
    t.threadWait = threadWait;
    t.threadTestBreak = threadTestBreak;
    t.specialEvent = specialEvent;
    t.postMessage = postMessage;
    t.workerThreadCount = workerThreads;
}

std::vector<int32_t> takeRedrawRequests() {
    std::lock_guard<std::mutex> lock(tableState().redrawMutex);
    std::vector<int32_t> out;
    out.swap(tableState().redraws);
    return out;
}

}  // namespace host
