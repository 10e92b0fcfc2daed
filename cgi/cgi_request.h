// CgiRequest: the one object through which a CGI program sees its request and writes its response.
//
// Construction reads the CGI environment (and the first window of a multipart body); form pairs
// are collected lazily on the first lookup, which reads the rest of the body. The parsing
// operations live in cgi_request.cpp, content_type.cpp, form_pairs.cpp, multipart_reader.cpp,
// url_encoded.cpp, raw_body.cpp and text_codecs.cpp; the response operations in header.cpp,
// cookies.cpp, output.cpp, page_helpers.cpp and text_gif.cpp. One request per process in a CGI
// run; serve.h runs the same handler once per request under FastCGI too. docs/library.md is the
// guide.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cgi_limits.h"
#include "../trace/export.h"
#include "version.h"

/// The CGI library: the request object and what goes with it.
namespace cgi {

// The library's internals, which no program names (not installed).
namespace detail {
class Connection;
class Server;
struct ReadPair;
struct BodyReaders;
struct HeldValue;
}  // namespace detail

/// Indexes of the CGI environment variables that CgiRequest::get_env knows, in table order.
enum class CgiEnv : int {
    AUTH_TYPE,             ///< AUTH_TYPE
    CONTENT_LENGTH,        ///< CONTENT_LENGTH
    CONTENT_TYPE,          ///< CONTENT_TYPE
    DOCUMENT_ROOT,         ///< DOCUMENT_ROOT
    GATEWAY_INTERFACE,     ///< GATEWAY_INTERFACE
    HTTP_ACCEPT,           ///< HTTP_ACCEPT
    HTTP_ACCEPT_ENCODING,  ///< HTTP_ACCEPT_ENCODING
    HTTP_ACCEPT_LANGUAGE,  ///< HTTP_ACCEPT_LANGUAGE
    HTTP_CONNECTION,       ///< HTTP_CONNECTION
    HTTP_CONTENT_LENGTH,   ///< HTTP_CONTENT_LENGTH
    HTTP_CONTENT_TYPE,     ///< HTTP_CONTENT_TYPE
    HTTP_COOKIE,           ///< HTTP_COOKIE
    HTTP_HOST,             ///< HTTP_HOST
    HTTP_REFERER,          ///< HTTP_REFERER
    HTTP_USER_AGENT,       ///< HTTP_USER_AGENT
    PATH_INFO,             ///< PATH_INFO
    PATH_TRANSLATED,       ///< PATH_TRANSLATED
    QUERY_STRING,          ///< QUERY_STRING
    REMOTE_ADDR,           ///< REMOTE_ADDR
    REMOTE_GROUP,          ///< REMOTE_GROUP
    REMOTE_HOST,           ///< REMOTE_HOST
    REMOTE_IDENT,          ///< REMOTE_IDENT
    REMOTE_USER,           ///< REMOTE_USER
    REQUEST_METHOD,        ///< REQUEST_METHOD
    SCRIPT_NAME,           ///< SCRIPT_NAME
    SERVER_ADMIN,          ///< SERVER_ADMIN
    SERVER_NAME,           ///< SERVER_NAME
    SERVER_PORT,           ///< SERVER_PORT
    SERVER_PORT_SECURE,    ///< SERVER_PORT_SECURE
    SERVER_PROTOCOL,       ///< SERVER_PROTOCOL
    SERVER_SOFTWARE,       ///< SERVER_SOFTWARE
};

/// Number of names in CGI_ENV_NAMES.
inline constexpr int CGI_ENV_COUNT = 31;

/// The names of the variables CgiRequest::get_env knows, indexed by CgiEnv.
VOCANTA_CGI_API extern const char* const CGI_ENV_NAMES[CGI_ENV_COUNT];

class CgiRequest;

/// One form value with everything known about it: one entry of the pair table. Every text is
/// owned by the request. An upload kept in a spool file (see CgiRequest::spool_uploads_in) has a
/// null `value` until bytes() maps the file.
class VOCANTA_CGI_API FormPair {
  public:
    /// The pair's name.
    const char* name = "";
    /// `value_len` bytes followed by a NUL; may contain NUL bytes itself (uploads).
    const char* value = "";
    /// Number of value bytes, without the terminating NUL.
    std::int32_t value_len = 0;
    /// The file name the client sent, path and all; empty unless the part named a file.
    const char* file_name = "";
    /// The part's whole Content-Type line, or empty.
    const char* file_type = "";

