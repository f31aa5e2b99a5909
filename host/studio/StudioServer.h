// The studio's HTTP server: one page and its files from a web folder, a JSON interface whose
// handlers run on the host's main thread, and a stream of server-sent events that tells every open
// page when the document or a dialog changed.
//
// Safety, because any web page the person has open could try to reach a server on their machine:
//  - the server listens on 127.0.0.1 only;
//  - a request whose Host header is not this server (a rebound DNS name) is refused with 403;
//  - a request whose Origin header is not this server's page is refused with 403;
//  - a POST must carry a JSON body (Content-Type application/json), which a page of another origin
//    cannot send without a preflight that this server never answers;
//  - a file path that leaves the web folder (".." segments, backslashes, NUL, absolute names) is
//    refused with 403; a missing file is 404;
//  - a malformed request gets 400 and the server goes on.
//
// Threads: the HTTP library answers on a pool of its own threads. Static files are served there;
// every interface handler is handed to the main thread's task queue and the HTTP thread waits for
// its answer, so handlers may touch the document and the dialogs freely.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace host::studio {

// What an interface handler gets and answers.
struct ApiRequest {
    std::string method;  // GET or POST
    std::string path;
    std::map<std::string, std::string> query;
    std::string body;
};

struct ApiResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;

    static ApiResponse json(std::string body, int status = 200);
    // {"error": message} with the status.
    static ApiResponse error(int status, const std::string& message);
    static ApiResponse binary(std::string bytes, std::string contentType);
};

// Work handed to the main thread by other threads. The main thread runs it between its other duties.
class MainTasks {
public:
    using Task = std::function<void()>;
    void post(Task t);
    // Runs every queued task; returns how many ran.
    int runPending();
    // Waits until a task is queued or `ms` passed.
    void waitForWork(int ms);
    // Wakes a waiting main thread without a task (a stop request, a signal).
    void wake();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Task> tasks_;
    bool woken_ = false;
};

class StudioServer {
public:
    using Handler = std::function<ApiResponse(const ApiRequest&)>;

    // `webRoot` is the folder of the page; `tasks` the main thread's queue (it must outlive the server).
    StudioServer(std::string webRoot, MainTasks& tasks);
    ~StudioServer();
    StudioServer(const StudioServer&) = delete;
    StudioServer& operator=(const StudioServer&) = delete;

    // Registers an interface route under /api/ (exact path, e.g. "/api/state"), run on the main thread.
    void route(const std::string& method, const std::string& path, Handler h);
    // Registers a route answered on the HTTP thread itself: for calls that must get through while
    // the main thread is busy (the moves of a drag that the main thread is running). Its handler
    // must not touch the document or the dialogs.
    void routeDirect(const std::string& method, const std::string& path, Handler h);

    // Binds 127.0.0.1 at `port` (0: a free port chosen by the system) and starts answering on a thread
    // of its own. False with `error` set when the port cannot be had.
    bool start(int port, std::string* error);
    // Stops answering and closes every connection (the event streams end).
    void stop();
    int port() const { return port_; }
    std::string url() const;

    // Tells every open page that the state changed (it then asks for it again).
    void publish(uint64_t version);
    uint64_t publishedVersion() const;
    // Pages that hold an event stream now, and whether any page ever held one.
    int openPages() const;
    bool hadPages() const;
    // Seconds since the last page closed its stream while no other was open (0 while one is open or
    // none ever was).
    double secondsWithoutPages() const;

    // How long an interface call may wait for the main thread before it is answered 503.
    void setMainThreadTimeout(std::chrono::milliseconds t) { mainTimeout_ = t; }

    // Checks of a request path and of the headers, exposed for tests: "" when accepted, else why not.
    static std::string checkStaticPath(const std::string& urlPath);
    std::string checkHeaders(const std::string& host, const std::string& origin, const std::string& method,
                             const std::string& contentType) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string webRoot_;
    MainTasks& tasks_;
    int port_ = 0;
    std::chrono::milliseconds mainTimeout_{60000};
    std::thread listener_;
    std::atomic<bool> stopFlag_{false};

    mutable std::mutex eventsMutex_;
    std::condition_variable eventsCv_;
    uint64_t version_ = 0;
    int openPages_ = 0;
    bool hadPages_ = false;
    bool stopping_ = false;
    std::chrono::steady_clock::time_point lastPageClosed_{};
};

// The content type of a served file by its suffix.
std::string contentTypeFor(const std::string& path);

}  // namespace host::studio
