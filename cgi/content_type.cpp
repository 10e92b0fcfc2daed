// Reading CONTENT_TYPE: the media type and its parameters, as RFC 9110 (media types) and
// RFC 2046 (the boundary parameter) write them.
#include "cgi/content_type.h"

#include <strings.h>

#include <cstring>

#include "cgi/cgi_limits.h"

namespace cgi::detail {
namespace {

constexpr char kMultipartType[] = "multipart/form-data";
// The fixed form every browser and curl send: recognised on its first 29 characters (the
// 30th, normally '=', is not compared), the boundary being the whole rest of the text.
constexpr std::size_t kFixedFormCompared = sizeof MULTIPART_PREFIX - 2;
constexpr std::size_t kFixedFormBoundaryOffset = sizeof MULTIPART_PREFIX - 1;

bool is_space(char c) {
    return c == ' ' || c == '\t';
}

void skip_spaces(const char*& p) {
    while (is_space(*p)) ++p;
}

// A token ends at a space, ';', '=' or the end of the text.
std::string take_token(const char*& p) {
    const char* start = p;
    while (*p && !is_space(*p) && *p != ';' && *p != '=') ++p;
    return std::string(start, p);
}

// A quoted string at p (p at the opening quote): its text unquoted, each '\' dropped before the
// byte it escapes. An unclosed quote runs to the end of the text.
std::string take_quoted(const char*& p) {
    std::string text;
    for (++p; *p && *p != '"'; ++p) {
        if (*p == '\\' && p[1]) ++p;
        text.push_back(*p);
    }
    if (*p == '"') ++p;
    return text;
}

// The text as the fixed form reads it, when it is in that form; false otherwise.
bool fixed_form_boundary(const char* content_type, std::string& boundary) {
    if (std::strncmp(content_type, MULTIPART_PREFIX, kFixedFormCompared) != 0) return false;
    const std::size_t length = std::strlen(content_type);
    // A type cut short before the boundary text gives an empty boundary, which finds no parts.
    const char* rest =
        content_type + (length > kFixedFormBoundaryOffset ? kFixedFormBoundaryOffset : length);
    if (rest[0] == '"' || std::strchr(rest, ';')) return false;
    boundary.assign(rest);
    return true;
}

}  // namespace

bool multipart_boundary(const char* content_type, std::string& boundary) {
    boundary.clear();
    if (!content_type) return false;
    if (fixed_form_boundary(content_type, boundary)) return true;

    const char* p = content_type;
    skip_spaces(p);
    const std::size_t type_length = sizeof kMultipartType - 1;
    if (strncasecmp(p, kMultipartType, type_length) != 0) return false;
    p += type_length;
    skip_spaces(p);
    bool found = false;
    while (*p == ';') {
        ++p;
        skip_spaces(p);
        const std::string name = take_token(p);
        skip_spaces(p);
        if (*p != '=') {
            // A parameter without a value: skip to the next ';'.
            while (*p && *p != ';') ++p;
            continue;
        }
        ++p;
        skip_spaces(p);
        std::string value = *p == '"' ? take_quoted(p) : take_token(p);
        skip_spaces(p);
        // Anything else up to the next ';' is not part of the value.
        while (*p && *p != ';') ++p;
        if (!found && strcasecmp(name.c_str(), "boundary") == 0) {
            boundary = std::move(value);
            found = true;
        }
    }
    return found;
}

}  // namespace cgi::detail
