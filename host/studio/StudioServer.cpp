#include "host/studio/StudioServer.h"

#include "host/studio/OneRequestServer.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace host::studio {

namespace {

// 128 random bits as 32 hexadecimal digits.
std::string randomToken() {
    unsigned char bytes[16];
    size_t have = 0;
    while (have < sizeof bytes) {
        const ssize_t n = getrandom(bytes + have, sizeof bytes - have, 0);
        if (n <= 0) break;
        have += static_cast<size_t>(n);
    }
    if (have < sizeof bytes) {  // no getrandom: the library's device
        std::random_device device;
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(device());
    }
    static const char* digits = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token.push_back(digits[b >> 4]);
        token.push_back(digits[b & 15]);
    }
    return token;
}

RequestFacts factsOf(const httplib::Request& req) {
    RequestFacts f;
    f.method = req.method;
    f.path = req.path;
    f.host = req.get_header_value("Host");
    f.origin = req.get_header_value("Origin");
    f.contentType = req.get_header_value("Content-Type");
    f.hasContentLength = req.has_header("Content-Length");
    f.contentLength = req.get_header_value("Content-Length");
    f.hasTransferEncoding = req.has_header("Transfer-Encoding");
    f.tokenHeader = req.get_header_value("X-Vexlor-Token");
    if (req.method == "GET" || req.method == "HEAD") f.tokenQuery = req.get_param_value("token");
    for (const char* once : {"Host", "Origin", "Content-Length", "Content-Type", "X-Vexlor-Token"})
        if (req.get_header_value_count(once) > 1) f.repeatedHeader = once;
    if (req.get_param_value_count("token") > 1) f.repeatedHeader = "token";
    return f;
}

// The body sent as it is. The HTTP library compresses a plain body whenever the browser accepts it
// (brotli at its slowest, best setting): for the page's scripts, a few megabytes, that took seconds of
// the host's time at every page load, for a connection that never leaves this machine. A body given
// through a provider of known length goes out uncompressed.
void setUncompressed(httplib::Response& res, std::string body, const std::string& type) {
    auto held = std::make_shared<const std::string>(std::move(body));
    res.set_content_provider(held->size(), type, [held](size_t offset, size_t length, httplib::DataSink& sink) {
        // A range asked beyond the end (the library checks ranges, but the body is ours) ends the answer.
        if (offset >= held->size()) return false;
        return sink.write(held->data() + offset, std::min(length, held->size() - offset));
    });
}

void answerRefusal(httplib::Response& res, const Refusal& r) {
    res.status = r.status;  // the connection closes after it, as after every answer
    res.set_content(r.why + "\n", "text/plain; charset=utf-8");
}

ApiRequest apiRequestOf(const httplib::Request& req) {
    ApiRequest r;
    r.method = req.method;
    r.path = req.path;
    for (const auto& [k, v] : req.params)
        if (k != "token") r.query[k] = v;
    r.body = req.body;
    return r;
}

void answerApi(httplib::Response& res, ApiResponse out) {
    res.status = out.status;
    res.set_header("Cache-Control", "no-cache");
    if (out.status == 503) res.set_header("Retry-After", "1");
    // An error's text is short, and stays a plain body: the error handler, which writes a text for
    // a refusal that has none, takes a provided body for none.
    if (out.status >= 400)
        res.set_content(out.body, out.contentType.c_str());
    else
        setUncompressed(res, std::move(out.body), out.contentType);
}

// A handler's exception is the request's failure, never the host's end.
ApiResponse guarded(const StudioServer::Handler& handler, const ApiRequest& r) {
    try {
        return handler(r);
    } catch (const std::bad_alloc&) {
        return ApiResponse::error(507, "the host ran out of memory for this request");
    } catch (const std::exception& e) {
        return ApiResponse::error(400, std::string("the request could not be handled: ") + e.what());
    }
}

}  // namespace

struct StudioServer::Impl {
    OneRequestServer server;
};