    /// The value's bytes, mapping a spooled upload the first time; null only when such a file
    /// cannot be mapped (no address space left).
    const char* bytes();
    /// The first byte of the value (0..255), or -1 when it is empty or cannot be read; a
    /// spooled upload is read without being mapped.
    int first_byte() const;
    /// The unnamed spool file holding the value, positioned at its end, or -1 when the value is
    /// in memory. The file belongs to the request: link it or read it, never close it.
    int file() const;

    /// An empty pair (the request fills its pairs itself).
    FormPair();
    /// Pairs move with the table that holds them.
    FormPair(FormPair&&) noexcept;
    /// Moves a pair over another.
    FormPair& operator=(FormPair&&) noexcept;
    /// Releases the pair's texts, buffer and spool file.
    ~FormPair();

  private:
    friend class CgiRequest;
    std::unique_ptr<char[]> storage;  // name, file name, content-type line and a short value
    // A value that outgrew the read window, or an upload in a spool file and its mapping.
    std::unique_ptr<detail::HeldValue> held;
};

/// What a request does with a multipart body it cannot read (no Content-Disposition line where
/// one must be, a body cut short inside a part, a closing line followed by more).
enum class UnreadableBody {
    /// cgi_exit(0) inside the first lookup: the client gets what was written so far. Under
    /// FastCGI (serve.h) only the request ends there; the process goes on to the next.
    end_process,
    /// Collection stops there; body_unreadable() says so, and no later (or cut) pair is added.
    report,
};

/// The limits that cut or drop data, each of which CgiRequest::truncated reports.
enum class Limit : unsigned {
    query = 1,    ///< the query text was cut to RequestOptions::max_query_chars
    pairs = 2,    ///< pairs after RequestOptions::max_pairs were dropped
    value = 4,    ///< a URL-encoded body item was cut to RequestOptions::max_value_bytes
    name = 8,     ///< a name, file name or content-type line was cut to RequestOptions::max_name_bytes
    cookie = 16,  ///< a cookie name or value was cut to RequestOptions::max_cookie_bytes
    buffer = 32,  ///< a text was cut to fit a caller's buffer (get_file, get_cookie, next_pair)
};

/// Choices a program makes when it builds its request. The defaults suit a new program; the
/// limits are those of the original design, each of which can be raised.
struct VOCANTA_CGI_API RequestOptions {
    /// What a multipart body that cannot be read does.
    UnreadableBody unreadable_body = UnreadableBody::report;
    /// Skips the text before a multipart body's first boundary line (RFC 2046 allows one);
    /// false treats it as an unreadable part.
    bool skip_preamble = true;
    /// Pairs come from the body only for a POST of a URL-encoded (any parameters) or
    /// multipart type, or of no type; any other body is left for raw_body(). False keeps the
    /// original rule: the body for any POST and for any method with the exact URL-encoded type.
    bool pairs_by_method = true;
    /// Bytes of the read window a body streams through (0: DEFAULT_BODY_WINDOW); a body no
    /// longer than this is read whole at construction. Enlarged to hold the delimiter.
    std::size_t body_window = 0;
    /// Characters of QUERY_STRING (or of the test-mode argument) that are kept.
    std::size_t max_query_chars = MAX_QUERY_CHARS;
    /// Pairs that are collected.
    std::size_t max_pairs = MAX_PAIRS;
    /// Bytes kept of one item of a URL-encoded body.
    std::size_t max_value_bytes = MAX_VALUE_BYTES;
    /// Bytes kept of a pair's name, of its file name and of its content-type line.
    std::size_t max_name_bytes = MAX_NAME_BYTES;
    /// The longest body that is read; a longer declared length makes body_too_large() true.
    std::size_t max_body_bytes = MAX_BODY_SIZE;
    /// Bytes of a cookie name or value that SetCookie keeps before escaping.
    std::size_t max_cookie_bytes = MAX_COOKIE_PART_BYTES;

