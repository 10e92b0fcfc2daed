// Cost of taking in a browser-style multipart request with a 64 MiB random binary upload, beside
// one memcpy of 64 MiB in the same run:
//   BM_Memcpy64MiB             the yardstick: one memcpy between two buffers already touched
//   BM_CollectPairs64MiB       parsing the body already read into the pair table
//   BM_ReadAndCollect64MiB     the whole intake: body buffer, read from standard input, parsing
//   BM_ReadBody64MiB/huge:0|1  allocating and filling the body buffer, with 4 KiB or huge pages
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "cgi/body_buffer.h"
#include "cgi/cgi_request.h"

namespace {

constexpr std::size_t kUploadSize = std::size_t{64} << 20;
constexpr char kBoundary[] = "----WebKitFormBoundary2aWj5nHwC6gUBuHN";

// Writes the request body to a temporary file, makes it standard input and sets the CGI
// variables; returns the body's length.
std::size_t prepare_request() {
    static std::size_t length = 0;
    if (length) return length;
    std::string head;
    for (const char* field : {"name", "mail", "interest"}) {
        head += std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" +
                field + "\"\r\n\r\nsome text\r\n";
    }
    head += std::string("--") + kBoundary +
            "\r\nContent-Disposition: form-data; name=\"resume\"; filename=\"cv.bin\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\n";
    const std::string tail = std::string("\r\n--") + kBoundary + "--\r\n";

    std::string upload(kUploadSize, '\0');
    std::mt19937_64 random(2748);
    for (std::size_t i = 0; i < kUploadSize; i += 8) {
        const std::uint64_t bits = random();
        std::memcpy(&upload[i], &bits, 8);
    }

    char path[] = "/tmp/parse_bench_body_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) std::abort();
    std::FILE* out = fdopen(fd, "wb");
    std::fwrite(head.data(), 1, head.size(), out);
    std::fwrite(upload.data(), 1, upload.size(), out);
    std::fwrite(tail.data(), 1, tail.size(), out);
    std::fclose(out);
    if (!std::freopen(path, "rb", stdin)) std::abort();
    unlink(path);

    length = head.size() + upload.size() + tail.size();
    setenv("REQUEST_METHOD", "POST", 1);
    setenv("CONTENT_TYPE", (std::string("multipart/form-data; boundary=") + kBoundary).c_str(), 1);
    setenv("CONTENT_LENGTH", std::to_string(length).c_str(), 1);
    return length;
}

std::unique_ptr<CgiRequest> read_request() {
    static char program[] = "parse_bench";
    static char* argv[] = {program, nullptr};
    std::rewind(stdin);
    return std::make_unique<CgiRequest>(1, argv);
}

void check_upload(CgiRequest& request, benchmark::State& state) {
    std::int32_t length = 0;
    if (!request.get_file("resume", &length, nullptr, nullptr) ||
        length != static_cast<std::int32_t>(kUploadSize)) {
        state.SkipWithError("the upload was not parsed whole");
    }
}

void BM_Memcpy64MiB(benchmark::State& state) {
    auto from = std::make_unique_for_overwrite<char[]>(kUploadSize);
    auto to = std::make_unique_for_overwrite<char[]>(kUploadSize);
    std::memset(from.get(), 1, kUploadSize);
    std::memset(to.get(), 2, kUploadSize);
    for (auto _ : state) {
        std::memcpy(to.get(), from.get(), kUploadSize);
        benchmark::DoNotOptimize(to.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kUploadSize));
}

void BM_CollectPairs64MiB(benchmark::State& state) {
    prepare_request();
    for (auto _ : state) {
        state.PauseTiming();
        auto request = read_request();
        state.ResumeTiming();
        request->collect_pairs();
        state.PauseTiming();
        check_upload(*request, state);
        request.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kUploadSize));
}

void BM_ReadAndCollect64MiB(benchmark::State& state) {
    prepare_request();
    for (auto _ : state) {
        auto request = read_request();
        request->collect_pairs();
        state.PauseTiming();
        check_upload(*request, state);
        request.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kUploadSize));
}

void BM_ReadBody64MiB(benchmark::State& state) {
    const std::size_t length = prepare_request();
    const BodyPages pages = state.range(0) ? BodyPages::huge : BodyPages::standard;
    for (auto _ : state) {
        std::rewind(stdin);
        BodyBuffer body = allocate_body_buffer(length + 1, pages);
        if (std::fread(body.get(), 1, length, stdin) != length) state.SkipWithError("short read");
        benchmark::DoNotOptimize(body.get());
        state.PauseTiming();
        body.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * length));
}

}  // namespace

BENCHMARK(BM_Memcpy64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CollectPairs64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndCollect64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBody64MiB)->ArgName("huge")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
