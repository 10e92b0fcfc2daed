// The multipart/form-data parser: takes one part at a time off the body buffer, as web browsers
// and curl lay a form out (boundary line, Content-Disposition with the name first, an optional
// Content-Type line, a blank line, the content). Every scan stops at the end of the body.
#include <cstring>

#include "cgi/cgi_request.h"
#include "cgi/text_copy.h"
#include "trace/trace_channels.h"

namespace {

// Header texts, each recognised on a fixed number of leading characters.
constexpr char kDisposition[] = "Content-Disposition: form-data; ";
constexpr std::size_t kDispositionCompared = sizeof kDisposition - 2;  // not the final space
constexpr char kNameParameter[] = "name=\"";
constexpr char kFileNameParameter[] = "; filename=\"";
constexpr char kContentType[] = "Content-Type: ";
constexpr std::size_t kContentTypeCompared = sizeof kContentType - 2;  // "Content-Type:"
// With the closing boundary's "--" and fewer bytes than this left, the body has ended.
constexpr std::ptrdiff_t kClosingSlack = 5;

// The cursor and the end of the body data. The byte at `end` is the buffer's terminating NUL.
struct Span {
    char* at;
    char* end;

    std::size_t left() const { return static_cast<std::size_t>(end - at); }
    bool starts_with(const char* literal, std::size_t count) const {
        return left() >= count && std::memcmp(at, literal, count) == 0;
    }
    void advance(std::size_t count) { at += count < left() ? count : left(); }

    // A run of CRs followed by a run of LFs, as many as there are; text fields use this.
    void skip_line_break_run() {
        while (at < end && *at == '\r') ++at;
        while (at < end && *at == '\n') ++at;
    }
    // Exactly one CR LF or one lone LF; uploads use this, so that their content keeps every byte.
    void skip_one_line_break() {
        if (left() >= 2 && at[0] == '\r' && at[1] == '\n') {
            at += 2;
        } else if (at < end && at[0] == '\n') {
            ++at;
        }
    }
    char* line_end() const {
        char* p = at;
        while (p < end && *p != '\r' && *p != '\n') ++p;
        return p;
    }
    // Copies the text up to the next double quote into `out` (cut to fit) and steps past the quote.
    void take_quoted(char* out) {
        char* quote = static_cast<char*>(std::memchr(at, '"', left()));
        char* stop = quote ? quote : end;
        copy_bytes(out, SCRATCH_SIZE, at, static_cast<std::size_t>(stop - at));
        at = quote ? stop + 1 : end;
    }
};

}  // namespace

// '-', '-' and the boundary at p, all within the body.
bool CgiRequest::is_boundary(const char* p) const {
    const char* end = body + content_length;
    return p && p <= end && static_cast<std::size_t>(end - p) >= delimiter.size() &&
           std::memcmp(p, delimiter.data(), delimiter.size()) == 0;
}