StudioServer::StudioServer(std::string webRoot, MainTasks& tasks)
    : impl_(std::make_unique<Impl>()), webRoot_(std::move(webRoot)), tasks_(tasks), token_(randomToken()) {
    httplib::Server& s = impl_->server;
    // Event streams hold a thread each for as long as a page is open; they are limited to fewer.
    s.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    // One request per connection (OneRequestServer): nothing after a request's end is read as another.
    s.set_keep_alive_max_count(1);
    // The library's default also sets SO_REUSEPORT, which would let a second server share a port in
    // use (and take some of its connections): only SO_REUSEADDR here, so a taken port is an error.
    s.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const void*>(&yes), sizeof yes);
    });
    s.set_payload_max_length(kMaxBody);
    s.set_read_timeout(5, 0);
    // No answer may be shown inside another page (a page framing ours would hold an event stream and
    // could lead the person's clicks), nor read by another origin's tags.
    s.set_default_headers({{"X-Frame-Options", "DENY"},
                           {"Content-Security-Policy", "frame-ancestors 'none'"},
                           {"X-Content-Type-Options", "nosniff"},
                           {"Cross-Origin-Resource-Policy", "same-origin"},
                           {"Referrer-Policy", "no-referrer"}});

    // A refusal whose body cannot be read safely (no length, chunked, too large, a GET's) is answered
    // here, before any of the body is read, and the connection closes with it. A POST refused for
    // anything else is answered by its handler once the body was read.
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        const Refusal r = checkRequest(factsOf(req));
        if (!r.refused() || r.drain) return httplib::Server::HandlerResponse::Unhandled;
        answerRefusal(res, r);
        return httplib::Server::HandlerResponse::Handled;
    });
    if (std::getenv("VEXLOR_STUDIO_LOG"))
        s.set_logger([](const httplib::Request& req, const httplib::Response& res) {
            std::fprintf(stderr, "studio: %s %s -> %d\n", req.method.c_str(), req.path.c_str(), res.status);
        });
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        const char* what = res.status == 400   ? "malformed request"
                           : res.status == 404 ? "not found"
                           : res.status == 413 ? "request too large"
                                               : "request refused";
        res.set_content(std::string(what) + "\n", "text/plain; charset=utf-8");
    });

    s.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) {
        if (const Refusal r = checkRequest(factsOf(req)); r.refused()) return answerRefusal(res, r);
        {
            std::lock_guard<std::mutex> lock(eventsMutex_);
            if (stopping_) {
                res.status = 503;
                return;
            }
            if (openPages_ >= kMaxEventStreams) {
                res.status = 503;
                res.set_content("too many pages hold the studio's event stream (at most " +
                                    std::to_string(kMaxEventStreams) + "); close one\n",
                                "text/plain; charset=utf-8");
                return;
            }
            ++openPages_;
            hadPages_ = true;
        }
        auto last = std::make_shared<uint64_t>(UINT64_MAX);
        res.set_header("Cache-Control", "no-cache");
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, last](size_t, httplib::DataSink& sink) {
                std::string chunk;
                {
                    std::unique_lock<std::mutex> lock(eventsMutex_);
                    eventsCv_.wait_for(lock, std::chrono::seconds(2),
                                       [&] { return stopping_ || version_ != *last; });
                    if (stopping_) return false;
                    if (version_ != *last) {
                        *last = version_;
                        chunk = "data: " + std::to_string(version_) + "\n\n";
                    } else {
                        chunk = ": still here\n\n";  // finds closed connections
                    }
                }
                return sink.write(chunk.data(), chunk.size());
            },
            [this](bool) {
                std::lock_guard<std::mutex> lock(eventsMutex_);
                if (--openPages_ == 0) lastPageClosed_ = std::chrono::steady_clock::now();
            });
    });
}

StudioServer::~StudioServer() { stop(); }

ApiResponse StudioServer::busyAnswer() const {
    const std::string what = tasks_.running();
    return ApiResponse::error(503, "the host is busy" + (what.empty() ? std::string() : " (" + what + ")") +
                                       "; try again in a moment");
}

void StudioServer::route(const std::string& method, const std::string& path, Handler h, std::string what) {
    auto handler = std::make_shared<Handler>(std::move(h));
    if (what.empty()) what = method + " " + path;
    auto run = [this, handler, what](const httplib::Request& req, httplib::Response& res) {
        if (const Refusal refusal = checkRequest(factsOf(req)); refusal.refused()) return answerRefusal(res, refusal);
        struct Answer {
            std::mutex m;
            std::condition_variable cv;
            bool done = false;
            ApiResponse response;
        };
        auto answer = std::make_shared<Answer>();
        auto job = tasks_.submit(
            [handler, r = apiRequestOf(req), answer] {
                ApiResponse out = guarded(*handler, r);
                std::lock_guard<std::mutex> lock(answer->m);
                answer->response = std::move(out);
                answer->done = true;
                answer->cv.notify_one();
            },
            what);
        std::unique_lock<std::mutex> lock(answer->m);
        // A call the main thread has not taken up within the timeout is withdrawn and answered busy
        // at once; one it took up is waited for to its end. Short steps, so that a stopping server
        // does not wait for a main thread that is itself waiting for the server.
        const auto deadline = std::chrono::steady_clock::now() + mainTimeout_;
        while (!answer->done && !stopFlag_.load()) {
            answer->cv.wait_for(lock, std::chrono::milliseconds(20));
            if (!answer->done && std::chrono::steady_clock::now() >= deadline && job->withdraw()) break;
        }
        if (!answer->done) return answerApi(res, busyAnswer());
        answerApi(res, std::move(answer->response));
    };
    if (method == "POST")
        impl_->server.Post(path, run);
    else
        impl_->server.Get(path, run);
}

