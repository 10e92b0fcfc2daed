// Fuzz target: a multipart/form-data request, its content type and declared length included.
//
// Input layout: CONTENT_TYPE '\n' CONTENT_LENGTH '\n' body; declared_length (fuzz_support.h)
// turns the length line into the CONTENT_LENGTH sent.
#include <cstring>
#include <string>

#include "cgi/cgi_request.h"
#include "fuzz/fuzz_support.h"

namespace {

bool contains(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

void check_pairs(CgiRequest& request, std::string_view body) {
    FUZZ_CHECK(request.pair_count() >= 0 && request.pair_count() <= MAX_PAIRS);
    if (request.body_too_large()) FUZZ_CHECK(request.pair_count() == 0);
    std::string delimiter;
    if (request.is_multipart()) delimiter = std::string("\n--") + request.boundary();
    for (int i = 0; i < request.pair_count(); ++i) {
        const FormPair& pair = (*request.pair_at(static_cast<std::int32_t>(i)));
        FUZZ_CHECK(std::strlen(pair.name) < SCRATCH_SIZE);
        FUZZ_CHECK(std::strlen(pair.file_name) < SCRATCH_SIZE);
        FUZZ_CHECK(std::strlen(pair.file_type) < SCRATCH_SIZE);
        FUZZ_CHECK(pair.value_len >= 0);
        FUZZ_CHECK(pair.value[pair.value_len] == '\0');
        if (!request.is_multipart()) continue;
        // Every text of a part is cut from the body as it lies there; a value never runs over a
        // boundary line.
        std::string_view value(pair.value, static_cast<std::size_t>(pair.value_len));
        FUZZ_CHECK(static_cast<std::size_t>(pair.value_len) <= body.size());
        FUZZ_CHECK(contains(body, value));
        FUZZ_CHECK(contains(body, pair.name));
        FUZZ_CHECK(contains(body, pair.file_name));
        FUZZ_CHECK(contains(body, pair.file_type));
        if (request.boundary_len() > 0) FUZZ_CHECK(!contains(value, delimiter));
    }
}

void read_every_pair(CgiRequest& request) {
    // get_value collects the pairs; the lookups and the walk must agree with the table.
    request.get_value("name");
    for (int i = 0; i < request.pair_count(); ++i) {
        std::string name = (*request.pair_at(static_cast<std::int32_t>(i))).name;
        std::int32_t length = -1;
        auto file_name = std::make_unique<char[]>(SCRATCH_SIZE);
        auto file_type = std::make_unique<char[]>(SCRATCH_SIZE);
        const char* value = request.get_file(name.c_str(), &length, file_name.get(), SCRATCH_SIZE,
                                             file_type.get(), SCRATCH_SIZE);
        FUZZ_CHECK(value != nullptr);
        FUZZ_CHECK(length >= 0 && value[length] == '\0');
    }
    char name_out[64];
    char value_out[64];
    int walked = 0;
    while (request.next_pair(name_out, value_out)) {
        FUZZ_CHECK(std::strlen(name_out) < sizeof name_out);
        FUZZ_CHECK(std::strlen(value_out) < sizeof value_out);
        ++walked;
    }
    FUZZ_CHECK(walked == request.pair_count());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    std::string_view content_type = input.line();
    std::string_view declared = input.line();
    std::string_view body = input.remainder();

    clear_cgi_variables();
    set_cgi_variable("REQUEST_METHOD", "POST");
    set_cgi_variable("CONTENT_TYPE", content_type);
    set_cgi_variable("CONTENT_LENGTH", declared_length(declared, body.size()));
    feed_stdin(body);

    char program[] = "/srv/cgi-bin/apply.cgi";
    char* argv[] = {program, nullptr};
    try {
        CgiRequest request(1, argv, RequestOptions::as_designed());
        try {
            read_every_pair(request);
        } catch (const CgiExitCalled& exit) {
            // An unparsable part ends the request with status 0; the pairs read before it stay.
            FUZZ_CHECK(exit.status == 0);
        }
        check_pairs(request, body);
    } catch (const CgiExitCalled& exit) {
        FUZZ_CHECK(exit.status == 0);
    }
    return 0;
}
