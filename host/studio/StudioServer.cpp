#include "host/studio/StudioServer.h"

#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace host::studio {

ApiResponse ApiResponse::json(std::string body, int status) {
    ApiResponse r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

ApiResponse ApiResponse::error(int status, const std::string& message) {
    std::string escaped;
    for (char c : message) {
        if (c == '"' || c == '\\') escaped += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            escaped += ' ';
            continue;
        }
        escaped += c;
    }
    return json("{\"error\":\"" + escaped + "\"}", status);
}

ApiResponse ApiResponse::binary(std::string bytes, std::string contentType) {
    ApiResponse r;
    r.contentType = std::move(contentType);
    r.body = std::move(bytes);
    return r;
}

void MainTasks::post(Task t) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(t));
    }
    cv_.notify_one();
}

int MainTasks::runPending() {
    int n = 0;
    for (;;) {
        Task t;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (tasks_.empty()) return n;
            t = std::move(tasks_.front());
            tasks_.pop_front();
        }
        t();
        ++n;
    }
}

void MainTasks::waitForWork(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !tasks_.empty() || woken_; });
    woken_ = false;
}

void MainTasks::wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    cv_.notify_one();
}

std::string contentTypeFor(const std::string& path) {
    const std::string ext = fs::path(path).extension().string();
    if (ext == ".html") return "text/html; charset=utf-8";
    if (ext == ".js" || ext == ".mjs") return "text/javascript; charset=utf-8";
    if (ext == ".css") return "text/css; charset=utf-8";
    if (ext == ".png") return "image/png";
    if (ext == ".svg") return "image/svg+xml";
    if (ext == ".json") return "application/json";
    return "application/octet-stream";
}

struct StudioServer::Impl {
    httplib::Server server;
};

StudioServer::StudioServer(std::string webRoot, MainTasks& tasks)
    : impl_(std::make_unique<Impl>()), webRoot_(std::move(webRoot)), tasks_(tasks) {
    httplib::Server& s = impl_->server;
    // Event streams hold a thread each for as long as a page is open.
    s.new_task_queue = [] { return new httplib::ThreadPool(16); };
    // The library's default also sets SO_REUSEPORT, which would let a second server share a port in
    // use (and take some of its connections): only SO_REUSEADDR here, so a taken port is an error.
    s.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const void*>(&yes), sizeof yes);
    });
    s.set_payload_max_length(1 << 20);
    s.set_read_timeout(5, 0);

    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        const std::string why = checkHeaders(req.get_header_value("Host"), req.get_header_value("Origin"),
                                             req.method, req.get_header_value("Content-Type"));
        if (why.empty()) return httplib::Server::HandlerResponse::Unhandled;
        res.status = 403;
        res.set_content(why + "\n", "text/plain; charset=utf-8");
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

    s.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
        {
            std::lock_guard<std::mutex> lock(eventsMutex_);
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

std::string StudioServer::checkStaticPath(const std::string& urlPath) {
    if (urlPath.empty() || urlPath[0] != '/') return "the path must start with /";
    if (urlPath.find('\\') != std::string::npos) return "backslashes are not allowed in paths";
    if (urlPath.find('\0') != std::string::npos) return "the path holds a NUL";
    size_t at = 1;
    while (at <= urlPath.size()) {
        size_t end = urlPath.find('/', at);
        if (end == std::string::npos) end = urlPath.size();
        const std::string segment = urlPath.substr(at, end - at);
        if (segment == "..") return "the path leaves the served folder";
        if (segment == "." || (segment.empty() && end != urlPath.size())) return "the path is not plain";
        at = end + 1;
    }
    return {};
}

std::string StudioServer::checkHeaders(const std::string& host, const std::string& origin, const std::string& method,
                                       const std::string& contentType) const {
    const std::string port = std::to_string(port_);
    if (host != "127.0.0.1:" + port && host != "localhost:" + port)
        return "this server answers only requests addressed to 127.0.0.1:" + port;
    if (!origin.empty() && origin != "http://127.0.0.1:" + port && origin != "http://localhost:" + port)
        return "requests from other origins are refused";
    if (method == "POST" && contentType.rfind("application/json", 0) != 0)
        return "the body of a POST must be JSON (Content-Type: application/json)";
    if (method != "GET" && method != "POST" && method != "HEAD") return "only GET and POST are answered";
    return {};
}

void StudioServer::route(const std::string& method, const std::string& path, Handler h) {
    auto handler = std::make_shared<Handler>(std::move(h));
    auto run = [this, handler](const httplib::Request& req, httplib::Response& res) {
        ApiRequest r;
        r.method = req.method;
        r.path = req.path;
        for (const auto& [k, v] : req.params) r.query[k] = v;
        r.body = req.body;
        struct Answer {
            std::mutex m;
            std::condition_variable cv;
            bool done = false;
            ApiResponse response;
        };
        auto answer = std::make_shared<Answer>();
        tasks_.post([handler, r = std::move(r), answer] {
            ApiResponse out = (*handler)(r);
            std::lock_guard<std::mutex> lock(answer->m);
            answer->response = std::move(out);
            answer->done = true;
            answer->cv.notify_one();
        });
        std::unique_lock<std::mutex> lock(answer->m);
        // Waits in short steps so that a stopping server does not wait for a main thread that is
        // itself waiting for the server.
        const auto deadline = std::chrono::steady_clock::now() + mainTimeout_;
        while (!answer->done && !stopFlag_.load() && std::chrono::steady_clock::now() < deadline)
            answer->cv.wait_for(lock, std::chrono::milliseconds(100));
        if (!answer->done) {
            res.status = 503;
            res.set_content("{\"error\":\"the host is busy; try again\"}", "application/json");
            return;
        }
        res.status = answer->response.status;
        res.set_header("Cache-Control", "no-cache");
        res.set_content(answer->response.body, answer->response.contentType.c_str());
    };
    if (method == "POST")
        impl_->server.Post(path, run);
    else
        impl_->server.Get(path, run);
}

void StudioServer::routeDirect(const std::string& method, const std::string& path, Handler h) {
    auto run = [h = std::move(h)](const httplib::Request& req, httplib::Response& res) {
        ApiRequest r;
        r.method = req.method;
        r.path = req.path;
        for (const auto& [k, v] : req.params) r.query[k] = v;
        r.body = req.body;
        const ApiResponse out = h(r);
        res.status = out.status;
        res.set_header("Cache-Control", "no-cache");
        res.set_content(out.body, out.contentType.c_str());
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
        std::ifstream in(file, std::ios::binary);
        if (!fs::is_regular_file(file, ec) || !in) {
            res.status = 404;
            return;
        }
        std::ostringstream data;
        data << in.rdbuf();
        res.set_header("Cache-Control", "no-cache");
        res.set_content(data.str(), contentTypeFor(file.string()).c_str());
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
