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
#include "cgi/text_copy.h"

namespace cgi {

namespace {

// The first `limit` bytes of `part` %XX-escaped: control bytes (a CR or LF would end the
// Set-Cookie line and let what follows stand as a header line of its own) and escape_percent's
// characters. Every byte escapes to at most three.
std::string escape_cookie_part(const char* part, std::size_t length) {
    std::string escaped(3 * length + 1, '\0');
    detail::percent_escape_span(escaped.data(), escaped.size(), part, length,
                                detail::is_control_byte);
    escaped.resize(std::strlen(escaped.c_str()));
    return escaped;
}

// An attribute text that could end the cookie line or start another attribute.
bool attribute_is_safe(const char* text) {
    for (const char* p = text; *p; ++p) {
        if (detail::is_control_byte(static_cast<unsigned char>(*p)) || *p == ';') return false;
    }
    return true;
}

std::optional<std::string> attribute_copy(const char* text) {
    if (!text) return std::nullopt;
    return std::string(text);
}

}  // namespace

bool CgiRequest::SetCookie(const char* name, const char* value) {
    return SetCookie(name, value, CookieOptions{});
}

bool CgiRequest::SetCookie(const char* name, const char* value, const char* domain,
                           const char* path, bool secure) {
    CookieOptions options;
    options.domain = domain;
    options.path = path;
    options.secure = secure;
    return SetCookie(name, value, options);
}

bool CgiRequest::SetCookie(const char* name, const char* value, const CookieOptions& options) {
    if (header_sent_ || !name || !value) return false;
    for (const char* attribute : {options.domain, options.path}) {
        if (attribute && !attribute_is_safe(attribute)) return false;
    }
    const std::size_t limit = options_.max_cookie_bytes;
    const std::size_t name_length = strnlen(name, limit + 1);
    const std::size_t value_length = strnlen(value, limit + 1);
    if (name_length > limit || value_length > limit) note_cut(Limit::cookie);
    try {
        ResponseCookie cookie;
        cookie.pair = escape_cookie_part(name, name_length < limit ? name_length : limit) + "=" +
                      escape_cookie_part(value, value_length < limit ? value_length : limit);
        cookie.domain = attribute_copy(options.domain);
        cookie.path = attribute_copy(options.path);
        cookie.secure = options.secure;
        cookie.http_only = options.http_only;
        cookie.same_site = options.same_site;
        cookie.expiry = options.expiry;
        cookie.max_age = options.max_age;
        cookies.push_back(std::move(cookie));
    } catch (const std::bad_alloc&) {
        return false;  // the cookies set so far are kept
    }
    return true;
}

bool CgiRequest::delete_cookie(const char* name, const CookieOptions& options) {
    CookieOptions gone = options;
    gone.max_age = 0;
    if (!SetCookie(name, "", gone)) return false;
    cookies.back().deleted = true;
    return true;
}

std::optional<std::string> CgiRequest::cookie(const char* wanted) const {
    const char* header = get_env(CgiEnv::HTTP_COOKIE);
    if (!header || !wanted) return std::nullopt;
    std::string text(header);

    std::optional<std::string> found;
    // Compares one name=value pair (both cut out of `text`) and takes the value on a match; a
    // later pair of the same name overwrites an earlier one.
    auto compare = [&](const char* name, const char* value) {
        std::string decoded_name(name);
        url_decode(decoded_name.data());
        if (std::strcmp(decoded_name.c_str(), wanted) != 0) return;
        std::string decoded_value(value);
        url_decode(decoded_value.data());
        decoded_value.resize(std::strlen(decoded_value.c_str()));
        found = std::move(decoded_value);
    };

    char* cursor = text.data();
    char* name = cursor;
    while (*cursor != '\0') {
        // The name runs to "="; ";" and "," are ordinary bytes here, so a segment without "="
        // runs on into the following name.
        char* value = nullptr;
        while (*cursor != '\0' && *cursor != '=') ++cursor;
        if (*cursor == '=') {
            *cursor++ = '\0';
            value = cursor;
        }
        while (*cursor != '\0' && *cursor != ';' && *cursor != ',') ++cursor;
        if (*cursor == '\0') {
            if (value) compare(name, value);
            break;
        }
        *cursor++ = '\0';
        while (*cursor == ' ' || *cursor == '\t') ++cursor;
        if (value) compare(name, value);
        name = cursor;
    }
    return found;
}

bool CgiRequest::get_cookie(const char* wanted, char* out, std::size_t capacity) const {
    if (!out || capacity == 0) return false;
    const std::optional<std::string> value = cookie(wanted);
    if (!value) return false;
    if (value->size() >= capacity) note_cut(Limit::buffer);
    detail::copy_bytes(out, capacity, value->data(), value->size());
    return true;
}

}  // namespace cgi