void StudioServer::routeDirect(const std::string& method, const std::string& path, Handler h) {
    auto run = [this, h = std::move(h)](const httplib::Request& req, httplib::Response& res) {
        if (const Refusal refusal = checkRequest(factsOf(req)); refusal.refused()) return answerRefusal(res, refusal);
        answerApi(res, guarded(h, apiRequestOf(req)));
    };
    if (method == "POST")
        impl_->server.Post(path, run);
    else
        impl_->server.Get(path, run);
}

bool StudioServer::start(int port, std::string* error) {
    httplib::Server& s = impl_->server;
    // Files of the page; registered last so that the interface routes match first.
    s.Get(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) {
        if (const Refusal r = checkRequest(factsOf(req)); r.refused()) return answerRefusal(res, r);
        if (req.path.rfind("/api/", 0) == 0) {
            res.status = 404;
            return;
        }
        const std::string why = checkStaticPath(req.path);
        if (!why.empty()) {
            res.status = 403;
            res.set_content(why + "\n", "text/plain; charset=utf-8");
            return;
        }
        const std::string rel = req.path == "/" ? "index.html" : req.path.substr(1);
        std::error_code ec;
        const fs::path root = fs::weakly_canonical(webRoot_, ec);
        const fs::path file = fs::weakly_canonical(root / rel, ec);
        // Links inside the folder must not lead out of it either.
        const std::string rootText = root.string() + "/";
        if (ec || file.string().rfind(rootText, 0) != 0) {
            res.status = 403;
            res.set_content("the path leaves the served folder\n", "text/plain; charset=utf-8");
            return;
        }
        if (!fs::is_regular_file(file, ec)) {
            res.status = 404;
            return;
        }
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            res.status = 404;
            return;
        }
        std::ostringstream data;
        data << in.rdbuf();
        std::string body = data.str();
        // The page gets the run's token with its HTML.
        if (file == root / "index.html") {
            static const std::string marker = "{{VEXLOR_TOKEN}}";
            for (size_t at = body.find(marker); at != std::string::npos; at = body.find(marker, at + token_.size()))
                body.replace(at, marker.size(), token_);
        }
        res.set_header("Cache-Control", "no-cache");
        setUncompressed(res, std::move(body), contentTypeFor(file.string()));
    });
    // A POST that no route takes: refused as any other (after its body was read), else not found.
    s.Post(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) {
        if (const Refusal r = checkRequest(factsOf(req)); r.refused()) return answerRefusal(res, r);
        res.status = 404;
    });
    if (port == 0) {
        port_ = s.bind_to_any_port("127.0.0.1");
        if (port_ <= 0) {
            if (error) *error = "no free port on 127.0.0.1";
            return false;
        }
    } else {
        if (port < 1 || port > 65535 || !s.bind_to_port("127.0.0.1", port)) {
            if (error) *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + " (in use, or not allowed)";
            return false;
        }
        port_ = port;
    }
    listener_ = std::thread([this] { impl_->server.listen_after_bind(); });
    // A stop that came before the loop runs would be missed by the library: wait until it runs.
    while (!s.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void StudioServer::stop() {
    stopFlag_ = true;
    {
        std::lock_guard<std::mutex> lock(eventsMutex_);
        stopping_ = true;
    }
    eventsCv_.notify_all();
    impl_->server.stop();
    if (listener_.joinable()) listener_.join();
}

std::string StudioServer::url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

void StudioServer::publish(uint64_t version) {
    {
        std::lock_guard<std::mutex> lock(eventsMutex_);
        version_ = version;
    }
    eventsCv_.notify_all();
}

uint64_t StudioServer::publishedVersion() const {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    return version_;
}

int StudioServer::openPages() const {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    return openPages_;
}

bool StudioServer::hadPages() const {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    return hadPages_;
}

double StudioServer::secondsWithoutPages() const {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    if (!hadPages_ || openPages_ > 0) return 0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - lastPageClosed_).count();
}

}  // namespace host::studio
