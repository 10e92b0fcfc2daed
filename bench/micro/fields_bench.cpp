// Cost of the per-part work of the multipart reader (headers, names, small values) on a form of
// many text fields, and of the URL-encoded and query readers on as many items:
//   BM_MultipartFields/<name bytes>   2000 text fields with names of that length
//   BM_UrlEncodedItems/<name bytes>   the same fields as a URL-encoded body
//   BM_QueryItems                     500 short items of a query string
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "cgi/cgi_request.h"

using namespace cgi;

namespace {

constexpr int kFields = 2000;
constexpr char kBoundary[] = "----WebKitFormBoundary2aWj5nHwC6gUBuHN";

std::string field_name(int i, std::size_t length) {
    std::string name = "f" + std::to_string(i);
    name.resize(length > name.size() ? length : name.size(), 'n');
    return name;
}

// Makes `body` standard input and sets the CGI variables of a POST of `type`.
void use_body(const std::string& body, const std::string& type) {
    char path[] = "/tmp/fields_bench_body_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, body.data(), body.size()) != static_cast<ssize_t>(body.size()))
        std::abort();
    close(fd);
    if (!std::freopen(path, "rb", stdin)) std::abort();
    unlink(path);
    setenv("REQUEST_METHOD", "POST", 1);
    setenv("CONTENT_TYPE", type.c_str(), 1);
    setenv("CONTENT_LENGTH", std::to_string(body.size()).c_str(), 1);
    unsetenv("QUERY_STRING");
}

void collect_each_time(benchmark::State& state, std::size_t expected_pairs) {
    static char program[] = "fields_bench";
    static char* argv[] = {program, nullptr};
    RequestOptions options;
    options.max_pairs = kFields + 1;
    for (auto _ : state) {
        std::rewind(stdin);
        auto request = std::make_unique<CgiRequest>(1, argv, options);
        request->collect_pairs();
        if (request->pair_count() != static_cast<std::int32_t>(expected_pairs) ||
            request->truncated())
            state.SkipWithError("the form was not read whole");
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(expected_pairs));
}

void BM_MultipartFields(benchmark::State& state) {
    const auto name_length = static_cast<std::size_t>(state.range(0));
    std::string body;
    for (int i = 0; i < kFields; ++i) {
        body += std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" +
                field_name(i, name_length) + "\"\r\n\r\nsome text\r\n";
    }
    body += std::string("--") + kBoundary + "--\r\n";
    use_body(body, std::string("multipart/form-data; boundary=") + kBoundary);
    collect_each_time(state, kFields);
}

void BM_UrlEncodedItems(benchmark::State& state) {
    const auto name_length = static_cast<std::size_t>(state.range(0));
    std::string body;
    for (int i = 0; i < kFields; ++i) body += field_name(i, name_length) + "=some+text&";
    body.pop_back();
    use_body(body, "application/x-www-form-urlencoded");
    collect_each_time(state, kFields);
}

void BM_QueryItems(benchmark::State& state) {
    std::string query;
    for (int i = 0; i < 500; ++i) query += "q" + std::to_string(i) + "=v&";
    query.pop_back();
    static char program[] = "fields_bench";
    static char* argv[] = {program, nullptr};
    RequestOptions options;
    options.max_query_chars = query.size();
    setenv("REQUEST_METHOD", "GET", 1);
    setenv("QUERY_STRING", query.c_str(), 1);
    unsetenv("CONTENT_TYPE");
    unsetenv("CONTENT_LENGTH");
    for (auto _ : state) {
        CgiRequest request(1, argv, options);
        request.collect_pairs();
        if (request.pair_count() != 500) state.SkipWithError("the query was not read whole");
    }
    state.SetItemsProcessed(state.iterations() * 500);
}

}  // namespace

BENCHMARK(BM_MultipartFields)->ArgName("name")->Arg(8)->Arg(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UrlEncodedItems)->ArgName("name")->Arg(8)->Arg(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QueryItems)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