    /// The behaviour of the original design, which apply.cgi keeps: an unreadable body ends
    /// the process, a preamble is unreadable, and the original rule decides where pairs come
    /// from.
    static RequestOptions as_designed();
};

/// The SameSite attribute of a cookie; `unset` leaves it out.
enum class SameSite {
    unset,   ///< no SameSite attribute
    lax,     ///< "; SameSite=Lax"
    strict,  ///< "; SameSite=Strict"
    none,    ///< "; SameSite=None" (browsers want `secure` with it)
};

/// When a cookie expires.
enum class Expiry {
    far_future,  ///< "; expires=" 500 years ahead, as the original design wrote every cookie
    session,     ///< no expiry: the browser forgets the cookie when it closes
};

/// Attributes of one cookie. Texts are copied by SetCookie; null leaves the attribute out. A
/// text holding a control byte or ';' refuses the whole cookie.
struct VOCANTA_CGI_API CookieOptions {
    const char* domain = nullptr;          ///< "; domain=..."
    const char* path = nullptr;            ///< "; path=..."
    bool secure = false;                   ///< "; secure": only over HTTPS
    bool http_only = false;                ///< "; HttpOnly": scripts in the page cannot read it
    SameSite same_site = SameSite::unset;  ///< "; SameSite=..."
    Expiry expiry = Expiry::far_future;    ///< the expires attribute, or none
    /// "; Max-Age=N" (seconds; 0 or less deletes the cookie at once); none when empty.
    std::optional<long long> max_age = std::nullopt;
};

/// The request: its environment, its form pairs, and the response written to standard output.
class VOCANTA_CGI_API CgiRequest {
  public:
    /// Reads the CGI environment and the arguments (argument 1 "-t..." takes argument 2 as the
    /// query), and the first window of a multipart body.
    CgiRequest(int argc, char* argv[], RequestOptions options = {});
    /// Releases the pairs, their buffers and spool files, and the read window.
    ~CgiRequest();
    CgiRequest(const CgiRequest&) = delete;             ///< one object per request
    CgiRequest& operator=(const CgiRequest&) = delete;  ///< one object per request

    /// True when the request came through FastCGI (see serve.h): the process serves one request
    /// after another, and anything the program keeps outside the request outlives it.
    bool persistent() const { return persistent_; }

