// CgiRequest: the one object through which a CGI program sees its request and writes its response.
//
// Construction reads the CGI environment (and the first window of a multipart body); form pairs
// are collected lazily on the first lookup, which reads the rest of the body. The parsing
// operations live in cgi_request.cpp, content_type.cpp, form_pairs.cpp, multipart_reader.cpp,
// url_encoded.cpp and text_codecs.cpp; the response operations in header.cpp, cookies.cpp,
// page_helpers.cpp and text_gif.cpp. docs/library.md is the reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../platform/files.h"
#include "../platform/mapped_file.h"
#include "body_buffer.h"
#include "cgi_limits.h"
#include "multipart_reader.h"

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

// The names of the variables get_env knows, indexed by CgiEnv.
extern const char* const CGI_ENV_NAMES[CGI_ENV_COUNT];

// One form value with everything known about it: one entry of the pair table. `value` holds
// `value_len` bytes followed by a NUL and may contain NUL bytes itself (uploads). Every text is
// owned by the request. An upload kept in a spool file (see spool_uploads_in) has a null `value`
// until bytes() maps the file.
struct FormPair {
    const char* name = "";
    const char* value = "";
    std::int32_t value_len = 0;
    const char* file_name = "";  // empty unless the part named a file
    const char* file_type = "";  // the part's whole Content-Type line, or empty

    // The value's bytes, mapping a spooled upload the first time; null only when such a file
    // cannot be mapped (no address space left).
    const char* bytes();
    // The first byte of the value (0..255), or -1 when it is empty or cannot be read; a spooled
    // upload is read without being mapped.
    int first_byte() const;
    // The unnamed spool file holding the value, positioned at its end, or -1 when the value is
    // in memory. The file belongs to the request.
    int file() const { return upload_file.get(); }

    std::unique_ptr<char[]> storage;   // name, file name, content-type line and a short value
    BodyBuffer long_value;             // a value that outgrew the read window
    platform::UniqueFd upload_file;    // an upload in an unnamed spool file
    platform::MappedFile upload_view;  // that file mapped, once bytes() asked for it
};

// What a request does with a multipart body it cannot read (a part without a Content-Disposition
// line where one must be, a preamble, a body cut short inside a part's headers).
enum class UnreadableBody {
    end_process,  // cgi_exit(0) inside the first lookup: the client gets what was written so far
    report,       // collection stops there; body_unreadable() says so, no later pair is added
};

// The SameSite attribute of a cookie; `unset` leaves it out.
enum class SameSite { unset, lax, strict, none };

// Attributes of one cookie. Texts are copied by SetCookie; null leaves the attribute out, and so
// does a text holding a control byte or ';', which would end the attribute early.
struct CookieOptions {
    const char* domain = nullptr;
    const char* path = nullptr;
    bool secure = false;
    bool http_only = false;  // "; HttpOnly": scripts in the page cannot read the cookie
    SameSite same_site = SameSite::unset;
};

// One cookie the response sets: "name=value" escaped, and its own attributes.
struct ResponseCookie {
    std::string pair;
    std::optional<std::string> domain;
    std::optional<std::string> path;
    bool secure = false;
    bool http_only = false;
    SameSite same_site = SameSite::unset;
};

// Choices a program makes when it builds its request.
struct RequestOptions {
    UnreadableBody unreadable_body = UnreadableBody::end_process;
    // Bytes of the read window a multipart body streams through (0: DEFAULT_BODY_WINDOW); a body
    // no longer than this is read whole at construction. Enlarged to hold the delimiter.
    std::size_t body_window = 0;
};

class CgiRequest {
  public:
    // Reads the CGI environment and the arguments, and the first window of a multipart body.
    CgiRequest(int argc, char* argv[], RequestOptions options = {});
    // Releases the pairs, their buffers and spool files, and the read window.
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
    // True when collection met a multipart body it could not read and the request was built
    // with UnreadableBody::report; the pairs before that point stay, no later one is added.
    bool body_unreadable() const { return unreadable_seen; }
    // The multipart boundary (empty when the request is not multipart) and its length.
    const char* boundary() const { return multipart.boundary(); }
    std::int32_t boundary_len() const { return multipart.boundary_len(); }  // its length
    // The read window over a multipart body and the parse cursor in it (null when none).
    const char* body() const { return multipart.window_start(); }
    const char* raw_ptr() const { return multipart.cursor(); }  // the parse cursor
    // Uploads of a multipart body (parts with a file name or a Content-Type line) go into unnamed
    // files in `folder` as they arrive instead of into memory; call before the first lookup. A
    // program that stores uploads names a folder on the file system it stores them on, so that
    // an upload can be put in place by linking instead of copying (upload_descriptor). Where no
    // unnamed file can be made, the upload is held in memory as without this call.
    void spool_uploads_in(const char* folder) { multipart.spool_uploads_in(folder); }

