// The multipart/form-data reader: takes one part at a time off the body as it streams through
// the read window, laid out as web browsers, curl and the common HTTP client libraries send a
// form (boundary line, Content-Disposition with the name first, quoted or as a token, an
// optional Content-Type line before or after it, a blank line, the content). Every scan stops at
// the end of the body; a value's bytes are handed on as they pass.
#include "cgi/multipart_reader.h"

#include <cstring>

#include "cgi/value_collector.h"

namespace cgi::detail {

namespace {

// Header texts, each recognised on a fixed number of leading characters.
constexpr char kDisposition[] = "Content-Disposition: form-data; ";
constexpr std::size_t kDispositionCompared = sizeof kDisposition - 2;  // not the final space
constexpr char kNameParameter[] = "name=\"";
constexpr char kFileNameParameter[] = "; filename=\"";
constexpr char kContentType[] = "Content-Type: ";
constexpr std::size_t kContentTypeCompared = sizeof kContentType - 2;  // "Content-Type:"
// With the closing boundary's "--" and fewer bytes than this left, the body has ended.
constexpr std::size_t kClosingSlack = 5;

// The header scans of the parser over the read window; each reads on as far as it must.
class HeaderCursor {
  public:
    HeaderCursor(BodyWindow& window, std::size_t max_text) : window_(window), max_text_(max_text) {}

    bool starts_with(const char* literal, std::size_t count) {
        return window_.fill(count) >= count && std::memcmp(window_.data(), literal, count) == 0;
    }
    // Steps over `count` bytes, or to the end of the body when fewer are left.
    void advance(std::size_t count) {
        window_.fill(count);
        window_.consume(count);
    }
    // A run of CRs followed by a run of LFs, as many as there are; text fields use this.
    void skip_line_break_run() {
        skip_run_of('\r');
        skip_run_of('\n');
    }
    // Exactly one CR LF or one lone LF; uploads use this, so that their content keeps every byte.
    void skip_one_line_break() {
        const std::size_t left = window_.fill(2);
        const char* at = window_.data();
        if (left >= 2 && at[0] == '\r' && at[1] == '\n') {
            window_.consume(2);
        } else if (left >= 1 && at[0] == '\n') {
            window_.consume(1);
        }
    }
    // Copies the text up to the next double quote into `out` (cut to fit) and steps past the quote.
    void take_quoted(std::string* out) {
        if (copy_until("\"", 1, out)) window_.consume(1);
    }
    // True once a text was cut to fit its buffer.
    bool cut() const { return cut_; }
    // Copies the rest of the line, without its line break, into `out` (cut to fit; null: skip).
    void take_line(std::string* out) { copy_until("\r\n", 2, out); }
    // Copies an unquoted parameter value, up to the next ';' or line end, into `out`.
    void take_token(std::string* out) { copy_until(";\r\n", 3, out); }

  private:
    void skip_run_of(char ch) {
        for (;;) {
            const std::size_t left = window_.fill(1);
            const char* at = window_.data();
            std::size_t n = 0;
            while (n < left && at[n] == ch) ++n;
            window_.consume(n);
            if (n < left || left == 0) return;
        }
    }
    // Consumes bytes up to the first of `stops` (which stays), keeping the first max_text_ in
    // `out`, a span of the window at a time. False when the body ended first.
    bool copy_until(const char* stops, std::size_t stop_count, std::string* out) {
        if (out) out->clear();
        for (;;) {
            const std::size_t left = window_.fill(1);
            if (left == 0) return false;
            const char* at = window_.data();
            const std::size_t n = span_to_any(at, left, stops, stop_count);
            if (out) {
                const std::size_t room = max_text_ - out->size();
                if (n > room) cut_ = true;
                out->append(at, n < room ? n : room);
            }
            window_.consume(n);
            if (n < left) return true;
        }
    }
    static std::size_t span_to_any(const char* at, std::size_t left, const char* stops,
                                   std::size_t stop_count) {
        if (stop_count == 1) {
            const void* hit = std::memchr(at, stops[0], left);
            return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - at) : left;
        }
        std::size_t n = 0;
        while (n < left && !std::memchr(stops, at[n], stop_count)) ++n;
        return n;
    }

    BodyWindow& window_;
    std::size_t max_text_;
    bool cut_ = false;
};

}  // namespace

