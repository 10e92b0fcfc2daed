// A request body read from standard input through a window of fixed size. The multipart parser
// looks at most a window ahead and passes value bytes on as they go by, so a body of any length
// needs no more memory than the window. A body in a regular file can be read in place instead:
// the window then slides over a view of the file, and no byte is copied into it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../platform/mapped_file.h"
#include "body_buffer.h"
#include "cgi_limits.h"

namespace cgi::detail {

class Connection;

class BodyWindow {
  public:
    // Reads up to `limit` bytes from the request's body into a window of `capacity` bytes (or of
    // `limit` bytes when that is smaller), filling the window once. With `in_place`, a body in a
    // regular file is viewed where it lies instead of read (a pipe or socket is read as ever).
    // False when the memory cannot be had.
    bool open(Connection& source, std::size_t limit, std::size_t capacity, bool in_place = false);

    // The start of the window's bytes, the unconsumed bytes and their number. Read bytes are
    // followed by a NUL; bytes viewed in place by the next byte of the file.
    const char* buffer() const { return in_place_ ? view_.data() : buffer_.get(); }
    const char* data() const { return buffer() + start_; }
    std::size_t available() const { return end_ - start_; }

    // Makes at least `wanted` bytes (at most the capacity) available, unless the input ends
    // first; returns available().
    std::size_t fill(std::size_t wanted);
    // Reads what fits after the available bytes, moving them to the front of the window first;
    // false when nothing more could be read because the input has ended or the window is full.
    bool read_more();
    void consume(std::size_t count);

    // No more input: `limit` bytes were read, or standard input ended (or failed) before that.
    bool input_ended() const { return ended_; }
    // Every byte of `limit` arrived.
    bool all_read() const { return total_read_ == limit_; }
    std::size_t bytes_read() const { return total_read_; }
    // Body bytes not yet consumed, read or not.
    std::size_t bytes_left() const { return limit_ - (total_read_ - available()); }

    // When the body comes from a regular file (a web server that buffered it whole hands over
    // the file itself), the descriptor and the offset in it of the first available byte, so that
    // a value's bytes can be copied from there in the kernel; -1 for a pipe or socket.
    int source_fd() const { return source_offset_ >= 0 ? fd_ : -1; }
    std::int64_t source_offset() const {
        return source_offset_ < 0
                   ? -1
                   : source_offset_ + static_cast<std::int64_t>(total_read_ - available());
    }

  private:
    void read_into_tail();
    bool view_in_place(std::int64_t file_size);

    BodyBuffer buffer_;
    // In place: the body's bytes in the file; start_ and end_ count from the body's first byte,
    // and the pages before released_ have been given back.
    platform::MappedFile view_;
    bool in_place_ = false;
    std::size_t viewed_ = 0;  // the body's bytes the file holds
    std::size_t released_ = 0;
    std::size_t capacity_ = 0;
    std::size_t start_ = 0;
    std::size_t end_ = 0;
    std::size_t limit_ = 0;
    std::size_t total_read_ = 0;
    Connection* source_ = nullptr;
    int fd_ = -1;  // the source's descriptor, or -1
    std::int64_t source_offset_ = -1;  // where the body begins in a regular file; -1: not a file
    bool ended_ = true;
};

}  // namespace cgi::detail
