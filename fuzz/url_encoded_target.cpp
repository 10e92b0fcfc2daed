// Fuzz target: a URL-encoded POST body read from standard input.
//
// Input layout: CONTENT_LENGTH '\n' body. An empty CONTENT_LENGTH line means the body's true
// length; any other text is passed on as sent (short, long, negative, not a number).
#include <cstring>
#include <string>

#include "cgi/cgi_request.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    std::string_view declared = input.line();
    std::string_view body = input.remainder();

    clear_cgi_variables();
    set_cgi_variable("REQUEST_METHOD", "POST");
    set_cgi_variable("CONTENT_TYPE", "application/x-www-form-urlencoded");
    set_cgi_variable("CONTENT_LENGTH", declared.empty() ? std::to_string(body.size()) : declared);
    feed_stdin(body);

    char program[] = "apply.cgi";
    char* argv[] = {program, nullptr};
    try {
        CgiRequest request(1, argv, RequestOptions::as_designed());
        request.get_value("name");
        FUZZ_CHECK(request.pair_count() >= 0 && request.pair_count() <= MAX_PAIRS);
        std::size_t consumed = 0;
        for (int i = 0; i < request.pair_count(); ++i) {
            const FormPair& pair = (*request.pair_at(static_cast<std::int32_t>(i)));
            // A decoded item is text: a decoded NUL ends the value, and neither part is longer
            // than the raw item it came from.
            FUZZ_CHECK(pair.value_len == static_cast<std::int32_t>(std::strlen(pair.value)));
            FUZZ_CHECK(std::strlen(pair.name) < SCRATCH_SIZE);
            FUZZ_CHECK(static_cast<std::size_t>(pair.value_len) <= MAX_VALUE_BYTES);
            FUZZ_CHECK(pair.file_name[0] == '\0' && pair.file_type[0] == '\0');
            consumed += std::strlen(pair.name) + static_cast<std::size_t>(pair.value_len);
        }
        FUZZ_CHECK(consumed <= body.size());
    } catch (const CgiExitCalled&) {
        FUZZ_CHECK(false);  // the URL-encoded reader never ends the process
    }
    return 0;
}
