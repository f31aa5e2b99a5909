// The studio's HTTP server: one page and its files from a web folder, a JSON interface whose
// handlers run on the host's main thread, and a stream of server-sent events that tells every open
// page when the document or a dialog changed.
//
// Safety, because any web page the person has open could try to reach a server on their machine:
//  - the server listens on 127.0.0.1 only;
//  - one request per connection: every answer closes its connection, so no byte that follows a
//    request (the body of a refused one above all) is ever read as another request; a refused POST
//    whose body is well framed is read to its end first, so the refusal reaches the client;
//  - a request whose Host header is not this server (a rebound DNS name) is refused with 403;
//  - a request whose Origin header is not this server's page is refused with 403;
//  - every interface call (/api/...) must carry the run's token, a random secret that only the
//    page's own HTML holds (X-Vexlor-Token header; a GET may give it as ?token= instead, for the
//    event stream and images): a request of another page, with or without an Origin header, or
//    smuggled inside another request's body, is refused with 403; the token is compared in
//    constant time;
//  - a POST must carry a JSON body (Content-Type application/json) of a declared length of at
//    most 1 MiB; chunked bodies, bodies on GET and methods other than GET, HEAD and POST are
//    refused;
//  - a file path that leaves the web folder (".." segments, backslashes, NUL, absolute names) is
//    refused with 403; a missing file is 404; no answer may be framed by another page;
//  - a malformed request gets 400 and the server goes on.
//
// Threads: the HTTP library answers on a pool of its own threads. Static files are served there;
// every interface handler is handed to the main thread's task queue and the HTTP thread waits for
// its answer, so handlers may touch the document and the dialogs freely. A call that the main
// thread does not take up within a moment (it is busy with a stroke, a big file...) is withdrawn
// and answered 503 at once, so long work never holds the other requests. Event streams are
// limited (kMaxEventStreams) below the pool's size, so open pages never take every thread.
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
#include <vector>

#include "host/studio/MainTasks.h"

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

// What the server looks at to accept or refuse a request (exposed for tests).
struct RequestFacts {
    std::string method;  // as sent: "GET", "POST"...
    std::string path;    // decoded, as routed
    std::string host, origin, contentType;
    bool hasContentLength = false;
    std::string contentLength;
    bool hasTransferEncoding = false;
    std::string tokenHeader;  // X-Vexlor-Token
    std::string tokenQuery;   // ?token= (GET and HEAD only)
    std::string repeatedHeader;  // a header (or the token parameter) given more than once, if any
};

// A refusal: the status and why ("" and 0 when the request is accepted). `drain`: the body is well
// framed and small, so it is read before the answer (the client then sees the answer whole).
struct Refusal {
    int status = 0;
    std::string why;
    bool drain = false;
    bool refused() const { return status != 0; }
};

class StudioServer {
public:
    using Handler = std::function<ApiResponse(const ApiRequest&)>;

    // `webRoot` is the folder of the page; `tasks` the main thread's queue (it must outlive the server).
    StudioServer(std::string webRoot, MainTasks& tasks);
    ~StudioServer();
    StudioServer(const StudioServer&) = delete;
    StudioServer& operator=(const StudioServer&) = delete;

    // The most event streams open at once (more pages are answered 503), and the threads answering
    // requests: the streams can never take them all.
    static constexpr int kMaxEventStreams = 8;
    static constexpr int kThreads = 24;
    // The largest body of a POST.
    static constexpr size_t kMaxBody = 1 << 20;

    // Registers an interface route under /api/ (exact path, e.g. "/api/state"), run on the main thread.
    // `what` names the call in the busy answers of other calls ("opening a file"); by default its path.
    void route(const std::string& method, const std::string& path, Handler h, std::string what = {});
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
    bool stopping() const { return stopFlag_.load(); }
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

    // How long an interface call waits for the main thread to take it up before it is withdrawn and
    // answered 503 (a call the main thread took up is waited for to its end).
    void setMainThreadTimeout(std::chrono::milliseconds t) { mainTimeout_ = t; }
    std::chrono::milliseconds mainThreadTimeout() const { return mainTimeout_; }
    // The answer to a call the main thread did not take up in time: 503, naming what it is busy with.
    ApiResponse busyAnswer() const;

    // The run's secret that the page's HTML carries and every interface call must send back. The
    // page's index.html names it as {{VEXLOR_TOKEN}}; the server puts the token there.
    const std::string& token() const { return token_; }

    // Checks of a request path and of a request, exposed for tests: "" / not refused when accepted.
    static std::string checkStaticPath(const std::string& urlPath);
    Refusal checkRequest(const RequestFacts& request) const;
    // Equal texts, compared in a time that does not depend on where they differ.
    static bool sameSecret(const std::string& given, const std::string& secret);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string webRoot_;
    MainTasks& tasks_;
    int port_ = 0;
    std::string token_;
    std::chrono::milliseconds mainTimeout_{1000};
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
