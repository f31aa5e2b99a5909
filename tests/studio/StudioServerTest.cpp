// Tests of the studio's HTTP server on a real loopback socket: what it refuses (other origins and
// hosts, form posts, paths out of the web folder, links out of it, malformed requests), what it serves
// exactly, and that interface handlers run on the thread that pumps the main tasks.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
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
            if (r.body.find('{') != 0) return ApiResponse::error(400, "not an object");
            return ApiResponse::json(r.body);
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
                {"Origin", "http://127.0.0.1:" + std::to_string(server->port())}};
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
        c.Get("/api/events", [&](const char* data, size_t n) {
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

TEST(StudioServerPort, APortInUseIsReportedNotTakenOver) {
    MainTasks tasks;
    StudioServer first(".", tasks), second(".", tasks);
    std::string error;
    ASSERT_TRUE(first.start(0, &error)) << error;
    EXPECT_FALSE(second.start(first.port(), &error));
    EXPECT_NE(error.find(std::to_string(first.port())), std::string::npos) << error;
}

}  // namespace
