// URL-encoded form data: the query-string reader and the reader of a URL-encoded POST body,
// which takes the body from standard input one item at a time.
#include <climits>
#include <cstdio>
#include <cstring>

#include "cgi/cgi_request.h"
#include "cgi/text_copy.h"
#include "trace/trace_channels.h"

namespace {
// One raw item of the body (name '=' value), decoded in place. Process-wide: the body reader
// runs once per process.
char raw_pair_buf[RAW_PAIR_BUF_SIZE];
}  // namespace

// Cuts the next item off the decoded query: a name up to '=' and a value up to '&'. Only the end
// of the text with nothing read ends the pairs; an empty item between two '&' is an empty pair.
bool CgiRequest::get_GET_pair(char* name_out, char* value_out, std::size_t value_capacity) {
    std::size_t name_len = 0;
    std::size_t value_len = 0;
    bool in_value = false;
    bool separator_seen = false;
    while (*query_pos != '\0') {
        const char ch = *query_pos++;
        if (ch == '&') {
            separator_seen = true;
            break;
        }
        if (!in_value && ch == '=') {
            in_value = true;
        } else if (!in_value) {
            if (name_len + 1 < SCRATCH_SIZE) name_out[name_len++] = ch;
        } else if (value_len + 1 < value_capacity) {
            value_out[value_len++] = ch;
        }
    }
    name_out[name_len] = '\0';
    value_out[value_len] = '\0';
    return separator_seen || name_len > 0 || value_len > 0;
}

// One item of a URL-encoded body: read raw up to '&', '+' turned into ' ', %XX decoded, then cut
// at the first '='. content_length counts the body bytes not yet consumed.
bool CgiRequest::get_urlencoded_pair(ReadPair& out) {
    char* const name_out = out.name;
    name_out[0] = out.file_name[0] = out.file_type[0] = '\0';
    out.data = "";
    out.length = 0;
    cgi_trace.log("get_POST_pair content_length = %d\n", content_length);
    if (content_length <= 0) return false;
    if (std::feof(stdin)) {
        cgi_trace.log("get_POST_pair EOF\n");
        return false;
    }
    get_raw_pair_from_stdin(raw_pair_buf, sizeof raw_pair_buf, '&');
    plus_to_space(raw_pair_buf);
    url_decode(raw_pair_buf);

    const char* equals = std::strchr(raw_pair_buf, '=');
    const std::size_t name_len =
        equals ? static_cast<std::size_t>(equals - raw_pair_buf) : std::strlen(raw_pair_buf);
    copy_bytes(name_out, SCRATCH_SIZE, raw_pair_buf, name_len);
    if (equals) {
        out.data = equals + 1;
        out.length = static_cast<std::int32_t>(std::strlen(equals + 1));
    }
    cgi_trace.log("get_POST_pair value: '%s'\n", out.data);
    return true;
}

// Reads one raw item from standard input, up to `stop` (consumed, not stored), the end of the
// declared length or the end of input. An item longer than the buffer is read whole but only its
// first capacity - 1 bytes are kept.
char* CgiRequest::get_raw_pair_from_stdin(char* buffer, std::size_t capacity, char stop) {
    std::size_t length = 0;
    for (;;) {
        const std::int32_t left = content_length;
        if (left > INT32_MIN) content_length = left - 1;
        if (left <= 0) break;
        if (std::feof(stdin)) break;
        const int ch = getc_unlocked(stdin);
        if (ch == EOF || ch == static_cast<unsigned char>(stop)) break;
        if (length + 1 < capacity) buffer[length++] = static_cast<char>(ch);
    }
    buffer[length] = '\0';
    cgi_trace.log("get_raw_pair_from_stdin word: '%s'\n", buffer);
    return buffer;
}
