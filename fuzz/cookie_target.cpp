// Fuzz target: get_cookie on an arbitrary HTTP_COOKIE.
//
// Input layout: the wanted name '\n' the HTTP_COOKIE text.
#include <cstring>
#include <memory>
#include <string>

#include "cgi/cgi_request.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    std::string wanted = c_text(input.line());
    std::string_view cookie = input.remainder();

    clear_cgi_variables();
    set_cgi_variable("HTTP_COOKIE", cookie);
    feed_stdin({});

    char program[] = "apply.cgi";
    char* argv[] = {program, nullptr};
    CgiRequest request(1, argv, RequestOptions::as_designed());

    // The documented size of the caller's buffer, on the heap so that a write past it shows.
    constexpr unsigned char kUntouched = 0xA5;
    auto out = std::make_unique<char[]>(SCRATCH_SIZE);
    std::memset(out.get(), kUntouched, SCRATCH_SIZE);
    if (request.get_cookie(wanted.c_str(), out.get(), SCRATCH_SIZE)) {
        // The value is terminated inside the buffer, and decoding never makes it longer than
        // the text it came from.
        FUZZ_CHECK(std::memchr(out.get(), '\0', SCRATCH_SIZE) != nullptr);
        FUZZ_CHECK(std::strlen(out.get()) <= cookie.size());
    } else {
        for (std::size_t i = 0; i < SCRATCH_SIZE; ++i) {
            FUZZ_CHECK(static_cast<unsigned char>(out[i]) == kUntouched);
        }
    }
    return 0;
}
