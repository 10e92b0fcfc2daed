// CgiRequest: the one object through which a CGI program sees its request and writes its response.
//
// Construction reads the CGI environment (and the first window of a multipart body); form pairs
// are collected lazily on the first lookup, which reads the rest of the body. The parsing
// operations live in cgi_request.cpp, form_pairs.cpp, multipart.cpp, url_encoded.cpp and
// text_codecs.cpp; the response operations in header.cpp, cookies.cpp, page_helpers.cpp and
// text_gif.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "cgi/body_buffer.h"
#include "cgi/body_window.h"
#include "cgi/cgi_limits.h"
#include "platform/files.h"
#include "platform/mapped_file.h"

// Indexes of the CGI environment variables that get_env knows, in table order.
enum CgiEnv : int {
    AUTH_TYPE,
    CONTENT_LENGTH,
    CONTENT_TYPE,
    DOCUMENT_ROOT,
    GATEWAY_INTERFACE,
    HTTP_ACCEPT,
    HTTP_ACCEPT_ENCODING,
    HTTP_ACCEPT_LANGUAGE,
    HTTP_CONNECTION,
    HTTP_CONTENT_LENGTH,
    HTTP_CONTENT_TYPE,
    HTTP_COOKIE,
    HTTP_HOST,
    HTTP_REFERER,
    HTTP_USER_AGENT,
    PATH_INFO,
    PATH_TRANSLATED,
    QUERY_STRING,
    REMOTE_ADDR,
    REMOTE_GROUP,
    REMOTE_HOST,
    REMOTE_IDENT,
    REMOTE_USER,
    REQUEST_METHOD,
    SCRIPT_NAME,
    SERVER_ADMIN,
    SERVER_NAME,
    SERVER_PORT,
    SERVER_PORT_SECURE,
    SERVER_PROTOCOL,
    SERVER_SOFTWARE,
    CGI_ENV_COUNT
};

extern const char* const CGI_ENV_NAMES[CGI_ENV_COUNT];

// One entry of the pair table. `value` holds `value_len` bytes followed by a NUL and may contain
// NUL bytes itself (uploads). Every text is owned by the pair. An upload kept in a spool file
// (see spool_uploads_in) has a null `value` until a lookup maps the file.
struct FormPair {
    const char* name = "";
    const char* value = "";
    std::int32_t value_len = 0;
    const char* file_name = "";
    const char* file_type = "";
    std::unique_ptr<char[]> storage;   // name, file name, content-type line and a short value
    BodyBuffer long_value;             // a value that outgrew the read window
    platform::UniqueFd upload_file;    // an upload in an unnamed spool file
    platform::MappedFile upload_view;  // that file mapped, once a lookup asked for its bytes
};

class CgiRequest {
  public:
    CgiRequest(int argc, char* argv[]);
    ~CgiRequest();
    CgiRequest(const CgiRequest&) = delete;
    CgiRequest& operator=(const CgiRequest&) = delete;

    // ---- Environment (cgi_request.cpp) ----
    // Value of CGI_ENV_NAMES[index], or null when unset or the index is outside 0..30.
    const char* get_env(int index) const;
    // True when a request declared a body above MAX_BODY_SIZE, of any type, or a multipart
    // request a negative length: the body was not read and no pairs will come from it. The
    // application answers "too large".
    bool body_too_large() const { return body_refused; }
    // Uploads of a multipart body (parts with a file name or a Content-Type line) go into unnamed
    // files in `folder` as they arrive instead of into memory; call before the first lookup. A
    // program that stores uploads names a folder on the file system it stores them on, so that
    // an upload can be put in place by linking instead of copying (upload_descriptor). Where no
    // unnamed file can be made, the upload is held in memory as without this call.
    void spool_uploads_in(const char* folder) { spool_folder = folder ? folder : ""; }

    // ---- Pair table (form_pairs.cpp) ----
    void collect_pairs();
    // First pair named exactly `name`, or null.
    const char* get_value(const char* name);
    // As get_value; on a match also stores the length and copies file name and content-type line
    // into the caller's SCRATCH_SIZE-byte buffers.
    const char* get_file(const char* name, std::int32_t* length_out, char* file_name_out,
                         char* file_type_out);
    // The unnamed file holding the value of the first pair named `name` (an upload spooled by
    // spool_uploads_in), positioned at its end; -1 when there is no such pair or its value is in
    // memory. The file belongs to the request.
    int upload_descriptor(const char* name);
    // Hands out the pairs in order; texts are cut to fit the buffers (and at a NUL in the value).
    bool next_pair(char* name_out, std::size_t name_capacity, char* value_out,
                   std::size_t value_capacity);
    template <std::size_t N, std::size_t V>
    bool next_pair(char (&name_out)[N], char (&value_out)[V]) {
        return next_pair(name_out, N, value_out, V);
    }
    // The overload with a third argument, which is ignored.
    template <std::size_t N, std::size_t V, typename Ignored>
    bool next_pair(char (&name_out)[N], char (&value_out)[V], Ignored&&) {
        return next_pair(name_out, N, value_out, V);
    }

