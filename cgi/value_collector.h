// Gathers the bytes of one multipart value while the body streams through the read window: in
// a buffer of its own, or, for an upload when the program named a spool folder, in an unnamed
// file there, so that a large upload never needs memory of its size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../platform/files.h"
#include "body_buffer.h"

namespace cgi::detail {

class ValueCollector {
  public:
    // `most` bounds the value's length (the body bytes left when it begins). `spool_folder`,
    // when not null, is where the value goes into an unnamed file; when no such file can be made
    // there, the value is held in memory.
    ValueCollector(std::size_t most, const char* spool_folder);

    // False when the bytes can be kept neither in the file nor in memory. When `source_fd` is a
    // regular file holding the same bytes at `source_offset`, a spool file takes them from there
    // in the kernel rather than from `data`.
    bool append(const char* data, std::size_t size, int source_fd = -1,
                std::int64_t source_offset = -1);
    // Drops every CR and LF at the end of a value held in memory.
    void strip_trailing_line_breaks();

    std::size_t size() const { return size_; }
    bool in_file() const { return file_.valid(); }
    bool empty() const { return size_ == 0 && !in_file(); }

    // The buffer or the file that holds the bytes; the buffer (the bytes followed by a NUL) is
    // handed over cut to the value's length.
    BodyBuffer take_buffer();
    platform::UniqueFd take_file() { return std::move(file_); }

  private:
    bool reserve_memory();
    bool move_file_into_memory();
    void written_to_file(std::size_t count);

    BodyBuffer buffer_;
    platform::UniqueFd file_;
    std::size_t size_ = 0;
    std::size_t most_ = 0;
    std::size_t written_back_ = 0;  // the file's first bytes whose writing to the disk has begun
};

}  // namespace cgi::detail