    // ---- Pair table (form_pairs.cpp) ----
    // Reads every pair (at most MAX_PAIRS) from the query, or from the body; runs once, on the
    // first lookup. A multipart body it cannot read ends the process here (see UnreadableBody).
    void collect_pairs();
    // Number of pairs collected; -1 before collection.
    std::int32_t pair_count() const {
        return collected ? static_cast<std::int32_t>(pairs.size()) : -1;
    }
    // The first pair named exactly `name` (the form value with its file name, type and file),
    // or null. The pair lives as long as the request.
    FormPair* find_value(const char* name);
    // The bytes of the first pair named exactly `name`, or null.
    const char* get_value(const char* name);
    // As get_value; on a match also stores the length and copies file name and content-type line
    // into the caller's SCRATCH_SIZE-byte buffers.
    const char* get_file(const char* name, std::int32_t* length_out, char* file_name_out,
                         char* file_type_out);
    // As get_file, with the capacity of each output buffer: the texts are cut to fit (a null
    // buffer or a capacity of 0 gets nothing).
    const char* get_file(const char* name, std::int32_t* length_out, char* file_name_out,
                         std::size_t file_name_capacity, char* file_type_out,
                         std::size_t file_type_capacity);
    // The unnamed file holding the value of the first pair named `name` (an upload spooled by
    // spool_uploads_in), positioned at its end; -1 when there is no such pair or its value is in
    // memory. The file belongs to the request.
    int upload_descriptor(const char* name);
    // Hands out the pairs in order; texts are cut to fit the buffers (and at a NUL in the value).
    bool next_pair(char* name_out, std::size_t name_capacity, char* value_out,
                   std::size_t value_capacity);
    // The same into two arrays, their sizes taken as the capacities.
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
    // The byte that the two hexadecimal digits at p stand for (p must hold two characters).
    static unsigned char hex_pair_value(const char* p);
    // Decodes every %XX in place; a '%' with fewer than two characters after it stays as it is.
    static void url_decode(char* text);
    // Turns every '+' into a space, in place.
    static void plus_to_space(char* text);
    // Turns every space into a '+', in place.
    static void space_to_plus(char* text);
    // The upper-case hexadecimal digit of the byte's high and low half.
    static char hex_high(unsigned char byte);
    static char hex_low(unsigned char byte);
    // Position of the first `ch` in `text`, or -1 (also for the NUL character).
    static std::int32_t index_of(const char* text, char ch);
    // In-place escapers. `capacity` is the size of the buffer holding `text`; when the escaped
    // text (and its terminator) would not fit, the text is left unchanged and false is returned.
    // escape_percent writes each of & ; ` ' " | * ? ~ < > ^ ( ) [ ] { } $ \ and the space as %XX.
    static bool escape_percent(char* text, std::size_t capacity);
    // escape_backslash puts a '\' before each of the same characters but the space.
    static bool escape_backslash(char* text, std::size_t capacity);
    // First match of `needle` starting among the first n positions of `text`, or null.
    // Never reads beyond text + n + strlen(needle) - 1; the caller's text must hold that many.
    static const char* find_text(const char* text, std::int32_t n, const char* needle);

    // ---- Response header and cookies (header.cpp, cookies.cpp) ----
    // Writes the cookie lines, "Content-type: text/html" and the empty line; every call writes
    // the whole header again (the page helpers test header_sent first).
    void print_header();
    // The same with "Content-type: image/gif", for a response that is a GIF image.
    void print_gif_header();
    // Writes one "Set-Cookie:" line per cookie set so far, each ending in the byte 10.
    void print_cookies();
    // Adds a cookie to the header with the default expiry and no other attribute.
    void SetCookie(const char* name, const char* value);
    // Adds a cookie with a domain and a path (null: none) and the secure flag, all copied.
    void SetCookie(const char* name, const char* value, const char* domain, const char* path,
                   bool secure);
    // Adds a cookie with the attributes of `options`, copied.
    void SetCookie(const char* name, const char* value, const CookieOptions& options);
    // Looks `wanted` up in HTTP_COOKIE; on a match writes the decoded value into `out`, which
    // must hold SCRATCH_SIZE bytes.
    bool get_cookie(const char* wanted, char* out) const;
    // As above into `out` of `capacity` bytes; a longer value is cut to fit.
    bool get_cookie(const char* wanted, char* out, std::size_t capacity) const;
    // The cookie line's default expiry for the moment `now`: its UTC date 500 years on, at
    // midnight, named with that date's weekday ("Sat, 07-Dec-2526 00:00:00 GMT"). Cut to fit.
    static void default_expiry(std::time_t now, char* out, std::size_t capacity);

