// The request body buffer: one allocation sized to the body, owned through a unique_ptr.
#pragma once

#include <cstddef>
#include <memory>

namespace cgi::detail {

// Frees a body buffer (they come from the malloc family).
struct BodyBufferFree {
    void operator()(char* p) const noexcept;
};
using BodyBuffer = std::unique_ptr<char, BodyBufferFree>;

// A buffer of `bytes` bytes, or null when it cannot be allocated. A large buffer is 2 MiB-aligned
// and offered to the kernel for transparent huge pages: first touching 4 KiB pages one by one costs
// far more than reading the body into them.
BodyBuffer allocate_body_buffer(std::size_t bytes);

}  // namespace cgi::detail
