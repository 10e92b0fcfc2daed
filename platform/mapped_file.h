// A read-only view of an open file's first bytes, followed by a NUL byte, unmapped when it goes
// out of scope. Only the pages that are read cost anything.
#pragma once

#include <cstddef>

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
    // The bytes, or null before a successful map.
    const char* data() const { return static_cast<const char*>(address_); }

  private:
    void unmap();
    void* address_ = nullptr;
    std::size_t span_ = 0;
};

}  // namespace platform