    // ---- Environment and body (cgi_request.cpp, raw_body.cpp) ----
    /// Value of CGI_ENV_NAMES[index], or null when unset.
    const char* get_env(CgiEnv index) const;
    /// The same by number; null also when the index is outside 0..30.
    const char* get_env(int index) const;
    /// Argument 0 as given (cut to SCRIPT_PATH_SIZE - 1 bytes).
    const char* script_path() const { return script_path_; }
    /// The part of script_path() after its last '/' or '\'.
    const char* script_name() const { return script_name_; }
    /// REQUEST_METHOD (the environment's text), or null.
    const char* request_method() const { return request_method_; }
    /// CONTENT_TYPE (the environment's text), or null.
    const char* content_type() const { return content_type_; }
    /// CONTENT_LENGTH as read (0 when absent); for a multipart body, the bytes really read once
    /// the body ended short.
    std::int32_t content_length() const { return content_length_; }
    /// True when the pairs come from the body, false when from the query.
    bool was_post() const { return was_post_; }
    /// True when the body is multipart/form-data.
    bool is_multipart() const { return is_multipart_; }
    /// The query text ('+' as space, %XX decoded), at most RequestOptions::max_query_chars
    /// characters; readable whatever the pairs come from.
    const char* query() const { return query_.c_str(); }
    /// The value of the first item named `name` of the query (QUERY_STRING, or the test-mode
    /// argument), each item decoded apart, whether or not the pairs come from the query; none
    /// when absent. It looks at the same RequestOptions::max_query_chars characters as the pair
    /// table: an item beyond them is absent for both, and truncated(Limit::query) says so.
    std::optional<std::string> query_value(const char* name) const;
    /// True when a request declared a body above RequestOptions::max_body_bytes, or a multipart
    /// request a negative length: the body was not read and no pairs will come from it. Also
    /// true once raw_body() found no memory to hold the body.
    bool body_too_large() const { return body_refused; }
    /// True when collection met a multipart body it could not read under
    /// UnreadableBody::report; the pairs before that point stay, no later one is added.
    bool body_unreadable() const { return unreadable_seen; }
    /// True once a reader of the body (raw_body(), the URL-encoded or the multipart reader) met
    /// the end of the input before CONTENT_LENGTH bytes: what was read is not the whole body.
    /// raw_body() still hands over the bytes that came; the pairs read before the end stand.
    bool body_incomplete() const { return body_short; }
    /// A body the pairs do not come from (JSON, XML, text), read whole on the first call up to
    /// CONTENT_LENGTH; empty when there is none, when the pairs come from the body, or when it
    /// is longer than RequestOptions::max_body_bytes or the memory there is (body_too_large()
    /// then says so). A body that ended early is handed over as far as it came, and
    /// body_incomplete() says so.
    std::string_view raw_body();
    /// The multipart boundary (empty when the request is not multipart).
    const char* boundary() const;
    /// The length of boundary().
    std::int32_t boundary_len() const;
    /// Uploads of a multipart body (parts with a file name or a Content-Type line) go into
    /// unnamed files in `folder` as they arrive instead of into memory; call before the first
    /// lookup. Where no unnamed file can be made, the upload is held in memory.
    void spool_uploads_in(const char* folder);
    /// True when any limit cut or dropped data (see Limit).
    bool truncated() const { return truncated_bits != 0; }
    /// True when the limit `which` cut or dropped data.
    bool truncated(Limit which) const {
        return (truncated_bits & static_cast<unsigned>(which)) != 0;
    }

    // ---- Pair table (form_pairs.cpp) ----
    /// Reads every pair (at most RequestOptions::max_pairs) from the query or from the body;
    /// runs once, on the first lookup. May end the process (see UnreadableBody).
    void collect_pairs();
    /// Number of pairs collected; -1 before collection.
    std::int32_t pair_count() const {
        return collected ? static_cast<std::int32_t>(pairs.size()) : -1;
    }
    /// The first pair named exactly `name`, or null. The pair lives as long as the request.
    FormPair* find_value(const char* name);
    /// The pair at `index` in the order read (0..pair_count() - 1), or null.
    FormPair* pair_at(std::int32_t index);
    /// The bytes of the first pair named exactly `name`, or null.
    const char* get_value(const char* name);
    /// As get_value; on a match also stores the length and copies file name and content-type
    /// line into the caller's buffers of the given capacities (null or 0: none), cut to fit.
    const char* get_file(const char* name, std::int32_t* length_out, char* file_name_out,
                         std::size_t file_name_capacity, char* file_type_out,
                         std::size_t file_type_capacity);
    /// The same into two arrays, their sizes taken as the capacities.
    template <std::size_t N, std::size_t M>
    const char* get_file(const char* name, std::int32_t* length_out, char (&file_name_out)[N],
                         char (&file_type_out)[M]) {
        return get_file(name, length_out, file_name_out, N, file_type_out, M);
    }
    /// The spool file of the first pair named `name` (FormPair::file), or -1.
    int upload_descriptor(const char* name);
    /// Hands out the pairs in order; texts are cut to fit the buffers (and at a NUL in the
    /// value). False after the last.
    bool next_pair(char* name_out, std::size_t name_capacity, char* value_out,
                   std::size_t value_capacity);
    /// The same into two arrays, their sizes taken as the capacities.
    template <std::size_t N, std::size_t V>
    bool next_pair(char (&name_out)[N], char (&value_out)[V]) {
        return next_pair(name_out, N, value_out, V);
    }