bool CgiRequest::get_multipart_pair(char* name_out, ValueRef* value_out, char* file_name_out,
                                    char* file_type_out) {
    name_out[0] = '\0';
    *value_out = ValueRef{};
    cgi_trace.log("get_POST_pair content_length = %d\n", content_length);
    // No body, or an empty boundary that no part could be told apart by: no pairs.
    if (content_length <= 0 || !body || boundary_len <= 0) return false;

    Span cursor{raw_ptr, body + content_length};
    cgi_trace.log("get_POST_pair formdata: raw_ptr is #####\n%s\n#####\n", cursor.at);
    if (is_boundary(cursor.at)) {
        cgi_trace.log("Saw boundary, adding %d\n", boundary_len);
        cursor.advance(delimiter.size());
        cursor.skip_line_break_run();
        cgi_trace.log("get_POST_pair formdata: raw_ptr is now #####\n%s\n#####\n", cursor.at);
    }

    if (!cursor.starts_with(kDisposition, kDispositionCompared)) {
        raw_ptr = cursor.at;
        const std::int32_t consumed = static_cast<std::int32_t>(cursor.at - body);
        const std::int32_t left = content_length - consumed;
        // The closing boundary's "--", with at most a line break after it, ends the body.
        if (cursor.starts_with("--", 2) && left < kClosingSlack) return false;
        cgi_trace.log("get_POST_pair content_length is %d\n", content_length);
        cgi_trace.log("get_POST_pair raw_len is %d\n", consumed);
        cgi_trace.log("get_POST_pair con_len is %d\n", left);
        cgi_trace.log("get_POST_pair formdata: Can't parse '%s'\n", cursor.at);
        // A part that cannot be parsed (or a body cut short) stops the request: nothing of it is
        // handed to the application.
        cgi_exit(0);
    }
    cgi_trace.log("get_POST_pair disposition: raw_ptr is now #####\n%s\n#####\n", cursor.at);
    cursor.advance(sizeof kDisposition - 1);

    // The name must be the first parameter; otherwise the pair stays empty and the next call
    // finds no Content-Disposition where it looks for one.
    if (!cursor.starts_with(kNameParameter, sizeof kNameParameter - 2)) {
        raw_ptr = cursor.at;
        return true;
    }
    cursor.advance(sizeof kNameParameter - 1);
    cursor.take_quoted(name_out);
    cgi_trace.log("get_POST_pair nameis: raw_ptr is now #####\n%s\n#####\n", cursor.at);

    // A part is an upload when it names a file or has a Content-Type line.
    bool upload = false;
    if (cursor.starts_with(kFileNameParameter, sizeof kFileNameParameter - 2)) {
        upload = true;
        cursor.advance(sizeof kFileNameParameter - 1);
        cursor.take_quoted(file_name_out);
        cursor.at = cursor.line_end();  // the rest of the line is ignored
        cgi_trace.log("get_POST_pair filename: raw_ptr is now #####\n%s\n#####\n", cursor.at);
    }
    if (upload) {
        cursor.skip_one_line_break();
    } else {
        cursor.skip_line_break_run();
    }

    if (cursor.starts_with(kContentType, kContentTypeCompared)) {
        char* line_end = cursor.line_end();
        copy_bytes(file_type_out, SCRATCH_SIZE, cursor.at,
                   static_cast<std::size_t>(line_end - cursor.at));
        upload = true;
        cursor.at = line_end;
        cgi_trace.log("get_POST_pair formdata: typeis '%s'\n", cursor.at);
        cursor.skip_one_line_break();
    }
    cgi_trace.log("get_POST_pair formdata: after typeis '%s'\n", cursor.at);

    // The blank line that ends the headers. For a text field any LFs that begin the content go
    // with it; an upload gives up exactly one line break and keeps the rest of its content.
    if (upload) {
        cursor.skip_one_line_break();
    } else {
        cursor.skip_line_break_run();
    }

    // The value runs to the next delimiter, or to the end of the data when a part is cut short.
    char* const start = cursor.at;
    char* const hit =
        static_cast<char*>(memmem(start, cursor.left(), delimiter.data(), delimiter.size()));
    char* const stop = hit ? hit : cursor.end;
    std::size_t length = static_cast<std::size_t>(stop - start);
    if (upload) {
        // The line break before the boundary line belongs to the delimiter, not the content.
        if (hit && length >= 1 && start[length - 1] == '\n') {
            --length;
            if (length >= 1 && start[length - 1] == '\r') --length;
        }
    } else {
        // A text field loses every trailing line-break byte: a textarea always ends in one.
        while (length > 0 && (start[length - 1] == '\r' || start[length - 1] == '\n')) --length;
    }
    raw_ptr = stop;

    // The value stays in the body when a stripped line-break byte (or the body's own terminator)
    // follows it and can become its NUL; a value that runs right up to a delimiter is copied.
    value_out->data = start;
    value_out->length = static_cast<std::int32_t>(length);
    if (start + length < stop) {
        start[length] = '\0';
        value_out->in_body = true;
    } else if (start + length == cursor.end) {
        value_out->in_body = true;
    }
    cgi_trace.log("get_POST_pair formdata: name '%s', value '%s'\n", name_out, value_out->data);
    return true;
}
