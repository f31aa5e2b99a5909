// Tests of the studio's HTTP server on a real loopback socket: what it refuses (other origins and
// hosts, form posts, calls without the page's token, paths out of the web folder, links out of it,
// malformed requests), that a refused request closes its connection so nothing smuggled in its body
// runs, what it serves exactly, that interface handlers run on the thread that pumps the main tasks,
// that a busy main thread is answered at once, and that event streams cannot take every thread.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <vector>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host/studio/StudioServer.h"

using namespace host::studio;
namespace fs = std::filesystem;

namespace {

TEST(StudioPaths, PlainPathsInsideTheFolderAreAcceptedOthersRefused) {
    const struct {
        std::string path;
        bool accepted;
    } cases[] = {
        {"/", true},
        {"/index.html", true},
        {"/vendor/three/build/three.module.js", true},
        {"/..", false},
        {"/../etc/passwd", false},
        {"/vendor/../../etc/passwd", false},
        {"/vendor/./three.js", false},
        {"//etc/passwd", false},
        {"/a\\..\\b", false},
        {"index.html", false},
        {"", false},
        {std::string("/index.html\0.png", 16), false},
        {"/..hidden-but-plain", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StudioServer::checkStaticPath(c.path).empty(), c.accepted) << "path: " << c.path;
}

class StudioServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("vexlor-studio-test-" + std::to_string(getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "web" / "sub");
        std::ofstream(root / "web" / "index.html") << "<p>studio</p>";
        std::ofstream(root / "web" / "sub" / "data.json") << "{\"a\":1}";
        std::ofstream(root / "secret.txt") << "not for the page";
        fs::create_directory_symlink(root, root / "web" / "out");
        server = std::make_unique<StudioServer>((root / "web").string(), tasks);
        server->route("POST", "/api/echo", [this](const ApiRequest& r) {
            mainThreadSaw = std::this_thread::get_id();
            ++echoed;
            if (r.body.find('{') != 0) return ApiResponse::error(400, "not an object");
            return ApiResponse::json(r.body);
        });
        server->route("GET", "/api/count", [this](const ApiRequest&) {
            ++echoed;
            return ApiResponse::json("{\"query\":" + std::to_string(0) + "}");
        });
        server->route("POST", "/api/slow", [](const ApiRequest&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            return ApiResponse::json("{\"slow\":true}");
        }, "something slow");
        server->route("POST", "/api/throw", [](const ApiRequest&) -> ApiResponse {
            throw std::runtime_error("a handler gave up");
        });
        std::string error;
        ASSERT_TRUE(server->start(0, &error)) << error;
        ASSERT_GT(server->port(), 0);
    }
    void TearDown() override {
        server->stop();
        fs::remove_all(root);
    }

    // Runs `client` on a thread of its own while this thread pumps the main tasks.
    template <class F>
    void withMainLoop(F client) {
        std::atomic<bool> done{false};
        std::thread t([&] {
            client();
            done = true;
        });
        while (!done) {
            tasks.waitForWork(5);
            tasks.runPending();
        }
        t.join();
    }

    httplib::Headers ownHeaders() const {
        return {{"Host", "127.0.0.1:" + std::to_string(server->port())},
                {"Origin", "http://127.0.0.1:" + std::to_string(server->port())},
                {"X-Vexlor-Token", server->token()}};
    }
    std::string hostLine() const { return "Host: 127.0.0.1:" + std::to_string(server->port()) + "\r\n"; }
    // A request the server would take and run, written out whole.
    std::string echoRequest(const std::string& body = "{\"smuggled\":1}") const {
        return "POST /api/echo HTTP/1.1\r\n" + hostLine() + "X-Vexlor-Token: " + server->token() +
               "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
               body;
    }
    static int answers(const std::string& raw) {
        int n = 0;
        for (size_t at = raw.find("HTTP/1.1 "); at != std::string::npos; at = raw.find("HTTP/1.1 ", at + 1)) ++n;
        return n;
    }

    // Sends raw bytes and returns everything the server answered.
    std::string raw(const std::string& request, int waitSeconds = 5) const {
        std::string answer;
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(server->port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return {};
        ::send(fd, request.data(), request.size(), 0);
        timeval tv{waitSeconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char buf[4096];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) answer.append(buf, static_cast<size_t>(n));
        ::close(fd);
        return answer;
    }

    fs::path root;
    MainTasks tasks;
    std::unique_ptr<StudioServer> server;
    std::thread::id mainThreadSaw;
    std::atomic<int> echoed{0};
};

TEST_F(StudioServerTest, ServesTheFolderExactlyAndRefusesWhatLeavesIt) {
    httplib::Client c("127.0.0.1", server->port());
    auto index = c.Get("/");
    ASSERT_TRUE(index);
    EXPECT_EQ(index->status, 200);
    EXPECT_EQ(index->body, "<p>studio</p>");
    EXPECT_EQ(index->get_header_value("Content-Type"), "text/html; charset=utf-8");
    auto json = c.Get("/sub/data.json");
    ASSERT_TRUE(json);
    EXPECT_EQ(json->body, "{\"a\":1}");
    // Files and answers go as they are, whatever encodings the browser accepts: compressed, the
    // page's scripts cost the host seconds at every load, for a connection that stays on this machine.
    const std::string accepts = "Accept-Encoding: gzip, deflate, br\r\nConnection: close\r\n";
    std::string echo = echoRequest();
    echo.insert(echo.find("Content-Type"), accepts);
    for (const std::string& request : {"GET /sub/data.json HTTP/1.1\r\n" + hostLine() + accepts + "\r\n", echo}) {
        std::string answer;
        withMainLoop([&] { answer = raw(request); });
        EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
        EXPECT_EQ(answer.find("Content-Encoding"), std::string::npos) << answer;
        EXPECT_NE(answer.find("\r\n\r\n{\""), std::string::npos) << answer;
    }
    // Ranges past the end or backwards are answered without reading beyond the file.
    for (const char* range : {"bytes=999999999-", "bytes=5-1", "bytes=-99999999"}) {
        const std::string answer = raw("GET /sub/data.json HTTP/1.1\r\n" + hostLine() + "Range: " + range + "\r\n\r\n");
        EXPECT_TRUE(answer.rfind("HTTP/1.1 206", 0) == 0 || answer.rfind("HTTP/1.1 416", 0) == 0) << range << answer;
    }
    auto missing = c.Get("/nothing.js");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    // A link inside the folder that leads out of it.
    auto linked = c.Get("/out/secret.txt");
    ASSERT_TRUE(linked);
    EXPECT_EQ(linked->status, 403);
    for (const char* path : {"/../secret.txt", "/sub/../../secret.txt", "/%2e%2e/secret.txt"}) {
        const std::string answer = raw(std::string("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                       std::to_string(server->port()) + "\r\nConnection: close\r\n\r\n");
        EXPECT_TRUE(answer.rfind("HTTP/1.1 403", 0) == 0 || answer.rfind("HTTP/1.1 400", 0) == 0) << path << answer;
        EXPECT_EQ(answer.find("not for the page"), std::string::npos) << path;
    }
}

TEST_F(StudioServerTest, OtherOriginsHostsAndFormPostsAreRefusedAndHandlersRunOnTheMainThread) {
    const std::string port = std::to_string(server->port());
    withMainLoop([&] {
        httplib::Client c("127.0.0.1", server->port());
        auto ok = c.Post("/api/echo", ownHeaders(), "{\"x\":1}", "application/json");
        ASSERT_TRUE(ok);
        EXPECT_EQ(ok->status, 200);
        EXPECT_EQ(ok->body, "{\"x\":1}");

        auto foreign = c.Post("/api/echo", {{"Origin", "http://example.com"}}, "{}", "application/json");
        ASSERT_TRUE(foreign);
        EXPECT_EQ(foreign->status, 403);
        auto otherPort = c.Post("/api/echo", {{"Origin", "http://127.0.0.1:1"}}, "{}", "application/json");
        ASSERT_TRUE(otherPort);
        EXPECT_EQ(otherPort->status, 403);
        auto form = c.Post("/api/echo", ownHeaders(), "x=1", "application/x-www-form-urlencoded");
        ASSERT_TRUE(form);
        EXPECT_EQ(form->status, 403);
        auto bad = c.Post("/api/echo", ownHeaders(), "[1]", "application/json");
        ASSERT_TRUE(bad);
        EXPECT_EQ(bad->status, 400);
        EXPECT_EQ(bad->body, "{\"error\":\"not an object\"}");
    });
    EXPECT_EQ(mainThreadSaw, std::this_thread::get_id());
    const std::string rebound = raw("GET / HTTP/1.1\r\nHost: attacker.example\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(rebound.rfind("HTTP/1.1 403", 0), 0u) << rebound;
    const std::string localhost =
        raw("GET / HTTP/1.1\r\nHost: localhost:" + port + "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(localhost.rfind("HTTP/1.1 200", 0), 0u) << localhost;
}

TEST_F(StudioServerTest, MalformedRequestsGet400AndTheServerGoesOn) {
    for (const char* junk : {"THIS IS NOT HTTP\r\n\r\n", "GET\r\n\r\n", "GET / HTTP/9.9 extra words\r\n\r\n"}) {
        const std::string answer = raw(junk, 1);
        EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u) << junk << " -> " << answer;
    }
    httplib::Client c("127.0.0.1", server->port());
    auto after = c.Get("/");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 200);
}

TEST_F(StudioServerTest, EventStreamTellsEachNewVersionAndCountsOpenPages) {
    EXPECT_FALSE(server->hadPages());
    std::string received;
    std::atomic<bool> stop{false};
    std::thread page([&] {
        httplib::Client c("127.0.0.1", server->port());
        c.Get("/api/events?token=" + server->token(), [&](const char* data, size_t n) {
            received.append(data, n);
            return !stop.load();
        });
    });
    for (int i = 0; i < 200 && server->openPages() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(server->openPages(), 1);
    server->publish(7);
    for (int i = 0; i < 200 && received.find("data: 7") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(received.find("data: 7\n\n"), std::string::npos) << received;
    stop = true;
    server->publish(8);  // the page's next read finds it gone
    page.join();
    for (int i = 0; i < 400 && server->openPages() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(server->openPages(), 0);
    EXPECT_TRUE(server->hadPages());
}

// Fault 0 of issue 22: a request refused for its origin answered 403 without reading its body, and
// kept the connection open: the body was then read as a request of its own, without an Origin
// header, and run. Now every connection answers one request and closes, and a request smuggled in
// any refused request's body never runs, whatever refused it.
TEST_F(StudioServerTest, NothingSmuggledInARefusedRequestRuns) {
    const std::string smuggled = echoRequest();
    const std::string length = "Content-Length: " + std::to_string(smuggled.size()) + "\r\n";
    const struct {
        const char* what;
        std::string head;  // followed by the smuggled request
        const char* status;
    } cases[] = {
        {"another origin", "POST /api/echo HTTP/1.1\r\n" + hostLine() + "Origin: http://127.0.0.1:1\r\n" + length + "\r\n", "403"},
        {"another origin, no type", "POST / HTTP/1.1\r\n" + hostLine() + "Origin: http://evil.example\r\n" + length + "\r\n", "403"},
        {"no token", "POST /api/echo HTTP/1.1\r\n" + hostLine() + "Content-Type: application/json\r\n" + length + "\r\n", "403"},
        {"a wrong token", "POST /api/echo HTTP/1.1\r\n" + hostLine() + "X-Vexlor-Token: " + std::string(32, '0') +
             "\r\nContent-Type: application/json\r\n" + length + "\r\n", "403"},
        {"a form post", "POST /api/echo HTTP/1.1\r\n" + hostLine() + "X-Vexlor-Token: " + server->token() +
             "\r\nContent-Type: text/plain\r\n" + length + "\r\n", "403"},
        {"another host", "POST /api/echo HTTP/1.1\r\nHost: evil.example\r\n" + length + "\r\n", "403"},
        {"a short length", "POST /api/echo HTTP/1.1\r\n" + hostLine() + "Origin: http://evil.example\r\nContent-Length: 2\r\n\r\n{}", "403"},
        {"no length", "POST /api/echo HTTP/1.1\r\n" + hostLine() + "Origin: http://evil.example\r\n\r\n", "411"},
        {"a chunked body", "POST /api/echo HTTP/1.1\r\n" + hostLine() + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n", "411"},
        {"a GET with a body", "GET /index.html HTTP/1.1\r\n" + hostLine() + length + "\r\n", "400"},
        {"a length twice", "POST /api/echo HTTP/1.1\r\n" + hostLine() + "Content-Length: 0\r\n" + length + "\r\n", "400"},
        {"a body too large", "POST /api/echo HTTP/1.1\r\n" + hostLine() + "Content-Length: 2000000\r\n\r\n", "413"},
        {"another method", "PUT /api/echo HTTP/1.1\r\n" + hostLine() + length + "\r\n", "405"},
        {"a malformed request", "NOT HTTP AT ALL\r\n\r\n", "400"},
        // An accepted request is followed by nothing either: one request per connection.
        {"an accepted GET", "GET /index.html HTTP/1.1\r\n" + hostLine() + "\r\n", "200"},
        {"an accepted call", echoRequest("{\"first\":1}"), "200"},
    };
    withMainLoop([&] {
        for (const auto& c : cases) {
            const int before = echoed.load();
            const std::string answer = raw(c.head + smuggled, 3);
            EXPECT_EQ(answer.rfind(std::string("HTTP/1.1 ") + c.status, 0), 0u) << c.what << ":\n" << answer;
            EXPECT_EQ(answers(answer), 1) << c.what << ": the connection closed after one answer\n" << answer;
            EXPECT_EQ(answer.find("smuggled"), std::string::npos) << c.what;
            EXPECT_EQ(echoed.load() - before, std::string(c.what) == "an accepted call" ? 1 : 0) << c.what;
        }
        // Two requests at once on one connection: only the first is answered.
        const int before = echoed.load();
        const std::string both = raw(echoRequest("{\"one\":1}") + echoRequest("{\"two\":2}"), 3);
        EXPECT_EQ(answers(both), 1) << both;
        EXPECT_EQ(echoed.load() - before, 1);
    });
}

TEST_F(StudioServerTest, InterfaceCallsNeedThePagesTokenInTheirHeaderOrAGetsQuery) {
    const std::string& token = server->token();
    ASSERT_EQ(token.size(), 32u);
    StudioServer other((root / "web").string(), tasks);
    EXPECT_NE(other.token(), token) << "each run has a token of its own";
    const struct {
        const char* what;
        std::string method, path;
        httplib::Headers headers;
        int status;
    } cases[] = {
        {"POST, token in the header", "POST", "/api/echo", {{"X-Vexlor-Token", token}}, 200},
        {"POST, no token", "POST", "/api/echo", {}, 403},
        {"POST, token in the query", "POST", "/api/echo?token=" + token, {}, 403},
        {"POST, a token one digit off", "POST", "/api/echo", {{"X-Vexlor-Token", token.substr(0, 31) + (token[31] == '0' ? "1" : "0")}}, 403},
        {"POST, the token and more", "POST", "/api/echo", {{"X-Vexlor-Token", token + "0"}}, 403},
        {"POST, half the token", "POST", "/api/echo", {{"X-Vexlor-Token", token.substr(0, 16)}}, 403},
        {"POST, another run's token", "POST", "/api/echo", {{"X-Vexlor-Token", other.token()}}, 403},
        {"GET, token in the query", "GET", "/api/count?token=" + token, {}, 200},
        {"GET, token in the header", "GET", "/api/count", {{"X-Vexlor-Token", token}}, 200},
        {"GET, no token", "GET", "/api/count", {}, 403},
        {"GET, two tokens", "GET", "/api/count?token=" + token + "&token=" + std::string(32, '0'), {}, 400},
        {"GET, two tokens the other way", "GET", "/api/count?token=" + std::string(32, '0') + "&token=" + token, {}, 400},
        {"GET, an unknown call", "GET", "/api/nothing", {}, 403},
        {"GET, an unknown call with the token", "GET", "/api/nothing?token=" + token, {}, 404},
        {"the stream, no token", "GET", "/api/events", {}, 403},
        {"a file of the page needs none", "GET", "/index.html", {}, 200},
    };
    withMainLoop([&] {
        for (const auto& c : cases) {
            httplib::Client client("127.0.0.1", server->port());
            auto r = c.method == "POST" ? client.Post(c.path.c_str(), c.headers, "{}", "application/json")
                                        : client.Get(c.path.c_str(), c.headers);
            ASSERT_TRUE(r) << c.what;
            EXPECT_EQ(r->status, c.status) << c.what << ": " << r->body;
            // Nothing the server answers may be framed by another page or read by its tags.
            EXPECT_EQ(r->get_header_value("X-Frame-Options"), "DENY") << c.what;
            EXPECT_EQ(r->get_header_value("Content-Security-Policy"), "frame-ancestors 'none'") << c.what;
            EXPECT_EQ(r->get_header_value("Cross-Origin-Resource-Policy"), "same-origin") << c.what;
        }
    });
}

TEST(StudioSecrets, TheTokenIsComparedWholeAndOnlyEqualTextsMatch) {
    const std::string secret = "0123456789abcdef0123456789abcdef";
    const struct {
        std::string given;
        bool same;
    } cases[] = {
        {secret, true},
        {"", false},
        {secret.substr(0, 31), false},
        {secret + "f", false},
        {"1123456789abcdef0123456789abcdef", false},
        {"0123456789abcdef0123456789abcdee", false},
        {std::string(secret.data(), 16) + std::string("\0", 1) + secret.substr(17), false},
        {"0123456789ABCDEF0123456789ABCDEF", false},
    };
    for (const auto& c : cases) EXPECT_EQ(StudioServer::sameSecret(c.given, secret), c.same) << c.given;
    EXPECT_FALSE(StudioServer::sameSecret("", "")) << "an empty secret admits nobody";
}

TEST_F(StudioServerTest, ThePageGetsTheTokenWithItsHtml) {
    std::ofstream(root / "web" / "index.html") << "<meta name=\"vexlor-token\" content=\"{{VEXLOR_TOKEN}}\"><p>{{VEXLOR_TOKEN}}</p>";
    std::ofstream(root / "web" / "other.html") << "{{VEXLOR_TOKEN}}";
    httplib::Client c("127.0.0.1", server->port());
    for (const char* path : {"/", "/index.html"}) {
        auto page = c.Get(path);
        ASSERT_TRUE(page);
        EXPECT_EQ(page->body, "<meta name=\"vexlor-token\" content=\"" + server->token() + "\"><p>" + server->token() + "</p>");
    }
    auto other = c.Get("/other.html");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->body, "{{VEXLOR_TOKEN}}") << "only the page itself carries the token";
    auto foreign = c.Get("/", {{"Origin", "http://evil.example"}});
    ASSERT_TRUE(foreign);
    EXPECT_EQ(foreign->status, 403);
    EXPECT_EQ(foreign->body.find(server->token()), std::string::npos);
}

TEST(StudioRequests, WhatIsRefusedBeforeAndAfterItsBodyIsRead) {
    MainTasks tasks;
    StudioServer server(".", tasks);
    std::string error;
    ASSERT_TRUE(server.start(0, &error)) << error;
    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    auto post = [&](std::string path = "/api/x") {
        RequestFacts f;
        f.method = "POST";
        f.path = std::move(path);
        f.host = host;
        f.contentType = "application/json";
        f.hasContentLength = true;
        f.contentLength = "2";
        f.tokenHeader = server.token();
        return f;
    };
    auto get = [&](std::string path) {
        RequestFacts f;
        f.method = "GET";
        f.path = std::move(path);
        f.host = host;
        return f;
    };
    struct Case {
        const char* what;
        RequestFacts facts;
        int status;
        bool drain;
    };
    std::vector<Case> cases = {
        {"a call of the page", post(), 0, false},
        {"a file of the page", get("/index.html"), 0, false},
    };
    auto add = [&](const char* what, RequestFacts f, int status, bool drain) { cases.push_back({what, std::move(f), status, drain}); };
    RequestFacts f = post();
    f.origin = "http://localhost:" + std::to_string(server.port());
    add("the page's own origin", f, 0, false);
    f = post(); f.origin = "http://127.0.0.1:1"; add("another origin", f, 403, true);
    f = post(); f.origin = "null"; add("an opaque origin", f, 403, true);
    f = post(); f.host = "evil.example:" + std::to_string(server.port()); add("another host", f, 403, true);
    f = post(); f.contentType = "text/plain"; add("a form's type", f, 403, true);
    f = post(); f.tokenHeader.clear(); add("no token", f, 403, true);
    f = post(); f.tokenHeader.clear(); f.tokenQuery = server.token(); add("a POST's token in the query", f, 403, true);
    f = post(); f.hasContentLength = false; f.contentLength.clear(); add("no length", f, 411, false);
    f = post(); f.contentLength = "-1"; add("a negative length", f, 400, false);
    f = post(); f.contentLength = " 2"; add("a length with a space", f, 400, false);
    f = post(); f.contentLength = "99999999999999999999999"; add("a length beyond 64 bits", f, 400, false);
    f = post(); f.contentLength = "1048577"; add("a body over 1 MiB", f, 413, false);
    f = post(); f.contentLength = "1048576"; add("a body of 1 MiB", f, 0, false);
    f = post(); f.hasTransferEncoding = true; add("a chunked body", f, 411, false);
    f = post(); f.repeatedHeader = "Content-Length"; add("a length twice", f, 400, false);
    f = get("/"); f.hasContentLength = true; f.contentLength = "5"; add("a GET with a body", f, 400, false);
    f = get("/"); f.hasContentLength = true; f.contentLength = "0"; add("a GET with an empty body", f, 0, false);
    f = get("/"); f.method = "OPTIONS"; add("OPTIONS", f, 405, false);
    f = get("/"); f.method = "get"; add("a method in small letters", f, 405, false);
    f = get("/api/state"); add("a GET call without the token", f, 403, false);
    f = get("/api/state"); f.tokenQuery = server.token(); add("a GET call with the token in the query", f, 0, false);
    f = get("/api"); add("the interface's folder", f, 403, false);
    for (const Case& c : cases) {
        const Refusal r = server.checkRequest(c.facts);
        EXPECT_EQ(r.status, c.status) << c.what << ": " << r.why;
        if (r.refused()) {
            EXPECT_EQ(r.drain, c.drain) << c.what;
            EXPECT_FALSE(r.why.empty()) << c.what;
        }
    }
}

// Fault 7 of issue 22: sixteen open event streams took every request thread and the studio answered
// nothing; streams from pages that went away kept the host from ending.
TEST_F(StudioServerTest, EventStreamsAreBoundedAndTheOtherCallsAreStillAnswered) {
    const int want = StudioServer::kMaxEventStreams + 8;
    std::vector<int> statuses(static_cast<size_t>(want), 0);
    std::atomic<bool> stop{false};
    std::vector<std::thread> pages;
    for (int i = 0; i < want; ++i)
        pages.emplace_back([&, i] {
            httplib::Client c("127.0.0.1", server->port());
            c.set_read_timeout(10, 0);
            c.Get(("/api/events?token=" + server->token()).c_str(),
                  [&, i](const httplib::Response& r) {
                      statuses[static_cast<size_t>(i)] = r.status;
                      return r.status == 200;
                  },
                  [&](const char*, size_t) { return !stop.load(); });
        });
    for (int i = 0; i < 500 && server->openPages() < StudioServer::kMaxEventStreams; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(server->openPages(), StudioServer::kMaxEventStreams);
    withMainLoop([&] {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 20; ++i) {
            httplib::Client c("127.0.0.1", server->port());
            auto r = c.Post("/api/echo", ownHeaders(), "{\"i\":1}", "application/json");
            ASSERT_TRUE(r);
            EXPECT_EQ(r->status, 200);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    });
    stop = true;
    server->publish(99);  // each open stream's next write finds its page gone
    for (std::thread& t : pages) t.join();
    int ok = 0, refused = 0;
    for (int s : statuses) (s == 200 ? ok : s == 503 ? refused : s) += 1;
    EXPECT_EQ(ok, StudioServer::kMaxEventStreams);
    EXPECT_EQ(refused, want - StudioServer::kMaxEventStreams);
    for (int i = 0; i < 400 && server->openPages() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(server->openPages(), 0);
}

// Long work on the main thread (a stroke, a big file) never holds the other calls: a call the main
// thread does not take up within a moment is withdrawn and answered 503 at once (and never runs);
// the call the main thread is working on is waited for to its end.
TEST_F(StudioServerTest, ABusyMainThreadIsAnsweredAtOnceAndTheWithdrawnCallNeverRuns) {
    server->setMainThreadTimeout(std::chrono::milliseconds(200));
    withMainLoop([&] {
        std::thread slow([&] {
            httplib::Client c("127.0.0.1", server->port());
            auto r = c.Post("/api/slow", ownHeaders(), "{}", "application/json");
            ASSERT_TRUE(r);
            EXPECT_EQ(r->status, 200) << "the call the main thread took is waited for";
            EXPECT_EQ(r->body, "{\"slow\":true}");
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const int before = echoed.load();
        const auto start = std::chrono::steady_clock::now();
        httplib::Client c("127.0.0.1", server->port());
        auto r = c.Post("/api/echo", ownHeaders(), "{\"late\":1}", "application/json");
        const auto took = std::chrono::steady_clock::now() - start;
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 503);
        EXPECT_NE(r->body.find("the host is busy (something slow)"), std::string::npos) << r->body;
        EXPECT_EQ(r->get_header_value("Retry-After"), "1");
        EXPECT_LT(took, std::chrono::milliseconds(1000));
        slow.join();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the main loop runs what is queued
        EXPECT_EQ(echoed.load(), before) << "the withdrawn call never ran";
    });
}

TEST_F(StudioServerTest, AHandlerThatFailsAnswersItsRequestAndTheHostGoesOn) {
    withMainLoop([&] {
        httplib::Client c("127.0.0.1", server->port());
        auto r = c.Post("/api/throw", ownHeaders(), "{}", "application/json");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 400);
        EXPECT_NE(r->body.find("a handler gave up"), std::string::npos) << r->body;
        auto after = c.Post("/api/echo", ownHeaders(), "{\"after\":1}", "application/json");
        ASSERT_TRUE(after);
        EXPECT_EQ(after->status, 200);
    });
}

TEST(StudioMainTasks, AWithdrawnJobNeverRunsAndAStartedOneCannotBeWithdrawn) {
    MainTasks tasks;
    int ran = 0;
    auto first = tasks.submit([&] { ++ran; }, "first");
    auto second = tasks.submit([&] { ++ran; }, "second");
    EXPECT_TRUE(first->withdraw());
    EXPECT_TRUE(first->withdraw()) << "withdrawn stays withdrawn";
    std::string seen;
    auto third = tasks.submit([&] { seen = tasks.running(); }, "the third");
    EXPECT_EQ(tasks.runPending(), 2);
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(second->started());
    EXPECT_FALSE(second->withdraw());
    EXPECT_EQ(seen, "the third");
    EXPECT_EQ(tasks.running(), "");
}

TEST(StudioServerPort, APortInUseIsReportedNotTakenOver) {
    MainTasks tasks;
    StudioServer first(".", tasks), second(".", tasks);
    std::string error;
    ASSERT_TRUE(first.start(0, &error)) << error;
    EXPECT_FALSE(second.start(first.port(), &error));
    EXPECT_NE(error.find(std::to_string(first.port())), std::string::npos) << error;
}

}  // namespace
