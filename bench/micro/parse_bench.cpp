// Cost of taking in a browser-style multipart request with a 64 MiB random binary upload, beside
// the least that work can cost, in the same run:
//   BM_Memcpy64MiB              one memcpy of 64 MiB between two buffers already touched
//   BM_CopyStdinToFile64MiB     standard input copied to a new file through 64 KiB: the floor of
//                               a stored upload
//   BM_CollectSpooled64MiB      the request as the program runs it: the body streamed through
//                               the read window, the upload written to an unnamed file
//   BM_CollectInMemory64MiB     the same with the upload held in memory (no spool folder)
//   BM_CollectWindow/<KiB>      the spooled request with other window sizes
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "cgi/cgi_request.h"
#include "platform/files.h"

using namespace cgi;

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

std::unique_ptr<CgiRequest> read_request(std::size_t window = 0) {
    static char program[] = "parse_bench";
    static char* argv[] = {program, nullptr};
    std::rewind(stdin);
    return std::make_unique<CgiRequest>(1, argv, RequestOptions{.unreadable_body = UnreadableBody::end_process, .skip_preamble = false, .pairs_by_method = false, .body_window = window});
}

void check_upload(CgiRequest& request, benchmark::State& state) {
    std::int32_t length = 0;
    if (!request.get_file("resume", &length, nullptr, 0, nullptr, 0) ||
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

// A folder for the spooled uploads and the floor's files, on the file system /tmp is on.
const char* spool_folder() {
    static std::string folder = [] {
        char path[] = "/tmp/parse_bench_spool_XXXXXX";
        if (!mkdtemp(path)) std::abort();
        return std::string(path);
    }();
    return folder.c_str();
}

void collect(benchmark::State& state, const char* spool, std::size_t window = 0) {
    prepare_request();
    for (auto _ : state) {
        auto request = read_request(window);
        if (spool) request->spool_uploads_in(spool);
        request->collect_pairs();
        state.PauseTiming();
        check_upload(*request, state);
        request.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kUploadSize));
}

void BM_CollectSpooled64MiB(benchmark::State& state) {
    collect(state, spool_folder());
}

void BM_CollectInMemory64MiB(benchmark::State& state) {
    collect(state, nullptr);
}

void BM_CollectWindow(benchmark::State& state) {
    collect(state, spool_folder(), static_cast<std::size_t>(state.range(0)) << 10);
}

void BM_CopyStdinToFile64MiB(benchmark::State& state) {
    const std::size_t length = prepare_request();
    static char chunk[64 << 10];
    const std::string path = std::string(spool_folder()) + "/floor";
    for (auto _ : state) {
        std::rewind(stdin);
        platform::UniqueFd out(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666));
        std::size_t copied = 0;
        for (ssize_t n; (n = ::read(fileno(stdin), chunk, sizeof chunk)) > 0;) {
            if (!platform::write_all(out.get(), chunk, static_cast<std::size_t>(n))) break;
            copied += static_cast<std::size_t>(n);
        }
        out.close();
        if (copied != length) state.SkipWithError("short copy");
        state.PauseTiming();
        ::unlink(path.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kUploadSize));
}

}  // namespace

BENCHMARK(BM_Memcpy64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyStdinToFile64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CollectSpooled64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CollectInMemory64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CollectWindow)->ArgName("KiB")->Arg(64)->Arg(1024)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
