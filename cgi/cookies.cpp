// Cookies: keeping the cookies the response sets, each with its own attributes, and reading a
// cookie the client sent.
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "cgi/cgi_request.h"
#include "cgi/percent_escape.h"
#include "trace/trace_channels.h"

namespace {

// Copies at most `limit` bytes of `text` into `out` (which holds limit + 1) and terminates it.
void copy_prefix(char* out, const char* text, std::size_t limit) {
    const std::size_t length = strnlen(text, limit);
    std::memcpy(out, text, length);
    out[length] = '\0';
}

// Copies the first `length` bytes of `part` into `work` with control bytes as %XX (a CR or LF
// would end the Set-Cookie line and let what follows stand as a header line of its own), then
// escapes the result with escape_percent. False when the escaped text does not fit the work area.
bool escape_prefix(const char* part, std::size_t length, char (&work)[ESCAPED_PART_SIZE]) {
    return percent_escape_span(work, sizeof work, part, length, is_control_byte);
}

// Puts the escaped form of (a prefix of) `part` into `work`. The part is first cut to
// MAX_COOKIE_PART_BYTES bytes; when its escaped form still does not fit the work area, it is cut to
// the longest prefix whose escaped form does, so that no %XX sequence is ever split.
void escape_cookie_part(const char* part, char (&work)[ESCAPED_PART_SIZE]) {
    const std::size_t length = strnlen(part, MAX_COOKIE_PART_BYTES);
    if (escape_prefix(part, length, work)) return;

    // Every byte escapes to at most three, so this many always fit; the whole part does not.
    std::size_t fits = (sizeof work - 1) / 3;
    std::size_t too_long = length;
    while (too_long - fits > 1) {
        const std::size_t middle = fits + (too_long - fits) / 2;
        if (escape_prefix(part, middle, work)) {
            fits = middle;
        } else {
            too_long = middle;
        }
    }
    escape_prefix(part, fits, work);
}

// An attribute text that could end the cookie line or start another attribute is left out.
bool attribute_is_safe(const char* text) {
    for (const char* p = text; *p; ++p) {
        if (is_control_byte(static_cast<unsigned char>(*p)) || *p == ';') return false;
    }
    return true;
}

// A copy of an attribute text, or none when it is null or unsafe.
std::optional<std::string> attribute_copy(const char* text) {
    if (!text || !attribute_is_safe(text)) return std::nullopt;
    return std::string(text);
}

}  // namespace

void CgiRequest::SetCookie(const char* name, const char* value) {
    SetCookie(name, value, CookieOptions{});
}

void CgiRequest::SetCookie(const char* name, const char* value, const char* domain,
                           const char* path, bool secure) {
    CookieOptions options;
    options.domain = domain;
    options.path = path;
    options.secure = secure;
    SetCookie(name, value, options);
}

void CgiRequest::SetCookie(const char* name, const char* value, const CookieOptions& options) {
    cgi_trace.log("SetCookie(%s,%s)\n", name, value);

    char escaped_name[ESCAPED_PART_SIZE];
    char escaped_value[ESCAPED_PART_SIZE];
    escape_cookie_part(name, escaped_name);
    escape_cookie_part(value, escaped_value);
    cgi_trace.log("setCookie(%s,%s)\n", escaped_name, escaped_value);

    char joined[JOINED_COOKIE_SIZE];
    std::snprintf(joined, sizeof joined, "%s=%s", escaped_name, escaped_value);
    cgi_trace.log("setCookie(%s)\n", joined);

    try {
        ResponseCookie cookie;
        cookie.pair = joined;
        cookie.domain = attribute_copy(options.domain);
        cookie.path = attribute_copy(options.path);
        cookie.secure = options.secure;
        cookie.http_only = options.http_only;
        cookie.same_site = options.same_site;
        cookies.push_back(std::move(cookie));
    } catch (const std::bad_alloc&) {
        // Without memory the cookie is not added; the cookies set so far are kept.
    }
}

bool CgiRequest::get_cookie(const char* wanted, char* out) const {
    return get_cookie(wanted, out, SCRATCH_SIZE);
}

bool CgiRequest::get_cookie(const char* wanted, char* out, std::size_t capacity) const {
    if (capacity == 0) return false;
    const char* header = get_env(HTTP_COOKIE);
    if (!header) return false;
    cgi_trace.log("<br>Cookie: '%s'\n", header);

    char text[COOKIE_HEADER_SIZE];
    copy_prefix(text, header, sizeof text - 1);

    bool found = false;
    // Compares one name=value pair (both cut out of `text`) and takes the value on a match;
    // a later pair of the same name overwrites an earlier one.
    auto compare = [&](const char* name, const char* value) {
        char decoded_name[COOKIE_NAME_SIZE];
        copy_prefix(decoded_name, name, sizeof decoded_name - 1);
        url_decode(decoded_name);
        cgi_trace.log("<br>Checking '%s' against '%s'\n", wanted, decoded_name);
        if (std::strcmp(decoded_name, wanted) != 0) return;
        copy_prefix(out, value, capacity - 1);
        url_decode(out);
        cgi_trace.log("<br>Found '%s'\n", out);
        found = true;
    };

    char* cursor = text;
    char* name = text;
    while (*cursor != '\0') {
        // The name runs to "="; ";" and "," are ordinary bytes here, so a segment without "="
        // runs on into the following name.
        char* value = nullptr;
        while (*cursor != '\0' && *cursor != '=') ++cursor;
        if (*cursor == '=') {
            *cursor++ = '\0';
            value = cursor;
            cgi_trace.log("<br>Name '%s'\n", name);
        }
        while (*cursor != '\0' && *cursor != ';' && *cursor != ',') ++cursor;
        if (*cursor == '\0') {
            if (value) compare(name, value);
            break;
        }
        *cursor++ = '\0';
        while (*cursor == ' ' || *cursor == '\t') ++cursor;
        compare(name, value);
        name = cursor;
    }
    return found;
}
