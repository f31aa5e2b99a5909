// What the commands print reaches a terminal: names and messages from files may hold escape
// sequences (colours, cursor moves, a retitled window) or line breaks that forge other lines. The
// command line's output streams escape every control character but the line break and the tab as
// \xNN, and so the C1 controls (U+0080..U+009F) and bytes that are no part of valid UTF-8, whatever
// part of the program wrote them.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace app {

class EscapingStreambuf : public std::streambuf {
public:
    explicit EscapingStreambuf(std::streambuf* target) : target_(target) {}
    ~EscapingStreambuf() override;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    bool put(unsigned char c);
    bool escape(unsigned char c);
    bool flushPending(bool valid);

    std::streambuf* target_;
    std::string pending_;  // the bytes of a UTF-8 sequence so far
    int need_ = 0;         // its continuation bytes still to come
};

// Escapes control characters in everything written to `stream` from now until the returned guard
// is dropped.
class EscapedOutput {
public:
    explicit EscapedOutput(std::ostream& stream) : stream_(stream), original_(stream.rdbuf()), buf_(original_) {
        stream_.rdbuf(&buf_);
    }
    ~EscapedOutput() {
        stream_.flush();
        stream_.rdbuf(original_);
    }
    EscapedOutput(const EscapedOutput&) = delete;
    EscapedOutput& operator=(const EscapedOutput&) = delete;

private:
    std::ostream& stream_;
    std::streambuf* original_;
    EscapingStreambuf buf_;
};

}  // namespace app
