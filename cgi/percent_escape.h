// %XX escaping of a span of bytes, shared by the cookie writer and the link-target escaper.
#pragma once

#include <cstddef>

namespace cgi::detail {

// Control bytes never reach a header line or a link raw.
inline bool is_control_byte(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// Copies `length` bytes of `text` (no NUL among them) into `out` of `capacity` bytes with every
// byte for which `escaped` holds written as %XX, then escapes the result with escape_percent.
// False, with `out` empty, when it does not fit.
bool percent_escape_span(char* out, std::size_t capacity, const char* text, std::size_t length,
                         bool (*escaped)(unsigned char));

}  // namespace cgi::detail
