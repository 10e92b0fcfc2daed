// Bounded copies of texts into fixed-size buffers: the copy is cut to fit and always terminated.
#pragma once

#include <cstddef>
#include <cstring>

namespace cgi::detail {

// Copies `length` bytes of `src`, or as many as fit before the terminator, into `out` of
// `capacity` bytes (capacity 0: nothing is written). Returns the number of bytes copied.
inline std::size_t copy_bytes(char* out, std::size_t capacity, const char* src,
                              std::size_t length) {
    if (capacity == 0) return 0;
    const std::size_t n = length < capacity - 1 ? length : capacity - 1;
    std::memcpy(out, src, n);
    out[n] = '\0';
    return n;
}

// Copies the NUL-terminated `src` into `out` of `capacity` bytes, cut to fit.
inline std::size_t copy_text(char* out, std::size_t capacity, const char* src) {
    return copy_bytes(out, capacity, src, strnlen(src, capacity));
}

}  // namespace cgi::detail
