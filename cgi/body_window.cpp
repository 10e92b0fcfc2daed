// The read window over the request body.
#include "cgi/body_window.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "cgi/connection.h"

namespace {

// Bytes of the file view passed over before their pages are given back: the view's resident
// pages count in the process's memory like a buffer would.
constexpr std::size_t kReleaseStep = std::size_t{1} << 20;

}  // namespace

namespace cgi::detail {

bool BodyWindow::open(Connection& source, std::size_t limit, std::size_t capacity,
                      bool in_place) {
    source_ = &source;
    fd_ = source.input_fd();
    limit_ = limit;
    struct stat st {};
    const bool regular = fd_ >= 0 && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    source_offset_ = regular ? ::lseek(fd_, 0, SEEK_CUR) : -1;
    capacity_ = capacity < limit ? capacity : limit;
    if (capacity_ == 0) capacity_ = 1;
    in_place_ = false;
    if (in_place && source_offset_ >= 0 && view_in_place(st.st_size)) return true;
    // One spare byte keeps the available bytes NUL-terminated for the parser's traces. A full
    // window gets a huge page: one fault instead of one per 4 KiB page, which costs more here
    // than zeroing the whole huge page.
    buffer_ = allocate_body_buffer(capacity_ + 1);
    if (!buffer_) return false;
    start_ = end_ = total_read_ = 0;
    buffer_.get()[0] = '\0';
    ended_ = limit_ == 0;
    read_into_tail();
    return true;
}

// Views the body in the file: what the file holds of it, at most `limit` bytes. The window then
// shows the first capacity_ bytes of it. False when the file holds none of it or cannot be
// mapped (it is read then).
bool BodyWindow::view_in_place(std::int64_t file_size) {
    if (file_size <= source_offset_) return false;
    const auto held = static_cast<std::uint64_t>(file_size - source_offset_);
    const std::size_t length = held < limit_ ? static_cast<std::size_t>(held) : limit_;
    if (!view_.map_for_one_pass(fd_, source_offset_, length)) return false;
    in_place_ = true;
    // The body ends where the file does, as a read would find it.
    viewed_ = length;
    start_ = end_ = total_read_ = released_ = 0;
    ended_ = false;
    read_into_tail();
    return true;
}

// Reads until the window is full or the input ends; a pipe hands over a little at a time.
void BodyWindow::read_into_tail() {
    if (in_place_) {
        const std::size_t end = start_ + capacity_ < viewed_ ? start_ + capacity_ : viewed_;
        // Once the window reaches the body's end, the file position is where reading the body
        // would have left it: what follows the body is still there for whoever reads on. One
        // seek there, not one per window.
        if (end > end_) {
            end_ = total_read_ = end;
            if (end_ == viewed_) ::lseek(fd_, source_offset_ + static_cast<off_t>(end_), SEEK_SET);
        }
        ended_ = end_ == viewed_;
        return;
    }
    while (!ended_ && end_ < capacity_) {
        std::size_t room = capacity_ - end_;
        const std::size_t unread = limit_ - total_read_;
        if (room > unread) room = unread;
        const long n = source_->read(buffer_.get() + end_, room);
        if (n <= 0) {
            // End of input, or a read error: either way the body ends here.
            ended_ = true;
            break;
        }
        end_ += static_cast<std::size_t>(n);
        total_read_ += static_cast<std::size_t>(n);
        if (total_read_ == limit_) ended_ = true;
    }
    buffer_.get()[end_] = '\0';
}

bool BodyWindow::read_more() {
    if (ended_) return false;
    if (start_ > 0 && !in_place_) {
        std::memmove(buffer_.get(), buffer_.get() + start_, available());
        end_ -= start_;
        start_ = 0;
    }
    const std::size_t before = end_;
    read_into_tail();
    return end_ > before;
}

std::size_t BodyWindow::fill(std::size_t wanted) {
    if (wanted > capacity_) wanted = capacity_;
    while (available() < wanted && read_more()) {
    }
    return available();
}

void BodyWindow::consume(std::size_t count) {
    start_ += count < available() ? count : available();
    if (in_place_ && start_ - released_ >= kReleaseStep) {
        view_.let_go_before(start_);
        released_ = start_;
    }
}

}  // namespace cgi::detail
