// Fuzz target: one multipart request parsed twice, through a small read window and through one
// that holds the whole body, must come out the same. Every scan of the parser may meet a window
// edge in the first run and never in the second; where a part is refused, both runs stop there.
//
// Input layout: one byte choosing the small window (1 + byte % 300 bytes; the request enlarges
// a window too small for its boundary), then the multipart target's layout: CONTENT_TYPE '\n'
// CONTENT_LENGTH '\n' body.
#include <cstring>
#include <string>
#include <vector>

#include "cgi/cgi_request.h"
#include "fuzz/fuzz_support.h"

namespace {

// What the application sees of one pair, copied out of the request.
struct SeenPair {
    std::string name;
    std::string value;
    std::int32_t value_len = 0;
    std::string file_name;
    std::string file_type;
};

// What the application sees of one parse.
struct Outcome {
    bool constructed = false;
    bool stopped = false;  // the exit hook fired
    int exit_status = 0;
    bool multipart = false;
    bool refused = false;
    std::int32_t boundary_len = 0;
    std::int32_t declared_length = 0;  // content_length once the request is built
    std::int32_t content_length = 0;   // and once the pairs are collected
    std::int32_t pair_count = -1;
    std::vector<SeenPair> pairs;
};

void record_pairs(CgiRequest& request, Outcome& outcome) {
    outcome.multipart = request.is_multipart();
    outcome.refused = request.body_too_large();
    outcome.boundary_len = request.boundary_len();
    outcome.content_length = request.content_length();
    outcome.pair_count = request.pair_count();
    FUZZ_CHECK(request.pair_count() >= 0 && request.pair_at(request.pair_count()) == nullptr);
    for (std::int32_t i = 0; i < request.pair_count(); ++i) {
        const FormPair& pair = *request.pair_at(i);
        FUZZ_CHECK(pair.value != nullptr && pair.value_len >= 0);
        FUZZ_CHECK(pair.value[pair.value_len] == '\0');
        outcome.pairs.push_back({pair.name,
                                 std::string(pair.value, static_cast<std::size_t>(pair.value_len)),
                                 pair.value_len, pair.file_name, pair.file_type});
    }
}

Outcome parse_through_window(std::size_t window_bytes, std::string_view content_type,
                             const std::string& length, std::string_view body) {
    clear_cgi_variables();
    set_cgi_variable("REQUEST_METHOD", "POST");
    set_cgi_variable("CONTENT_TYPE", content_type);
    set_cgi_variable("CONTENT_LENGTH", length);
    feed_stdin(body);

    char program[] = "apply.cgi";
    char* argv[] = {program, nullptr};
    Outcome outcome;
    try {
        CgiRequest request(1, argv,
                           RequestOptions{.unreadable_body = UnreadableBody::end_process,
                                          .skip_preamble = false,
                                          .pairs_by_method = false,
                                          .body_window = window_bytes});
        outcome.constructed = true;
        outcome.declared_length = request.content_length();
        try {
            request.collect_pairs();
        } catch (const CgiExitCalled& exit) {
            // The pairs stored before the refused part stay in the table.
            outcome.stopped = true;
            outcome.exit_status = exit.status;
        }
        record_pairs(request, outcome);
    } catch (const CgiExitCalled& exit) {
        outcome.stopped = true;
        outcome.exit_status = exit.status;
    }
    return outcome;
}

void check_same(const Outcome& small, const Outcome& whole) {
    FUZZ_CHECK(small.constructed == whole.constructed);
    FUZZ_CHECK(small.stopped == whole.stopped);
    FUZZ_CHECK(small.exit_status == whole.exit_status);
    FUZZ_CHECK(small.refused == whole.refused);
    FUZZ_CHECK(small.multipart == whole.multipart);
    FUZZ_CHECK(small.boundary_len == whole.boundary_len);
    // A window that holds the whole body knows its true length as soon as the request is built.
    if (whole.multipart) FUZZ_CHECK(whole.content_length == whole.declared_length);
    // A short body replaces the declared length once the input has ended. A multipart parse that
    // runs to the closing boundary or the end of the body meets that end through any window.
    // One that ends early (an empty boundary, a refused part, a full table) may not have met it
    // through a small window, and then keeps the declared length.
    const bool ended_early = small.multipart && (small.boundary_len <= 0 || small.stopped ||
                                                 small.pair_count >= MAX_PAIRS);
    if (ended_early) {
        FUZZ_CHECK(small.content_length == whole.content_length ||
                   small.content_length == small.declared_length);
    } else {
        FUZZ_CHECK(small.content_length == whole.content_length);
    }
    FUZZ_CHECK(small.pair_count == whole.pair_count);
    FUZZ_CHECK(small.pairs.size() == whole.pairs.size());
    for (std::size_t i = 0; i < small.pairs.size(); ++i) {
        const SeenPair& a = small.pairs[i];
        const SeenPair& b = whole.pairs[i];
        FUZZ_CHECK(a.name == b.name);
        FUZZ_CHECK(a.value_len == b.value_len);
        FUZZ_CHECK(a.value == b.value);
        FUZZ_CHECK(a.file_name == b.file_name);
        FUZZ_CHECK(a.file_type == b.file_type);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t small_window = 1 + data[0] % 300;
    InputReader input(data + 1, size - 1);
    std::string_view content_type = input.line();
    std::string_view declared = input.line();
    std::string_view body = input.remainder();
    const std::string length = declared_length(declared, body.size());

    const Outcome small = parse_through_window(small_window, content_type, length, body);
    // One byte more than the body: the whole body is read when the request is built.
    const Outcome whole = parse_through_window(body.size() + 1, content_type, length, body);
    check_same(small, whole);
    return 0;
}
