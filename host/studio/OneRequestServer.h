// The library's server with connections of our own: each answers exactly one request and is then
// closed, so nothing that follows a request on its connection (a refused request's unread body
// above all) is ever parsed as another request. The close lingers: the answer is sent whole, the
// sending side shut, and what the client still sends is read and dropped for a moment (at most
// kLingerBytes), so that closing with unread data does not reset the connection before the client
// has read the answer.
#pragma once

#include <httplib.h>

#include <cstddef>

namespace host::studio {

class OneRequestServer : public httplib::Server {
public:
    static constexpr int kLingerMs = 500;
    static constexpr size_t kLingerBytes = 2 << 20;

private:
    bool process_and_close_socket(socket_t sock) override;
};

}  // namespace host::studio
