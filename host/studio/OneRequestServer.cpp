#include "host/studio/OneRequestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace host::studio {
namespace {

// The socket of one connection as the library reads and writes it (a small read buffer: the
// library reads the request line and headers a byte at a time).
class OneRequestStream : public httplib::Stream {
public:
    explicit OneRequestStream(socket_t sock) : sock_(sock) {}

    bool is_readable() const override { return at_ < size_ || waitFor(POLLIN, kReadTimeoutMs); }
    bool is_writable() const override { return waitFor(POLLOUT, kWriteTimeoutMs); }
    ssize_t read(char* ptr, size_t size) override {
        if (at_ == size_) {
            if (!waitFor(POLLIN, kReadTimeoutMs)) return -1;
            ssize_t n;
            do n = ::recv(sock_, buffer_, sizeof buffer_, 0);
            while (n < 0 && errno == EINTR);
            if (n <= 0) return n;
            at_ = 0;
            size_ = static_cast<size_t>(n);
        }
        const size_t n = std::min(size, size_ - at_);
        std::memcpy(ptr, buffer_ + at_, n);
        at_ += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) return -1;
        ssize_t n;
        do n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        return n;
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override { address(true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { address(false, ip, port); }
    socket_t socket() const override { return sock_; }

    static constexpr int kReadTimeoutMs = 5000, kWriteTimeoutMs = 5000;

private:
    bool waitFor(short events, int ms) const {
        pollfd p{sock_, events, 0};
        int n;
        do n = ::poll(&p, 1, ms);
        while (n < 0 && errno == EINTR);
        return n > 0;
    }
    void address(bool remote, std::string& ip, int& port) const {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        const int rc = remote ? ::getpeername(sock_, reinterpret_cast<sockaddr*>(&a), &len)
                              : ::getsockname(sock_, reinterpret_cast<sockaddr*>(&a), &len);
        ip.clear();
        port = 0;
        if (rc != 0 || a.ss_family != AF_INET) return;
        const auto* in = reinterpret_cast<const sockaddr_in*>(&a);
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        ip = text;
        port = ntohs(in->sin_port);
    }

    socket_t sock_;
    char buffer_[4096];
    size_t at_ = 0, size_ = 0;
};

}  // namespace

bool OneRequestServer::process_and_close_socket(socket_t sock) {
    bool ret = false;
    {
        OneRequestStream stream(sock);
        bool closed = false;
        if (stream.is_readable()) ret = process_request(stream, true, closed, nullptr);
    }
    ::shutdown(sock, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerMs);
    size_t dropped = 0;
    char sink[16384];
    while (dropped < kLingerBytes) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{sock, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        const ssize_t n = ::recv(sock, sink, sizeof sink, 0);
        if (n <= 0) break;
        dropped += static_cast<size_t>(n);
    }
    ::close(sock);
    return ret;
}

}  // namespace host::studio