    // ---- Text codecs (text_codecs.cpp); they use no state of the request ----
    /// The byte that the two hexadecimal digits at p stand for (p must hold two characters).
    static unsigned char hex_pair_value(const char* p);
    /// Decodes every %XX in place; a '%' with fewer than two characters after it stays.
    static void url_decode(char* text);
    /// Turns every '+' into a space, in place.
    static void plus_to_space(char* text);
    /// Turns every space into a '+', in place.
    static void space_to_plus(char* text);
    /// The upper-case hexadecimal digit of the byte's high half.
    static char hex_high(unsigned char byte);
    /// The upper-case hexadecimal digit of the byte's low half.
    static char hex_low(unsigned char byte);
    /// Position of the first `ch` in `text`, or -1 (also for the NUL character).
    static std::int32_t index_of(const char* text, char ch);
    /// Writes each of & ; ` ' " | * ? ~ < > ^ ( ) [ ] { } $ \ and the space as %XX, in place in
    /// a buffer of `capacity` bytes; false, with the text unchanged, when it would not fit.
    static bool escape_percent(char* text, std::size_t capacity);
    /// Puts a '\' before each of escape_percent's characters but the space; as escape_percent
    /// when it would not fit.
    static bool escape_backslash(char* text, std::size_t capacity);
    /// First match of `needle` starting among the first n positions of `text`, or null. Never
    /// reads beyond text + n + strlen(needle) - 1.
    static const char* find_text(const char* text, std::int32_t n, const char* needle);

    // ---- Response header (header.cpp) ----
    // Everything set here goes out with the header, so it is set before the first line of
    // the page; once the header is out the setters return false and change nothing.
    /// "Status: CODE REASON" (100..999; a null reason takes the usual one for the code). False
    /// for a code outside 100..999, a reason holding a control byte, or once the header is out.
    bool set_status(int code, const char* reason = nullptr);
    /// Status `code` (a 3xx, 303 See Other by default) and "Location: LOCATION". False for a
    /// location holding a control byte or a space, a code outside 300..399, or once the header
    /// is out.
    bool redirect(const char* location, int code = 303);
    /// The content type of the response ("text/html" unless set), with "; charset=..." when a
    /// charset is given. False for a text holding a control byte, ';' or a space, or once the
    /// header is out.
    bool set_content_type(const char* media_type, const char* charset = nullptr);
    /// One more header line "NAME: VALUE". False for a name that is not an HTTP token, for
    /// Status, Location, Content-Type and Set-Cookie (which have calls of their own), and for a
    /// value holding a CR, LF or other control byte; and once the header is out.
    bool add_header(const char* name, const char* value);
    /// Writes the header: status, location, added lines, one Set-Cookie line per cookie, the
    /// content type and the empty line. Every call writes it again (the page helpers test
    /// header_sent() first).
    void print_header();
    /// The same with "Content-type: image/gif", for a response that is a GIF image.
    void print_gif_header();
    /// True once a header has been written.
    bool header_sent() const { return header_sent_; }

    // ---- Response output (output.cpp) ----
    // Everything the response holds goes out through the request: in a CGI run to standard
    // output (in order with the program's own writes to stdout), under FastCGI to the request's
    // own stream, which standard output is not.
    /// Writes `size` bytes as they are.
    void write(const void* data, std::size_t size);
    /// Writes the text as it is.
    void write(std::string_view text) { write(text.data(), text.size()); }
    /// printf into the response (no header or page element is written first); returns the
    /// number of bytes written, negative for a format error.
    int print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    /// Writes `text` with & < > " ' escaped for HTML (as write_html() in html_escape.h).
    void write_html(const char* text);
    /// Writes `text` escaped as a relative link target (as write_link() in html_escape.h).
    void write_link(const char* text);
    /// Passes what was written on to the web server.
    void flush();

