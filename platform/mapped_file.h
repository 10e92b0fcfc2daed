// A read-only view of a range of an open file, followed by a NUL byte, unmapped when it goes out
// of scope. Only the pages that are read cost anything.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

class MappedFile {
  public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the first `length` bytes of the file open on `fd` (which must hold that many) and a
    // NUL byte after them. False when the view cannot be made.
    bool map(int fd, std::size_t length);
    // Maps `length` bytes from `offset` (which need not fall on a page) for one pass from front
    // to back: the kernel reads ahead, and let_go_before gives back the pages passed. A NUL
    // follows the bytes only where the file ends with them.
    bool map_for_one_pass(int fd, std::int64_t offset, std::size_t length);
    // Gives back the resident pages that lie wholly within the first `count` bytes. They stay
    // readable: a later read fetches them again from the file.
    void let_go_before(std::size_t count);
    // The bytes, or null before a successful map.
    const char* data() const { return static_cast<const char*>(address_) + lead_; }

  private:
    bool map_range(int fd, std::int64_t offset, std::size_t length);
    void unmap();
    void* address_ = nullptr;
    std::size_t span_ = 0;
    std::size_t lead_ = 0;  // bytes from the page boundary to the requested offset
};

}  // namespace platform
