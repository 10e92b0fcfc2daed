// Response output: every byte of the response goes through the request to its connection.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "cgi/cgi_request.h"
#include "cgi/connection.h"

namespace cgi {

void CgiRequest::write(const void* data, std::size_t size) {
    if (size > 0) io_->write(static_cast<const char*>(data), size);
}

void CgiRequest::flush() {
    io_->flush();
}

int CgiRequest::print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = print_list(format, args);
    va_end(args);
    return written;
}

// Formats into a small buffer on the stack; a longer text is formatted again into one of its size.
int CgiRequest::print_list(const char* format, va_list args) {
    char small[512];
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    if (length < 0) {
        va_end(again);
        return length;
    }
    if (static_cast<std::size_t>(length) < sizeof small) {
        write(small, static_cast<std::size_t>(length));
    } else {
        std::string large(static_cast<std::size_t>(length) + 1, '\0');
        std::vsnprintf(large.data(), large.size(), format, again);
        write(large.data(), static_cast<std::size_t>(length));
    }
    va_end(again);
    return length;
}

}  // namespace cgi
