// MultipartReader: takes a multipart/form-data body off standard input one part at a time, as it
// streams through a read window of fixed size, and hands each part's value over in memory or,
// for an upload, in an unnamed spool file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "../platform/files.h"
#include "body_buffer.h"
#include "body_window.h"
#include "cgi_limits.h"

namespace cgi::detail {

// One pair as a reader found it (a multipart part, a URL-encoded item, a query item). The texts
// are cut to `max_text` bytes each; one ReadPair serves a whole collection, so their storage
// grows to the longest text met and is then reused.
struct ReadPair {
    std::string name;
    std::string file_name;  // empty unless the Content-Disposition line names a file
    std::string file_type;  // the whole Content-Type line; empty when there is none
    std::size_t max_text = MAX_NAME_BYTES;
    // The value: `length` bytes at `data` (valid until the next call), unless the reader gave
    // them a buffer (`owned`) or a spool file (`file`) of their own, which the caller takes over.
    const char* data = "";
    std::int32_t length = 0;
    BodyBuffer owned;
    platform::UniqueFd file;
    bool cut = false;      // a text above was cut to fit its buffer
    bool complete = true;  // the value (or the body) ended where it should, not cut short
};

class MultipartReader {
  public:
    // What next() found.
    enum class Next {
        part,        // one part, in the caller's ReadPair
        end,         // the closing boundary, the end of the body, or no boundary to look for
        unreadable,  // no Content-Disposition line where a part's headers must begin
        no_memory,   // a value could be kept neither in memory nor in a spool file
    };

    // Reads up to `length` bytes of the body from `source` through a window of `window_size` bytes
    // (0: DEFAULT_BODY_WINDOW; enlarged to hold a delimiter with room to spare), filling it once.
    // False when the window's memory cannot be had.
    bool open(Connection& source, std::size_t length, const std::string& boundary,
              std::size_t window_size);
    // Uploads (parts with a file name or a Content-Type line) go into unnamed files in `folder`
    // (empty: memory), at most MAX_SPOOLED_UPLOADS of them; where no unnamed file can be made
    // the upload is held in memory.
    void spool_uploads_in(const char* folder);

    // The next part, read to the delimiter that ends it. `skip_preamble` steps over text before
    // the first delimiter; `lenient` also takes a body that ends right after a delimiter line
    // (no closing "--") for ended, when every declared byte arrived.
    Next next(ReadPair& part, bool skip_preamble = false, bool lenient = false);

    // The boundary ("" before open) and its length.
    const char* boundary() const { return delimiter_.empty() ? "" : delimiter_.c_str() + 2; }
    std::int32_t boundary_len() const {
        return delimiter_.empty() ? 0 : static_cast<std::int32_t>(delimiter_.size() - 2);
    }
    // The window's buffer, the parse cursor in it and the body bytes read so far.
    const char* window_start() const { return window_.buffer(); }
    const char* cursor() const { return window_.data(); }
    std::size_t bytes_read() const { return window_.bytes_read(); }
    // True once the input ended (or the declared length was read).
    bool input_ended() const { return window_.input_ended(); }

  private:
    bool is_delimiter_at_cursor();
    bool skip_to_delimiter();
    bool read_value(bool upload, ReadPair& part);

    BodyWindow window_;
    std::string delimiter_;     // "--" followed by the boundary: what ends a value
    std::string spool_folder_;  // where uploads go; empty: memory
    int spooled_uploads_ = 0;
    bool first_part_ = true;
};

}  // namespace cgi::detail