    // ---- HTML page helpers (page_helpers.cpp) ----
    // None of them escapes what it is given: texts from the client go through html_escape.h
    // (write_html, html_escape_to) first. Each writes the header first when it has not gone out.
    // Opens the html and head elements.
    void begin_html();
    // Writes the title element (opening html and head on a fresh request); `title` as given.
    void print_title(const char* title);
    // A refresh meta element: after `seconds`, go to `target` (as given).
    void print_refresh(int seconds, const char* target);
    // A keywords meta element with `keywords` as given.
    void print_keywords(const char* keywords);
    // Closes the head and opens the body element with `attributes` as given ("" for none).
    void begin_body(const char* attributes);
    // printf into the page (header and body start first when needed); returns what printf does.
    int page_printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // As page_printf, then ends the page and the process: cgi_exit(-1), exit status 255.
    [[noreturn]] void fatal_printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Closes the body (when one was opened) and the html element, and flushes the output.
    void end_page();

    // ---- Text drawn as a GIF (text_gif.cpp; the only user of the gd library) ----
    // Writes `text` drawn in the 9x15 font as a GIF image (no header; see print_gif_header) in
    // colour 0 black, 1 white (transparent), 2 orange-red, 3 blue, 4 green, 5 violet (others:
    // black). 1 when written; 0 when the text is too wide for a GIF or gd has no memory.
    int text_gif(const char* text, int color);

    // ---- The request record (read it; the request sets it) ----
    char script_path[SCRIPT_PATH_SIZE] = {};  // argument 0, cut to fit
    char query_buf[QUERY_BUF_SIZE] = {};      // the decoded query (at most MAX_QUERY_CHARS)
    std::vector<FormPair> pairs;              // at most MAX_PAIRS entries, in the order read
    std::int32_t iter_pos = 0;                // the next pair next_pair hands out
    const char* script_name = nullptr;        // script_path after its last '/' or '\'
    bool was_post = false;                    // pairs come from the body, not the query
    bool is_multipart = false;                // the body is multipart/form-data
    std::int32_t content_length = 0;          // CONTENT_LENGTH; bytes left or really read
    const char* request_method = nullptr;     // REQUEST_METHOD (environment's text), or null
    const char* content_type = nullptr;       // CONTENT_TYPE (environment's text), or null
    char* query_pos = nullptr;                // read cursor of the query reader

    bool header_sent = false;             // a header writer has run
    bool body_started = false;            // begin_body has run
    std::vector<ResponseCookie> cookies;  // in the order set; one Set-Cookie line each
    std::string cookie_expires;           // expiry of every cookie line; empty: the default

  private:
    // Construction steps (cgi_request.cpp).
    void read_multipart_body(const std::string& boundary_text, std::size_t window_size);
    void set_query(const char* text);
    void sync_body_length();

    // Readers used by collect_pairs (form_pairs.cpp, url_encoded.cpp); each fills `out` and
    // says whether it found a pair.
    bool get_POST_pair(ReadPair& out);
    bool get_multipart_pair(ReadPair& out);
    bool get_urlencoded_pair(ReadPair& out);
    bool get_GET_pair(char* name_out, char* value_out, std::size_t value_capacity);
    char* get_raw_pair_from_stdin(char* buffer, std::size_t capacity, char stop);
    bool append_pair(ReadPair& read);

    MultipartReader multipart;  // the read window, the delimiter and the spool policy
    bool collected = false;
    bool body_refused = false;
    UnreadableBody on_unreadable;
    bool unreadable_seen = false;
};

// Ends the process with `status` through the normal exit path (exit handlers run). The library
// calls it where it stops a request (an unparsable multipart part, fatal_printf). It is defined
// in its own translation unit so that a fuzzing build can link a replacement that unwinds instead.
[[noreturn]] void cgi_exit(int status);