bool MultipartReader::open(Connection& source, std::size_t length, const std::string& boundary,
                           std::size_t window_size) {
    delimiter_.assign("--").append(boundary);
    if (window_size == 0) window_size = DEFAULT_BODY_WINDOW;
    // The window must hold a delimiter with room to spare, however long the boundary.
    if (window_size < 2 * delimiter_.size() + 64) window_size = 2 * delimiter_.size() + 64;
    // A body in a regular file is scanned where it lies; an upload's bytes then go from there to
    // the spool file in the kernel.
    return window_.open(source, length, window_size, /*in_place=*/true);
}

void MultipartReader::spool_uploads_in(const char* folder) {
    spool_folder_.assign(folder ? folder : "");
}

// '-', '-' and the boundary at the cursor, all within the bytes read so far.
// RFC 2046 lets a preamble come before the first delimiter: it is stepped over unread. False
// when the body holds no delimiter at all.
bool MultipartReader::skip_to_delimiter() {
    const std::size_t size = delimiter_.size();
    for (;;) {
        const char* const at = window_.data();
        const std::size_t left = window_.available();
        if (left >= size) {
            if (const void* hit = memmem(at, left, delimiter_.data(), size)) {
                window_.consume(static_cast<std::size_t>(static_cast<const char*>(hit) - at));
                return true;
            }
        }
        if (window_.input_ended()) return false;
        if (left >= size) window_.consume(left - (size - 1));
        window_.read_more();
    }
}

bool MultipartReader::is_delimiter_at_cursor() {
    return window_.fill(delimiter_.size()) >= delimiter_.size() &&
           std::memcmp(window_.data(), delimiter_.data(), delimiter_.size()) == 0;
}

MultipartReader::Next MultipartReader::next(ReadPair& part, bool skip_preamble, bool lenient) {
    part.name.clear();
    part.file_name.clear();
    part.file_type.clear();
    part.cut = false;
    part.complete = true;
    part.data = "";
    part.length = 0;
    part.owned.reset();
    part.file = platform::UniqueFd();
    // No body, or an empty boundary that no part could be told apart by: no pairs.
    if (window_.bytes_read() == 0 || boundary_len() <= 0) return Next::end;

    BodyWindow& window = window_;
    HeaderCursor cursor(window, part.max_text);
    if (first_part_) {
        first_part_ = false;
        if (skip_preamble && !is_delimiter_at_cursor() && !skip_to_delimiter()) {
            part.complete = false;
            return Next::unreadable;
        }
    }
    std::string* const name_out = &part.name;
    std::string* const file_name_out = &part.file_name;
    std::string* const file_type_out = &part.file_type;
    if (is_delimiter_at_cursor()) {
        cursor.advance(delimiter_.size());
        // The close delimiter: what follows it is an epilogue (RFC 2046), to be ignored.
        if (lenient && cursor.starts_with("--", 2)) return Next::end;
        cursor.skip_line_break_run();
    }

    // Some clients (.NET's among them) write a part's Content-Type line before its
    // Content-Disposition line.
    bool type_first = false;
    if (cursor.starts_with(kContentType, kContentTypeCompared)) {
        cursor.take_line(file_type_out);
        cursor.skip_one_line_break();
        type_first = true;
    }

    if (!cursor.starts_with(kDisposition, kDispositionCompared)) {
        const std::size_t left = window.fill(kClosingSlack);
        // The closing boundary's "--", with at most a line break after it, ends the body.
        if (cursor.starts_with("--", 2) && left < kClosingSlack) return Next::end;
        // A delimiter line that ends the body, without the closing "--".
        if (lenient && left == 0 && window.all_read()) return Next::end;
        // A part that cannot be parsed (or a body cut short): nothing of it is handed on.
        return Next::unreadable;
    }
    cursor.advance(sizeof kDisposition - 1);

    // The name must be the first parameter; otherwise the pair stays empty and the next call
    // finds no Content-Disposition where it looks for one.
    if (!cursor.starts_with(kNameParameter, sizeof kNameParameter - 2)) return Next::part;
    // A quoted name, as browsers write it, or a token (name=field; .NET writes it so).
    const bool quoted_name = cursor.starts_with(kNameParameter, sizeof kNameParameter - 1);
    cursor.advance(sizeof kNameParameter - (quoted_name ? 1 : 2));
    if (quoted_name) {
        cursor.take_quoted(name_out);
    } else {
        cursor.take_token(name_out);
    }

    // A part is an upload when it names a file or has a Content-Type line.
    bool upload = type_first;
    if (cursor.starts_with(kFileNameParameter, sizeof kFileNameParameter - 2)) {
        upload = true;
        const bool quoted_file_name =
            cursor.starts_with(kFileNameParameter, sizeof kFileNameParameter - 1);
        cursor.advance(sizeof kFileNameParameter - (quoted_file_name ? 1 : 2));
        if (quoted_file_name) {
            cursor.take_quoted(file_name_out);
        } else {
            cursor.take_token(file_name_out);
        }
        cursor.take_line(nullptr);  // the rest of the line is ignored
    }
    if (upload) {
        cursor.skip_one_line_break();
    } else {
        cursor.skip_line_break_run();
    }

    if (!type_first && cursor.starts_with(kContentType, kContentTypeCompared)) {
        cursor.take_line(file_type_out);
        upload = true;
        cursor.skip_one_line_break();
    }

    // The blank line that ends the headers. For a text field any LFs that begin the content go
    // with it; an upload gives up exactly one line break and keeps the rest of its content.
    if (upload) {
        cursor.skip_one_line_break();
    } else {
        cursor.skip_line_break_run();
    }

    part.cut = cursor.cut();
    if (!read_value(upload, part)) return Next::no_memory;
    return Next::part;
}

