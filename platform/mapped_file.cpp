// File views with mmap: the file's pages, then one zeroed page of anonymous memory that holds
// the terminator when the file ends exactly on a page boundary (past the end of a file's last
// page the kernel shows zeros, but a whole page beyond the end would fault).
#include "platform/mapped_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <utility>

namespace platform {

MappedFile::~MappedFile() {
    unmap();
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : address_(std::exchange(other.address_, nullptr)),
      span_(std::exchange(other.span_, 0)),
      lead_(std::exchange(other.lead_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        unmap();
        address_ = std::exchange(other.address_, nullptr);
        span_ = std::exchange(other.span_, 0);
        lead_ = std::exchange(other.lead_, 0);
    }
    return *this;
}

void MappedFile::unmap() {
    if (address_) munmap(address_, span_);
    address_ = nullptr;
    span_ = 0;
    lead_ = 0;
}

bool MappedFile::map(int fd, std::size_t length) {
    return map_range(fd, 0, length);
}

bool MappedFile::map_for_one_pass(int fd, std::int64_t offset, std::size_t length) {
    if (!map_range(fd, offset, length)) return false;
    madvise(address_, span_, MADV_SEQUENTIAL);
    return true;
}

void MappedFile::let_go_before(std::size_t count) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t whole = (lead_ + count) / page * page;
    if (address_ && whole > 0) madvise(address_, whole < span_ ? whole : span_, MADV_DONTNEED);
}

bool MappedFile::map_range(int fd, std::int64_t offset, std::size_t length) {
    unmap();
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    if (offset < 0) return false;
    const std::size_t lead = static_cast<std::size_t>(offset) % page;
    const std::size_t file_span = (lead + length + page - 1) / page * page;
    const std::size_t span = file_span + page;
    if (span < length) return false;  // overflow
    // Reserve the whole span as zeroed memory, then lay the file over its front.
    void* base = mmap(nullptr, span, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return false;
    if (file_span > 0 && mmap(base, file_span, PROT_READ, MAP_SHARED | MAP_FIXED, fd,
                              static_cast<off_t>(offset) - static_cast<off_t>(lead)) ==
                             MAP_FAILED) {
        munmap(base, span);
        return false;
    }
    address_ = base;
    span_ = span;
    lead_ = lead;
    return true;
}

}  // namespace platform
