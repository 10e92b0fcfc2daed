// CgiRequest construction: binary streams, program path, CGI environment, the read window over a
// multipart body, the query string and the command-line test mode; and environment lookup by index.
#include "cgi/cgi_request.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cgi/content_type.h"
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

// Decimal conversion as atoi does it (leading blanks, a sign, stop at the first non-digit, no
// digits give 0), but clamped to the 32-bit range instead of overflowing.
std::int32_t parse_length(const char* text) {
    long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

}  // namespace

CgiRequest::CgiRequest(int argc, char* argv[], RequestOptions options)
    : on_unreadable(options.unreadable_body) {
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
        } else if (std::string boundary_text;
                   cgi::multipart_boundary(content_type, boundary_text)) {
            was_post = true;
            is_multipart = true;
            cgi_trace.log("Boundary is '%s' (len=%d)\n", boundary_text.c_str(),
                          static_cast<int>(boundary_text.size()));
            if (!body_refused) read_multipart_body(boundary_text, options.body_window);
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
void CgiRequest::read_multipart_body(const std::string& boundary_text, std::size_t window_size) {
    if (content_length < 0 ||
        !multipart.open(fileno(stdin), static_cast<std::size_t>(content_length), boundary_text,
                        window_size)) {
        body_refused = true;
        content_length = 0;
        return;
    }
    cgi_trace.log("Read %d bytes\n", static_cast<int>(multipart.bytes_read()));
    sync_body_length();
}

// Once the input has ended short of the declared length, content_length becomes the number of
// bytes really read.
void CgiRequest::sync_body_length() {
    const std::size_t got = multipart.bytes_read();
    if (multipart.input_ended() && got < static_cast<std::size_t>(content_length)) {
        content_length = static_cast<std::int32_t>(got);
        cgi_trace.log("Somebody lied about the content length: now %d\n", content_length);
    }
}

// Copies at most MAX_QUERY_CHARS characters of `text` (null: none) into query_buf, turns '+' into
// ' ' and then decodes %XX, so that an encoded '+' survives; the query reader starts over.
void CgiRequest::set_query(const char* text) {
    copy_text(query_buf, MAX_QUERY_CHARS + 1, text ? text : "");
    plus_to_space(query_buf);
    url_decode(query_buf);
    query_pos = query_buf;
}

const char* CgiRequest::get_env(int index) const {
    if (index < 0 || index >= CGI_ENV_COUNT) return nullptr;
    return std::getenv(CGI_ENV_NAMES[index]);
}
