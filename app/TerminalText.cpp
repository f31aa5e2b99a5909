#include "TerminalText.h"

#include <cstdio>

namespace app {

EscapingStreambuf::~EscapingStreambuf() { sync(); }

bool EscapingStreambuf::escape(unsigned char c) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02x", c);
    return target_->sputn(text, 4) == 4;
}

bool EscapingStreambuf::flushPending(bool valid) {
    const std::string bytes = pending_;
    pending_.clear();
    need_ = 0;
    // U+0080..U+009F are the C1 controls (0x9b alone starts a sequence on some terminals).
    const bool c1 = bytes.size() == 2 && static_cast<unsigned char>(bytes[0]) == 0xc2 &&
                    static_cast<unsigned char>(bytes[1]) <= 0x9f;
    if (valid && !c1) return target_->sputn(bytes.data(), static_cast<std::streamsize>(bytes.size())) ==
                             static_cast<std::streamsize>(bytes.size());
    for (unsigned char b : bytes)
        if (!escape(b)) return false;
    return true;
}

bool EscapingStreambuf::put(unsigned char c) {
    if (need_ > 0) {
        if (c >= 0x80 && c <= 0xbf) {
            pending_ += static_cast<char>(c);
            return --need_ > 0 || flushPending(true);
        }
        if (!flushPending(false)) return false;  // a sequence cut short
    }
    if (c < 0x80) {
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7f) return escape(c);
        return target_->sputc(static_cast<char>(c)) != traits_type::eof();
    }
    need_ = c >= 0xc2 && c <= 0xdf ? 1 : c >= 0xe0 && c <= 0xef ? 2 : c >= 0xf0 && c <= 0xf4 ? 3 : 0;
    if (need_ == 0) return escape(c);  // a byte no UTF-8 sequence starts with
    pending_.assign(1, static_cast<char>(c));
    return true;
}

EscapingStreambuf::int_type EscapingStreambuf::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    return put(static_cast<unsigned char>(traits_type::to_char_type(c))) ? c : traits_type::eof();
}

std::streamsize EscapingStreambuf::xsputn(const char* s, std::streamsize n) {
    for (std::streamsize i = 0; i < n; ++i)
        if (!put(static_cast<unsigned char>(s[i]))) return i;
    return n;
}

int EscapingStreambuf::sync() {
    // A sequence written in two pieces may be cut here; it is shown escaped rather than held.
    if (need_ > 0) flushPending(false);
    return target_->pubsync();
}

}  // namespace app
