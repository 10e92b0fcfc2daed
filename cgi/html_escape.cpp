// HTML-escaping of page text and %XX-escaping of link targets.
#include "cgi/html_escape.h"

#include <cstring>

#include "cgi/cgi_request.h"
#include "cgi/percent_escape.h"

namespace cgi {

using detail::is_control_byte;
using detail::percent_escape_span;

namespace {

// The entity for a character that must not appear raw in page text or attributes, or null.
const char* html_entity(char c) {
    switch (c) {
        case '&':
            return "&amp;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        case '"':
            return "&quot;";
        case '\'':
            return "&#39;";
        default:
            return nullptr;
    }
}

// Characters that escape_percent leaves alone but that would change where a relative link
// points: '%' starts an escape, '#' a fragment, ':' a scheme; control bytes are not URL text.
bool needs_extra_escape(unsigned char c) {
    return c == '%' || c == '#' || c == ':' || is_control_byte(c);
}

// Escapes `length` bytes of `text` (no NUL among them) into `out` as a link target.
bool link_target_span(char* out, std::size_t capacity, const char* text, std::size_t length) {
    return percent_escape_span(out, capacity, text, length, needs_extra_escape);
}

// Hands `text` to `put(bytes, count)` in runs, each character html_entity names as its entity.
template <typename Put>
void put_html(const char* text, Put put) {
    const char* run = text;
    for (const char* p = text; *p; ++p) {
        const char* entity = html_entity(*p);
        if (!entity) continue;
        put(run, static_cast<std::size_t>(p - run));
        put(entity, std::strlen(entity));
        run = p + 1;
    }
    put(run, std::strlen(run));
}

// Hands `text` to `put` escaped as a link target. Escaping works byte by byte, so a long text
// goes out in chunks through a small buffer.
template <typename Put>
void put_link(const char* text, Put put) {
    constexpr std::size_t kChunk = 256;
    char escaped[3 * kChunk + 1];
    std::size_t remaining = std::strlen(text);
    while (remaining > 0) {
        std::size_t n = remaining < kChunk ? remaining : kChunk;
        link_target_span(escaped, sizeof escaped, text, n);  // always fits: 3 bytes per byte
        put(escaped, std::strlen(escaped));
        text += n;
        remaining -= n;
    }
}

}  // namespace

void write_html(std::FILE* out, const char* text) {
    put_html(text, [out](const char* bytes, std::size_t n) { std::fwrite(bytes, 1, n, out); });
}

void CgiRequest::write_html(const char* text) {
    put_html(text, [this](const char* bytes, std::size_t n) { write(bytes, n); });
}

bool html_escape_to(char* out, std::size_t capacity, const char* text) {
    if (capacity == 0) return false;
    std::size_t used = 0;
    for (const char* p = text; *p; ++p) {
        const char* entity = html_entity(*p);
        std::size_t need = entity ? std::strlen(entity) : 1;
        if (used + need >= capacity) {
            out[0] = '\0';
            return false;
        }
        if (entity) {
            std::memcpy(out + used, entity, need);
        } else {
            out[used] = *p;
        }
        used += need;
    }
    out[used] = '\0';
    return true;
}

bool link_target_to(char* out, std::size_t capacity, const char* text) {
    return link_target_span(out, capacity, text, std::strlen(text));
}

void write_link(std::FILE* out, const char* text) {
    put_link(text, [out](const char* bytes, std::size_t n) { std::fwrite(bytes, 1, n, out); });
}

void CgiRequest::write_link(const char* text) {
    put_link(text, [this](const char* bytes, std::size_t n) { write(bytes, n); });
}

}  // namespace cgi