// The value runs to the next delimiter, or to the end of the data when a part is cut short.
// Bytes that cannot belong to a delimiter (nor to the line break before one) are handed to the
// collector as the window moves on; a value found whole in the window is left there for the
// caller to copy. False when the value could be kept nowhere.
bool MultipartReader::read_value(bool upload, ReadPair& part) {
    BodyWindow& window = window_;
    const std::size_t delimiter_size = delimiter_.size();
    // A delimiter may begin in the last delimiter_size - 1 bytes of the window, and an upload
    // gives up the CR LF before it: those bytes wait for the next read.
    const std::size_t held_back = delimiter_size + 1;
    const bool spool = upload && !spool_folder_.empty() && spooled_uploads_ < MAX_SPOOLED_UPLOADS;
    ValueCollector collector(window.bytes_left(), spool ? spool_folder_.c_str() : nullptr);
    for (;;) {
        const char* const at = window.data();
        const std::size_t left = window.available();
        const char* const hit =
            left >= delimiter_size
                ? static_cast<const char*>(memmem(at, left, delimiter_.data(), delimiter_size))
                : nullptr;
        if (!hit && !window.input_ended()) {
            if (left > held_back) {
                if (!collector.append(at, left - held_back, window.source_fd(),
                                      window.source_offset()))
                    return false;
                window.consume(left - held_back);
            }
            window.read_more();
            continue;
        }
        // A value that runs to the end of the body was cut short: no delimiter ends it.
        if (!hit) part.complete = false;
        const std::size_t consumed = hit ? static_cast<std::size_t>(hit - at) : left;
        std::size_t length = consumed;
        // The line break before the boundary line belongs to the delimiter, not the content.
        if (upload && hit && length >= 1 && at[length - 1] == '\n') {
            --length;
            if (length >= 1 && at[length - 1] == '\r') --length;
        }
        if (collector.empty()) {
            // Found whole in the window: the pair copies it from here.
            if (!upload) {
                // A text field loses every trailing line-break byte: a textarea always ends in one.
                while (length > 0 && (at[length - 1] == '\r' || at[length - 1] == '\n')) --length;
            }
            part.data = at;
            part.length = static_cast<std::int32_t>(length);
            window.consume(consumed);
            return true;
        }
        if (!collector.append(at, length, window.source_fd(), window.source_offset())) return false;
        window.consume(consumed);
        if (!upload) collector.strip_trailing_line_breaks();
        part.length = static_cast<std::int32_t>(collector.size());
        if (collector.in_file()) {
            ++spooled_uploads_;
            part.file = collector.take_file();
        } else {
            part.owned = collector.take_buffer();
            part.data = part.owned.get();
        }
        return true;
    }
}

}  // namespace cgi::detail
