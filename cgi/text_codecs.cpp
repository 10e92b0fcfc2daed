// In-place text codecs of the request: '+'/space conversion, %XX decoding, %XX and backslash
// escaping of shell- and markup-sensitive characters, and small searches.
#include <cstring>

#include "cgi/cgi_request.h"
#include "cgi/percent_escape.h"

namespace cgi {

namespace {

// Characters escaped as %XX; the space is the last member and the only one that escape_backslash
// leaves alone.
constexpr char kPercentEscaped[] = "&;`'\"|*?~<>^()[]{}$\\ ";
constexpr std::size_t kBackslashEscapedCount = sizeof kPercentEscaped - 2;

bool in_set(char ch, const char* set, std::size_t count) {
    return ch != '\0' && std::memchr(set, ch, count) != nullptr;
}

int hex_digit_value(char ch) {
    // Unvalidated: any character yields some value, so a malformed escape still decodes to a byte.
    const int c = static_cast<signed char>(ch);
    return c < 'A' ? c - '0' : (c & 0xDF) - 55;
}

char hex_digit(unsigned value) {
    return static_cast<char>(value < 10 ? '0' + value : 'A' + value - 10);
}

// Inserts `insert_len` bytes before each member of the first `set_count` characters of the escape
// set; `write` fills them in. False, with the text unchanged, when the result would not fit.
template <typename Write>
bool escape_in_place(char* text, std::size_t capacity, std::size_t set_count,
                     std::size_t insert_len, Write write) {
    std::size_t length = std::strlen(text);
    std::size_t grown = length;
    for (std::size_t i = 0; i < length; ++i) {
        if (in_set(text[i], kPercentEscaped, set_count)) grown += insert_len;
    }
    if (grown >= capacity) return false;
    for (std::size_t i = 0; text[i] != '\0'; ++i) {
        if (!in_set(text[i], kPercentEscaped, set_count)) continue;
        std::memmove(text + i + 1 + insert_len, text + i + 1, length - i);  // tail and terminator
        write(text + i, static_cast<unsigned char>(text[i]));
        i += insert_len;
        length += insert_len;
    }
    return true;
}

}  // namespace

unsigned char CgiRequest::hex_pair_value(const char* p) {
    return static_cast<unsigned char>((16 * hex_digit_value(p[0]) + hex_digit_value(p[1])) & 0xFF);
}

// A '%' takes the two characters after it. A '%' with fewer than two characters left before the
// terminator is kept as it stands, so nothing past the terminator is read.
void CgiRequest::url_decode(char* text) {
    std::size_t read = 0;
    std::size_t write = 0;
    while (text[read] != '\0') {
        if (text[read] == '%' && text[read + 1] != '\0' && text[read + 2] != '\0') {
            text[write] = static_cast<char>(hex_pair_value(text + read + 1));
            read += 2;
        } else {
            text[write] = text[read];
        }
        ++read;
        ++write;
    }
    text[write] = '\0';
}

void CgiRequest::plus_to_space(char* text) {
    for (; *text; ++text) {
        if (*text == '+') *text = ' ';
    }
}

void CgiRequest::space_to_plus(char* text) {
    for (; *text; ++text) {
        if (*text == ' ') *text = '+';
    }
}

char CgiRequest::hex_high(unsigned char byte) {
    return hex_digit((byte >> 4) & 15u);
}

char CgiRequest::hex_low(unsigned char byte) {
    return hex_digit(byte & 15u);
}

std::int32_t CgiRequest::index_of(const char* text, char ch) {
    if (ch == '\0') return -1;
    const char* hit = std::strchr(text, ch);
    return hit ? static_cast<std::int32_t>(hit - text) : -1;
}

bool CgiRequest::escape_percent(char* text, std::size_t capacity) {
    return escape_in_place(text, capacity, sizeof kPercentEscaped - 1, 2,
                           [](char* at, unsigned char ch) {
                               at[0] = '%';
                               at[1] = hex_high(ch);
                               at[2] = hex_low(ch);
                           });
}

bool CgiRequest::escape_backslash(char* text, std::size_t capacity) {
    return escape_in_place(text, capacity, kBackslashEscapedCount, 1,
                           [](char* at, unsigned char ch) {
                               at[0] = '\\';
                               at[1] = static_cast<char>(ch);
                           });
}

const char* CgiRequest::find_text(const char* text, std::int32_t n, const char* needle) {
    for (std::int32_t p = 0; p < n; ++p) {
        if (text[p] != needle[0]) continue;
        // Compared byte by byte: stops at the first difference, the text's terminator included.
        std::size_t k = 0;
        while (needle[k] != '\0' && text[p + k] == needle[k]) ++k;
        if (needle[k] == '\0') return text + p;
    }
    return nullptr;
}

bool detail::percent_escape_span(char* out, std::size_t capacity, const char* text,
                                 std::size_t length, bool (*escaped)(unsigned char)) {
    if (capacity == 0) return false;
    std::size_t used = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool as_hex = escaped(c);
        if (used + (as_hex ? 3 : 1) >= capacity) {
            out[0] = '\0';
            return false;
        }
        if (as_hex) {
            out[used++] = '%';
            out[used++] = CgiRequest::hex_high(c);
            out[used++] = CgiRequest::hex_low(c);
        } else {
            out[used++] = static_cast<char>(c);
        }
    }
    out[used] = '\0';
    if (CgiRequest::escape_percent(out, capacity)) return true;
    out[0] = '\0';
    return false;
}

}  // namespace cgi