    // ---- Cookies (cookies.cpp) ----
    /// Adds a cookie with the far-future expiry and no other attribute. False when it is
    /// refused (see the options form).
    bool SetCookie(const char* name, const char* value);
    /// Adds a cookie with a domain and a path (null: none) and the secure flag, all copied.
    bool SetCookie(const char* name, const char* value, const char* domain, const char* path,
                   bool secure);
    /// Adds a cookie with the attributes of `options`, copied; name and value are %XX-escaped
    /// and cut to RequestOptions::max_cookie_bytes first (truncated(Limit::cookie) then says
    /// so). False, and nothing added, when an attribute holds a control byte or ';', or the
    /// header is out.
    bool SetCookie(const char* name, const char* value, const CookieOptions& options);
    /// Tells the browser to forget the cookie `name` set with the same domain and path: an
    /// empty value that expired long ago, with Max-Age=0.
    bool delete_cookie(const char* name, const CookieOptions& options = {});
    /// The decoded value of the last cookie named `wanted` (compared after decoding) that the
    /// client sent in HTTP_COOKIE, read whole; none when there is none.
    std::optional<std::string> cookie(const char* wanted) const;
    /// As cookie(), into `out` of `capacity` bytes; a longer value is cut to fit
    /// (truncated(Limit::buffer) then says so). False when there is none.
    bool get_cookie(const char* wanted, char* out, std::size_t capacity) const;
    /// The same into an array, its size taken as the capacity.
    template <std::size_t N>
    bool get_cookie(const char* wanted, char (&out)[N]) const {
        return get_cookie(wanted, out, N);
    }
    /// The far-future expiry for the moment `now`: its UTC date 500 years on, at midnight,
    /// with that date's weekday ("Sat, 07-Dec-2526 00:00:00 GMT"). Cut to fit `capacity`.
    static void default_expiry(std::time_t now, char* out, std::size_t capacity);

    // ---- HTML page helpers (page_helpers.cpp) ----
    // None of them escapes what it is given: texts from the client go through html_escape.h
    // first. Each writes the header first when it has not gone out, and opens the html and
    // head elements before anything that goes in or after them, unless begin_html ran.
    /// Opens the html and head elements.
    void begin_html();
    /// Writes the title element; `title` as given.
    void print_title(const char* title);
    /// A refresh meta element: after `seconds`, go to `target` (as given).
    void print_refresh(int seconds, const char* target);
    /// A keywords meta element with `keywords` as given.
    void print_keywords(const char* keywords);
    /// Closes the head and opens the body element with `attributes` as given ("" for none).
    void begin_body(const char* attributes);
    /// True once begin_body (or a helper calling it) ran.
    bool body_started() const { return body_started_; }
    /// printf into the page (the body is begun first when needed); returns what printf does.
    int page_printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    /// As page_printf, then ends the page and the process: cgi_exit(-1), exit status 255. Under
    /// FastCGI it ends the request instead, and the process goes on to the next one.
    [[noreturn]] void fatal_printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    /// Closes the body (when begin_body ran) and the html element, whoever opened it, and
    /// flushes the output (under FastCGI the end of the request does: call flush() to pass the
    /// page on before long work that follows it).
    void end_page();

    // ---- Text drawn as a GIF (text_gif.cpp, in the gif component, the only user of gd) ----
    /// Writes `text` drawn in the 9x15 font as a GIF image (no header; see print_gif_header)
    /// in colour 0 black, 1 white (transparent), 2 orange-red, 3 blue, 4 green, 5 violet
    /// (others: black). 1 when written; 0 when the text is too wide or gd has no memory.
    int text_gif(const char* text, int color);

