// CgiRequest construction: binary streams, program path, CGI environment, the read window over a
// multipart body, the query string and the command-line test mode; and environment lookup.
#include "cgi/cgi_request.h"

#include <strings.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cgi/body_readers.h"
#include "cgi/connection.h"
#include "cgi/content_type.h"
#include "cgi/text_copy.h"
#include "platform/platform.h"
#include "trace/trace_channels.h"

namespace cgi {

using detail::copy_text;

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

const char* version() {
#define VOCANTA_CGI_TEXT(x) #x
#define VOCANTA_CGI_VERSION_TEXT(a, b, c) \
    VOCANTA_CGI_TEXT(a) "." VOCANTA_CGI_TEXT(b) "." VOCANTA_CGI_TEXT(c)
    return VOCANTA_CGI_VERSION_TEXT(VOCANTA_CGI_VERSION_MAJOR, VOCANTA_CGI_VERSION_MINOR,
                                    VOCANTA_CGI_VERSION_PATCH);
#undef VOCANTA_CGI_VERSION_TEXT
#undef VOCANTA_CGI_TEXT
}

RequestOptions RequestOptions::as_designed() {
    RequestOptions options;
    options.unreadable_body = UnreadableBody::end_process;
    options.skip_preamble = false;
    options.pairs_by_method = false;
    return options;
}

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

// The URL-encoded media type, in any case, with or without parameters.
bool is_urlencoded_type(const char* type) {
    const std::size_t n = sizeof kUrlEncodedType - 1;
    return strncasecmp(type, kUrlEncodedType, n) == 0 &&
           (type[n] == '\0' || type[n] == ';' || type[n] == ' ' || type[n] == '\t');
}

}  // namespace

FormPair::FormPair() = default;  // (body_readers.h makes HeldValue whole for these)
FormPair::FormPair(FormPair&&) noexcept = default;
FormPair& FormPair::operator=(FormPair&&) noexcept = default;
FormPair::~FormPair() = default;

CgiRequest::CgiRequest(int argc, char* argv[], RequestOptions options)
    : options_(options), io_(&detail::process_connection()) {
    platform::set_binary_mode(fileno(stdin));
    platform::set_binary_mode(0);
    platform::set_binary_mode(1);
    construct(argc, argv);
}

CgiRequest::CgiRequest(int argc, char* argv[], RequestOptions options,
                       detail::Connection& connection, bool persistent)
    : options_(options), io_(&connection), persistent_(persistent) {
    construct(argc, argv);
}

// Everything a request learns at its start comes from its connection: the variables, the first
// window of a multipart body; the arguments only give the program's path and the test mode.
void CgiRequest::construct(int argc, char* argv[]) {
    readers = std::make_unique<detail::BodyReaders>();
    // A path longer than the buffer is cut; only its last component matters to the program.
    copy_text(script_path_, sizeof script_path_, argc > 0 && argv && argv[0] ? argv[0] : "");
    script_name_ = script_path_;
    for (char* p = script_path_; *p; ++p) {
        if (*p == '/' || *p == '\\') script_name_ = p + 1;
    }

    request_method_ = env("REQUEST_METHOD");
    const bool is_post = request_method_ != nullptr && std::strcmp(request_method_, "POST") == 0;
    was_post_ = is_post;

    if (const char* length = env("CONTENT_LENGTH")) content_length_ = parse_length(length);
    // A body declared larger than the limit is never read, whatever its type.
    if (content_length_ > 0 &&
        static_cast<std::size_t>(content_length_) > options_.max_body_bytes) {
        body_refused = true;
        content_length_ = 0;
    }

    content_type_ = env("CONTENT_TYPE");
    if (content_type_) {
        std::string boundary_text;
        if (detail::multipart_boundary(content_type_, boundary_text)) {
            was_post_ = true;
            is_multipart_ = true;
            if (!body_refused) read_multipart_body(boundary_text, options_.body_window);
        } else if (options_.pairs_by_method) {
            // Only a form body holds pairs; any other type is the program's (raw_body).
            was_post_ = is_post && is_urlencoded_type(content_type_);
        } else if (std::strcmp(content_type_, kUrlEncodedType) == 0) {
            was_post_ = true;
        }
    }

    set_query(env("QUERY_STRING"));

    if (argc > 1 && argv[1] && argv[1][0] == '-' && argv[1][1] == 't') {
        was_post_ = false;
        set_query(argc > 2 ? argv[2] : nullptr);
    }
}

