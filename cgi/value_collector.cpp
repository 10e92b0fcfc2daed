// Value bytes into memory or into an unnamed spool file.
#include "cgi/value_collector.h"

#include <cstdlib>
#include <cstring>

namespace cgi::detail {

namespace {

// A spooled upload is almost always flushed once it is filed: its bytes start for the disk
// in steps of this many while the body is still being read, so that the disk writes them
// meanwhile and the flush finds little left to do.
constexpr std::size_t kWritebackStep = std::size_t{8} << 20;

}  // namespace

void ValueCollector::written_to_file(std::size_t count) {
    size_ += count;
    if (size_ - written_back_ >= kWritebackStep) {
        platform::start_writeback(file_.get(), static_cast<std::int64_t>(written_back_),
                                  static_cast<std::int64_t>(size_ - written_back_));
        written_back_ = size_;
    }
}

ValueCollector::ValueCollector(std::size_t most, const char* spool_folder) : most_(most) {
    if (spool_folder) file_ = platform::create_unnamed_file(spool_folder);
}

// One buffer for the longest the value can be: only the pages it fills are ever touched.
bool ValueCollector::reserve_memory() {
    if (!buffer_) buffer_ = allocate_body_buffer(most_ + 1);
    return static_cast<bool>(buffer_);
}

// A spool file that cannot take more bytes (a full disk) hands what it holds over to memory,
// so that nothing of the upload is lost.
bool ValueCollector::move_file_into_memory() {
    if (!reserve_memory()) return false;
    if (platform::read_at(file_.get(), buffer_.get(), size_, 0) != static_cast<std::int64_t>(size_))
        return false;
    buffer_.get()[size_] = '\0';
    file_ = platform::UniqueFd();
    return true;
}

bool ValueCollector::append(const char* data, std::size_t size, int source_fd,
                            std::int64_t source_offset) {
    if (size == 0) return true;
    if (size > most_ - size_) return false;  // more than the body held: never past the buffer
    if (file_.valid() && source_fd >= 0) {
        // What the kernel could not copy (a full disk, say) goes on by the usual write below.
        const std::size_t copied =
            platform::copy_file_bytes(source_fd, source_offset, file_.get(), size);
        written_to_file(copied);
        if (copied == size) return true;
        data += copied;
        size -= copied;
    }
    if (file_.valid()) {
        if (platform::write_all(file_.get(), data, size)) {
            written_to_file(size);
            return true;
        }
        // A partial write leaves the file's length beyond size_; only size_ bytes count.
        if (!move_file_into_memory()) return false;
    }
    if (!reserve_memory()) return false;
    std::memcpy(buffer_.get() + size_, data, size);
    size_ += size;
    buffer_.get()[size_] = '\0';
    return true;
}

// The buffer was reserved for the rest of the body; what the value did not fill goes back, or
// every value that began early would keep room for the whole body reserved, and under a limit
// on address space (which counts reserved pages too) a body of a few such values could not be
// held although its bytes fit. Body buffers come from the malloc family, so realloc may cut them.
BodyBuffer ValueCollector::take_buffer() {
    if (buffer_ && size_ < most_) {
        // A failed realloc leaves the buffer as it was, which still holds the value.
        if (void* cut = std::realloc(buffer_.get(), size_ + 1)) {
            static_cast<void>(buffer_.release());
            buffer_.reset(static_cast<char*>(cut));
        }
    }
    return std::move(buffer_);
}

void ValueCollector::strip_trailing_line_breaks() {
    if (!buffer_) return;
    char* bytes = buffer_.get();
    while (size_ > 0 && (bytes[size_ - 1] == '\r' || bytes[size_ - 1] == '\n')) --size_;
    bytes[size_] = '\0';
}

}  // namespace cgi::detail
