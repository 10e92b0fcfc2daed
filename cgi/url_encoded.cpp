// URL-encoded form data: the query-string reader and the reader of a URL-encoded body, which
// takes the body from standard input one item at a time through the read window.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "cgi/body_readers.h"
#include "cgi/cgi_request.h"

namespace cgi {

// Cuts the next item off the decoded query: a name up to '=' and a value up to '&'. Only the end
// of the text with nothing read ends the pairs; an empty item between two '&' is an empty pair.
// The value is left in the query, where `out` points at it.
bool CgiRequest::get_GET_pair(detail::ReadPair& out) {
    const std::string_view rest = std::string_view(query_).substr(query_pos);
    const std::size_t separator = rest.find('&');
    const std::string_view item = rest.substr(0, separator);
    query_pos += separator == std::string_view::npos ? rest.size() : separator + 1;
    const std::size_t equals = item.find('=');
    const std::string_view name = item.substr(0, equals);
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
    if (name.size() > out.max_text) note_cut(Limit::name);
    out.name.assign(name.substr(0, out.max_text));
    out.data = value.data() ? value.data() : "";
    out.length = static_cast<std::int32_t>(value.size());
    return separator != std::string_view::npos || !name.empty() || !value.empty();
}

// The window over a URL-encoded body opens on the first item; false when there is no body to read.
bool CgiRequest::open_body_window() {
    if (!urlencoded_open) {
        urlencoded_open = true;
        if (content_length_ <= 0) return false;
        const std::size_t window =
            options_.body_window ? options_.body_window : DEFAULT_BODY_WINDOW;
        if (!readers->urlencoded.open(*io_, static_cast<std::size_t>(content_length_), window))
            return false;
    }
    return readers->urlencoded.buffer() != nullptr;
}

// One item of a URL-encoded body: read raw up to '&' (its first max_value_bytes bytes kept),
// '+' turned into ' ', %XX decoded, then cut at the first '='. content_length counts the body
// bytes not yet consumed.
bool CgiRequest::get_urlencoded_pair(detail::ReadPair& out) {
    out.name.clear();
    out.file_name.clear();
    out.file_type.clear();
    out.data = "";
    out.length = 0;
    out.cut = false;
    if (content_length_ <= 0 || !open_body_window()) return false;
    detail::BodyWindow& urlencoded = readers->urlencoded;
    if (urlencoded.fill(1) == 0) {
        // The input ended with body bytes still declared: the body was cut short.
        body_short = true;
        content_length_ = 0;
        return false;
    }
    urlencoded_item.clear();
    for (;;) {
        const std::size_t left = urlencoded.fill(1);
        if (left == 0) break;
        const char* at = urlencoded.data();
        const void* stop = std::memchr(at, '&', left);
        const std::size_t n =
            stop ? static_cast<std::size_t>(static_cast<const char*>(stop) - at) : left;
        const std::size_t room = options_.max_value_bytes - urlencoded_item.size();
        if (n > room) note_cut(Limit::value);
        urlencoded_item.append(at, n < room ? n : room);
        urlencoded.consume(stop ? n + 1 : n);
        if (stop) break;
    }
    content_length_ = static_cast<std::int32_t>(urlencoded.bytes_left());
    // The last item of a body cut short is kept, as far as it came; the flag says it is cut.
    if (urlencoded.input_ended() && !urlencoded.all_read()) body_short = true;
    char* const item = urlencoded_item.data();
    plus_to_space(item);
    url_decode(item);

    const char* equals = std::strchr(item, '=');
    const std::size_t name_len =
        equals ? static_cast<std::size_t>(equals - item) : std::strlen(item);
    if (name_len > out.max_text) out.cut = true;
    out.name.assign(item, name_len < out.max_text ? name_len : out.max_text);
    if (equals) {
        out.data = equals + 1;
        out.length = static_cast<std::int32_t>(std::strlen(equals + 1));
    }
    return true;
}

}  // namespace cgi