CgiRequest::~CgiRequest() = default;

const char* CgiRequest::env(const char* name) const {
    return io_->env(name);
}

// A request that cannot go on: the process ends in a CGI run; under FastCGI the request loop
// catches this and goes on to the next request, the objects of this one released on the way.
void CgiRequest::end_request(int status) {
    if (persistent_) throw detail::RequestEnded{status};
    cgi_exit(status);
}

const char* CgiRequest::boundary() const {
    return readers->multipart.boundary();
}

std::int32_t CgiRequest::boundary_len() const {
    return readers->multipart.boundary_len();
}

void CgiRequest::spool_uploads_in(const char* folder) {
    readers->multipart.spool_uploads_in(folder);
}

// Opens the read window over the body and fills it once: a body that fits the window is read
// whole here, a longer one streams through it while the pairs are collected. A negative length,
// or a window that cannot be had, leaves the body unread: body_too_large() then says so.
void CgiRequest::read_multipart_body(const std::string& boundary_text, std::size_t window_size) {
    if (content_length_ < 0 ||
        !readers->multipart.open(*io_, static_cast<std::size_t>(content_length_), boundary_text,
                                 window_size)) {
        body_refused = true;
        content_length_ = 0;
        return;
    }
    sync_body_length();
}

// Once the input has ended short of the declared length, content_length becomes the number of
// bytes really read.
void CgiRequest::sync_body_length() {
    const std::size_t got = readers->multipart.bytes_read();
    if (readers->multipart.input_ended() && got < static_cast<std::size_t>(content_length_)) {
        body_short = true;
        content_length_ = static_cast<std::int32_t>(got);
        cgi_trace.log("Somebody lied about the content length: now %d\n", content_length_);
    }
}

// Keeps at most max_query_chars characters of `text` (null: none), turns '+' into ' ' and then
// decodes %XX, so that an encoded '+' survives; the query reader starts over.
void CgiRequest::set_query(const char* text) {
    const bool given = text != nullptr;
    if (!given) text = "";
    const std::size_t length = strnlen(text, options_.max_query_chars + 1);
    if (length > options_.max_query_chars) note_cut(Limit::query);
    std::string copy(text, length < options_.max_query_chars ? length : options_.max_query_chars);
    // query_value reads the same characters as the pair table: neither sees past the cut.
    if (given) {
        query_source = copy;
    } else {
        query_source.reset();
    }
    plus_to_space(copy.data());
    url_decode(copy.data());
    copy.resize(std::strlen(copy.c_str()));
    query_ = std::move(copy);
    query_pos = 0;
}

std::optional<std::string> CgiRequest::query_value(const char* name) const {
    if (!name || !query_source) return std::nullopt;
    const char* query_text = query_source->c_str();
    for (const char* item = query_text;;) {
        const char* end = std::strchr(item, '&');
        std::string text(item, end ? static_cast<std::size_t>(end - item) : std::strlen(item));
        const std::size_t equals = text.find('=');
        std::string item_name = text.substr(0, equals);
        plus_to_space(item_name.data());
        url_decode(item_name.data());
        if (std::strcmp(item_name.c_str(), name) == 0) {
            std::string value = equals == std::string::npos ? "" : text.substr(equals + 1);
            plus_to_space(value.data());
            url_decode(value.data());
            value.resize(std::strlen(value.c_str()));
            return value;
        }
        if (!end) return std::nullopt;
        item = end + 1;
    }
}

const char* CgiRequest::get_env(CgiEnv index) const {
    return get_env(static_cast<int>(index));
}

const char* CgiRequest::get_env(int index) const {
    if (index < 0 || index >= CGI_ENV_COUNT) return nullptr;
    return env(CGI_ENV_NAMES[index]);
}

}  // namespace cgi