    // ---- Text codecs (text_codecs.cpp); they use no state of the request ----
    static unsigned char hex_pair_value(const char* p);
    static void url_decode(char* text);
    static void plus_to_space(char* text);
    static void space_to_plus(char* text);
    static char hex_high(unsigned char byte);
    static char hex_low(unsigned char byte);
    static std::int32_t index_of(const char* text, char ch);
    // In-place escapers. `capacity` is the size of the buffer holding `text`; when the escaped
    // text (and its terminator) would not fit, the text is left unchanged and false is returned.
    static bool escape_percent(char* text, std::size_t capacity);
    static bool escape_backslash(char* text, std::size_t capacity);
    // First match of `needle` starting among the first n positions of `text`, or null.
    // Never reads beyond text + n + strlen(needle) - 1; the caller's text must hold that many.
    static const char* find_text(const char* text, std::int32_t n, const char* needle);

    // ---- Response header and cookies (header.cpp, cookies.cpp) ----
    void print_header();
    void print_gif_header();
    void print_cookies();
    void SetCookie(const char* name, const char* value);
    void SetCookie(const char* name, const char* value, const char* domain, const char* path,
                   bool secure);
    // Looks `wanted` up in HTTP_COOKIE; on a match writes the decoded value into `out`, which
    // must hold SCRATCH_SIZE bytes.
    bool get_cookie(const char* wanted, char* out);
    // The cookie line's default expiry for the moment `now`: its UTC date 500 years on, at
    // midnight, named with that date's weekday ("Sat, 07-Dec-2526 00:00:00 GMT"). Cut to fit.
    static void default_expiry(std::time_t now, char* out, std::size_t capacity);

    // ---- HTML page helpers (page_helpers.cpp) ----
    void begin_html();
    void print_title(const char* title);
    void print_refresh(int seconds, const char* target);
    void print_keywords(const char* keywords);
    void begin_body(const char* attributes);
    int page_printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    [[noreturn]] void fatal_printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void end_page();

    // ---- Text drawn as a GIF (text_gif.cpp; the only user of the gd library) ----
    int text_gif(const char* text, int color);

    // ---- The request record ----
    char script_path[SCRIPT_PATH_SIZE] = {};
    char query_buf[QUERY_BUF_SIZE] = {};
    std::vector<FormPair> pairs;  // at most MAX_PAIRS entries
    std::int32_t pair_count = -1;
    std::int32_t iter_pos = 0;
    const char* script_name = nullptr;
    bool was_post = false;
    bool is_multipart = false;
    std::int32_t content_length = 0;
    const char* request_method = nullptr;
    const char* content_type = nullptr;
    char* query_pos = nullptr;

    bool header_sent = false;
    bool body_started = false;
    bool cookie_secure = false;
    std::unique_ptr<char[]> cookie_values;
    const char* cookie_domain = nullptr;
    const char* cookie_path = nullptr;
    const char* cookie_expires = nullptr;

    char* body = nullptr;     // the read window over the multipart body (bytes + a terminator)
    char* raw_ptr = nullptr;  // parse cursor into the window
    const char* boundary = nullptr;
    std::int32_t boundary_len = 0;

  private:
    // A value as a reader found it: `length` bytes at `data`, which the pair copies into its own
    // storage, unless the reader already gave them a buffer (`owned`) or a file (`file`) of
    // their own, which the pair then takes over.
    struct ValueRef {
        const char* data = "";
        std::int32_t length = 0;
        BodyBuffer owned;
        platform::UniqueFd file;
    };

    // Construction steps (cgi_request.cpp).
    void read_multipart_body();
    void set_query(const char* text);

    // Readers used by collect_pairs (form_pairs.cpp, multipart.cpp, url_encoded.cpp). Names, file
    // names and content-type lines go into SCRATCH_SIZE-byte buffers, cut to fit.
    bool get_POST_pair(char* name_out, ValueRef* value_out, char* file_name_out,
                       char* file_type_out);
    bool get_multipart_pair(char* name_out, ValueRef* value_out, char* file_name_out,
                            char* file_type_out);
    bool get_urlencoded_pair(char* name_out, ValueRef* value_out);
    bool get_GET_pair(char* name_out, char* value_out, std::size_t value_capacity);
    char* get_raw_pair_from_stdin(char* buffer, std::size_t capacity, char stop);
    bool read_multipart_value(bool upload, ValueRef* value_out);
    void sync_body_cursor();
    bool is_boundary(const char* p) const;
    FormPair* find_pair(const char* name);
    const char* value_of(FormPair& pair);
    bool append_pair(const char* name, ValueRef& value, const char* file_name,
                     const char* file_type);

    BodyWindow window;         // owns what `body` points at
    std::string delimiter;     // "--" followed by the boundary: what ends a multipart value
    std::string spool_folder;  // where uploads go; empty: memory
    int spooled_uploads = 0;
    bool body_refused = false;
};

// Ends the process with `status` through the normal exit path (exit handlers run). The library
// calls it where it stops a request (an unparsable multipart part, fatal_printf). It is defined
// in its own translation unit so that a fuzzing build can link a replacement that unwinds instead.
[[noreturn]] void cgi_exit(int status);
