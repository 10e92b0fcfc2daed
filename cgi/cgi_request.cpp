// CgiRequest construction: binary streams, program path, CGI environment, the read window over a
// multipart body, the query string and the command-line test mode; and environment lookup by index.
#include "cgi/cgi_request.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cgi/text_copy.h"
#include "platform/platform.h"
#include "trace/trace_channels.h"

const char* const CGI_ENV_NAMES[CGI_ENV_COUNT] = {
    "AUTH_TYPE",          "CONTENT_LENGTH",      "CONTENT_TYPE",         "DOCUMENT_ROOT",
    "GATEWAY_INTERFACE",  "HTTP_ACCEPT",         "HTTP_ACCEPT_ENCODING", "HTTP_ACCEPT_LANGUAGE",
    "HTTP_CONNECTION",    "HTTP_CONTENT_LENGTH", "HTTP_CONTENT_TYPE",    "HTTP_COOKIE",
    "HTTP_HOST",          "HTTP_REFERER",        "HTTP_USER_AGENT",      "PATH_INFO",
    "PATH_TRANSLATED",    "QUERY_STRING",        "REMOTE_ADDR",          "REMOTE_GROUP",
    "REMOTE_HOST",        "REMOTE_IDENT",        "REMOTE_USER",          "REQUEST_METHOD",
    "SCRIPT_NAME",        "SERVER_ADMIN",        "SERVER_NAME",          "SERVER_PORT",
    "SERVER_PORT_SECURE", "SERVER_PROTOCOL",     "SERVER_SOFTWARE",
};

namespace {

constexpr char kUrlEncodedType[] = "application/x-www-form-urlencoded";
// The multipart prefix is recognised on its first 29 characters ("...; boundary" without '=');
// the boundary text starts right after the full prefix.
constexpr std::size_t kMultipartCompared = sizeof MULTIPART_PREFIX - 2;
constexpr std::size_t kBoundaryOffset = sizeof MULTIPART_PREFIX - 1;

// Decimal conversion as atoi does it (leading blanks, a sign, stop at the first non-digit, no
// digits give 0), but clamped to the 32-bit range instead of overflowing.
std::int32_t parse_length(const char* text) {
    long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

}  // namespace

CgiRequest::CgiRequest(int argc, char* argv[]) {
    platform::set_binary_mode(fileno(stdin));
    platform::set_binary_mode(0);
    platform::set_binary_mode(1);

    // A path longer than the buffer is cut; only its last component matters to the program.
    copy_text(script_path, sizeof script_path, argc > 0 && argv && argv[0] ? argv[0] : "");
    script_name = script_path;
    for (char* p = script_path; *p; ++p) {
        if (*p == '/' || *p == '\\') script_name = p + 1;
    }

    request_method = std::getenv("REQUEST_METHOD");
    was_post = request_method != nullptr && std::strcmp(request_method, "POST") == 0;
    is_multipart = false;
    cgi_trace.log("REQUEST_METHOD = '%s', was_post = %d\n",
                  request_method ? request_method : "(null)", was_post);

    if (const char* length = std::getenv("CONTENT_LENGTH")) content_length = parse_length(length);
    // A body declared larger than MAX_BODY_SIZE is never read, whatever its type.
    if (content_length > MAX_BODY_SIZE) {
        body_refused = true;
        content_length = 0;
    }

    content_type = std::getenv("CONTENT_TYPE");
    if (content_type) {
        cgi_trace.log("content_length is %d\n", content_length);
        cgi_trace.log("content_type is '%s'\n", content_type);
        cgi_trace.log("formdata     is '%s'\n", MULTIPART_PREFIX);
        cgi_trace.log("size         is %d\n", static_cast<int>(sizeof MULTIPART_PREFIX));
        if (std::strcmp(content_type, kUrlEncodedType) == 0) {
            was_post = true;
        } else if (std::strncmp(content_type, MULTIPART_PREFIX, kMultipartCompared) == 0) {
            was_post = true;
            is_multipart = true;
            // A type cut short before the boundary text gives an empty boundary, which finds no
            // parts; nothing past the end of CONTENT_TYPE is read.
            const std::size_t type_len = std::strlen(content_type);
            boundary = content_type + (type_len > kBoundaryOffset ? kBoundaryOffset : type_len);
            boundary_len = static_cast<std::int32_t>(std::strlen(boundary));
            delimiter.assign("--").append(boundary);
            cgi_trace.log("Boundary is '%s' (len=%d)\n", boundary, boundary_len);
            if (!body_refused) read_multipart_body();
        }
    }

    set_query(std::getenv("QUERY_STRING"));

    if (argc > 1 && argv[1] && argv[1][0] == '-' && argv[1][1] == 't') {
        was_post = false;
        set_query(argc > 2 ? argv[2] : nullptr);
    }
}

CgiRequest::~CgiRequest() = default;

// Opens the read window over the body and fills it once: a body that fits the window is read
// whole here, a longer one streams through it while the pairs are collected. A negative length
// (one above MAX_BODY_SIZE never gets here), or a window that cannot be had, leaves the body
// unread: body_too_large() then tells the application.
void CgiRequest::read_multipart_body() {
    if (content_length < 0 || content_length > MAX_BODY_SIZE) {
        body_refused = true;
        content_length = 0;
        return;
    }
    // The window must hold a delimiter with room to spare, however long the boundary.
    std::size_t capacity = body_window_size();
    if (capacity < 2 * delimiter.size() + 64) capacity = 2 * delimiter.size() + 64;
    if (!window.open(fileno(stdin), static_cast<std::size_t>(content_length), capacity)) {
        body_refused = true;
        content_length = 0;
        return;
    }
    body = window.buffer();
    cgi_trace.log("Read %d bytes\n", static_cast<int>(window.bytes_read()));
    sync_body_cursor();
}

// Points raw_ptr at the parse cursor; once the input has ended short of the declared length,
// content_length becomes the number of bytes really read.
void CgiRequest::sync_body_cursor() {
    raw_ptr = window.data();
    const std::size_t got = window.bytes_read();
    if (window.input_ended() && got < static_cast<std::size_t>(content_length)) {
        content_length = static_cast<std::int32_t>(got);
        cgi_trace.log("Somebody lied about the content length: now %d\n", content_length);
    }
}

// Copies at most QUERY_MAX_CHARS characters of `text` (null: none) into query_buf, turns '+' into
// ' ' and then decodes %XX, so that an encoded '+' survives; the query reader starts over.
void CgiRequest::set_query(const char* text) {
    copy_text(query_buf, QUERY_MAX_CHARS + 1, text ? text : "");
    plus_to_space(query_buf);
    url_decode(query_buf);
    query_pos = query_buf;
}

const char* CgiRequest::get_env(int index) const {
    if (index < 0 || index >= CGI_ENV_COUNT) return nullptr;
    return std::getenv(CGI_ENV_NAMES[index]);
}
