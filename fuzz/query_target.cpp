// Fuzz target: the query string, from QUERY_STRING or from the command line's test mode.
//
// Input layout: one selector byte, argument 0 '\n' query text. Selector bit 0 chooses test mode
// ("-t" and the query as argument 2) over QUERY_STRING; bit 1 adds a method of "POST" without a
// content type, which makes an empty URL-encoded body the source instead.
#include <cstring>
#include <memory>
#include <string>

#include "cgi/cgi_request.h"
#include "fuzz/fuzz_support.h"

namespace {

void check_request(CgiRequest& request) {
    FUZZ_CHECK(std::strlen(request.script_path()) < SCRIPT_PATH_SIZE);
    FUZZ_CHECK(request.script_name() >= request.script_path() &&
               request.script_name() <= request.script_path() + std::strlen(request.script_path()));
    FUZZ_CHECK(std::strlen(request.query()) <= MAX_QUERY_CHARS);
    FUZZ_CHECK(!request.body_too_large());

    request.get_value("name");
    FUZZ_CHECK(request.pair_count() >= 0 && request.pair_count() <= MAX_PAIRS);
    for (int i = 0; i < request.pair_count(); ++i) {
        const FormPair& pair = (*request.pair_at(static_cast<std::int32_t>(i)));
        // A query pair is text: its length is that of the value, and it fits the query buffer.
        FUZZ_CHECK(pair.value_len == static_cast<std::int32_t>(std::strlen(pair.value)));
        FUZZ_CHECK(std::strlen(pair.name) < MAX_QUERY_CHARS + 1);
        FUZZ_CHECK(static_cast<std::size_t>(pair.value_len) < MAX_QUERY_CHARS + 1);
        FUZZ_CHECK(pair.file_name[0] == '\0' && pair.file_type[0] == '\0');
    }

    // The walk hands the pairs out cut to the caller's buffers; exact-size heap buffers let
    // the address checker see any byte written past them.
    for (std::size_t capacity : {std::size_t{1}, std::size_t{2}, std::size_t{7}}) {
        auto name_out = std::make_unique<char[]>(capacity);
        auto value_out = std::make_unique<char[]>(capacity);
        if (!request.next_pair(name_out.get(), capacity, value_out.get(), capacity)) break;
        FUZZ_CHECK(std::strlen(name_out.get()) < capacity);
        FUZZ_CHECK(std::strlen(value_out.get()) < capacity);
    }
    for (int index : {-1, 0, CGI_ENV_COUNT - 1, static_cast<int>(CGI_ENV_COUNT), 1 << 30}) {
        request.get_env(index);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t selector = data[0];
    InputReader input(data + 1, size - 1);
    std::string program = c_text(input.line());
    std::string query = c_text(input.remainder());

    clear_cgi_variables();
    if (selector & 2) set_cgi_variable("REQUEST_METHOD", "POST");
    feed_stdin({});

    std::string test_flag = "-t";
    char* argv[] = {program.data(), nullptr, nullptr, nullptr};
    int argc = 1;
    if (selector & 1) {
        argv[1] = test_flag.data();
        argv[2] = query.data();
        argc = 3;
        set_cgi_variable("QUERY_STRING", "ignored=1");
    } else {
        set_cgi_variable("QUERY_STRING", query);
    }
    try {
        CgiRequest request(argc, argv, RequestOptions::as_designed());
        check_request(request);
    } catch (const CgiExitCalled&) {
        // Neither the query reader nor the body reader ever ends the process.
        FUZZ_CHECK(false);
    }
    return 0;
}