  private:
    friend class detail::Server;
    // A request read from and answered through `connection` (FastCGI, serve.cpp).
    VOCANTA_CGI_LOCAL CgiRequest(int argc, char* argv[], RequestOptions options,
                                 detail::Connection& connection, bool persistent);
    VOCANTA_CGI_LOCAL void construct(int argc, char* argv[]);
    [[noreturn]] VOCANTA_CGI_LOCAL void end_request(int status);
    VOCANTA_CGI_LOCAL const char* env(const char* name) const;
    VOCANTA_CGI_LOCAL int print_list(const char* format, va_list args);
    VOCANTA_CGI_LOCAL void note_body_end(std::size_t got, std::size_t wanted) {
        if (got < wanted) body_short = true;
    }
    VOCANTA_CGI_LOCAL void read_multipart_body(const std::string& boundary_text,
                                               std::size_t window_size);
    VOCANTA_CGI_LOCAL void set_query(const char* text);
    VOCANTA_CGI_LOCAL void sync_body_length();
    VOCANTA_CGI_LOCAL void note_cut(Limit which) const {
        truncated_bits |= static_cast<unsigned>(which);
    }
    VOCANTA_CGI_LOCAL void print_header_with(const char* media_type);
    VOCANTA_CGI_LOCAL void print_cookies();
    VOCANTA_CGI_LOCAL bool open_body_window();

    VOCANTA_CGI_LOCAL bool get_POST_pair(detail::ReadPair& out);
    VOCANTA_CGI_LOCAL bool get_multipart_pair(detail::ReadPair& out);
    VOCANTA_CGI_LOCAL bool get_urlencoded_pair(detail::ReadPair& out);
    VOCANTA_CGI_LOCAL bool get_GET_pair(detail::ReadPair& out);
    VOCANTA_CGI_LOCAL bool append_pair(detail::ReadPair& read);

    // One cookie the response sets: "name=value" escaped, and its own attributes.
    struct ResponseCookie {
        std::string pair;
        std::optional<std::string> domain;
        std::optional<std::string> path;
        bool secure = false;
        bool http_only = false;
        SameSite same_site = SameSite::unset;
        Expiry expiry = Expiry::far_future;
        std::optional<long long> max_age = std::nullopt;
        bool deleted = false;  // expires in the past
    };

    RequestOptions options_;
    detail::Connection* io_;
    bool persistent_ = false;
    char script_path_[SCRIPT_PATH_SIZE] = {};
    const char* script_name_ = nullptr;
    const char* request_method_ = nullptr;
    const char* content_type_ = nullptr;
    std::int32_t content_length_ = 0;
    bool was_post_ = false;
    bool is_multipart_ = false;
    std::string query_;
    std::optional<std::string> query_source;  // the query as given (environment or argument)
    std::size_t query_pos = 0;

    std::vector<FormPair> pairs;
    std::int32_t iter_pos = 0;
    // The multipart reader (read window, delimiter, spool policy) and the read window over a
    // URL-encoded or raw body.
    std::unique_ptr<detail::BodyReaders> readers;
    bool urlencoded_open = false;
    std::string urlencoded_item;  // one raw item of that body
    std::string raw_body_text;
    bool raw_body_read = false;
    bool collected = false;
    bool body_refused = false;
    bool unreadable_seen = false;
    bool body_short = false;
    mutable unsigned truncated_bits = 0;

    bool header_sent_ = false;
    bool html_opened = false;
    bool body_started_ = false;
    std::string status_line;
    std::string content_type_line = "text/html";
    std::vector<std::string> extra_lines;
    std::vector<ResponseCookie> cookies;
};

/// Ends the process with `status` through the normal exit path (exit handlers run). The library
/// calls it where it stops a request in a CGI run (an unparsable multipart part under
/// UnreadableBody::end_process, fatal_printf); under FastCGI it ends only the request and does
/// not call it. A program (or a fuzzing build) may define it itself to replace the library's.
[[noreturn]] VOCANTA_CGI_API void cgi_exit(int status);

}  // namespace cgi
