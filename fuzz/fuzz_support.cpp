// Plumbing shared by the fuzz targets: input splitting, environment, standard input.
#include "fuzz/fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "cgi/cgi_limits.h"

void fuzz_fail(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant failed: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

std::string_view InputReader::line() {
    std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) {
        std::string_view all = rest;
        rest = {};
        return all;
    }
    std::string_view text = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    return text;
}

std::string c_text(std::string_view bytes) {
    return std::string(bytes.substr(0, bytes.find('\0')));
}

std::string declared_length(std::string_view declared, std::size_t body_size) {
    if (declared.empty()) return std::to_string(body_size);
    std::string text = c_text(declared);
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    const long long cap = static_cast<long long>(body_size) + kFuzzLengthLieCap;
    if (value > cap && value <= MAX_BODY_SIZE) return std::to_string(cap);
    return text;
}

void set_cgi_variable(const char* name, std::string_view value) {
    setenv(name, c_text(value).c_str(), 1);
}

void clear_cgi_variables() {
    for (const char* name :
         {"REQUEST_METHOD", "CONTENT_LENGTH", "CONTENT_TYPE", "QUERY_STRING", "HTTP_COOKIE"}) {
        unsetenv(name);
    }
}

namespace {

// One anonymous in-memory file, duplicated onto descriptor 0 for the life of the process.
int stdin_backing_fd() {
    static const int fd = [] {
        int created = memfd_create("fuzz-stdin", 0);
        if (created < 0) {
            std::FILE* fallback = std::tmpfile();
            if (!fallback) fuzz_fail("a file for standard input", __FILE__, __LINE__);
            created = dup(fileno(fallback));
            std::fclose(fallback);
        }
        if (created < 0 || dup2(created, 0) < 0) fuzz_fail("dup2 onto fd 0", __FILE__, __LINE__);
        return created;
    }();
    return fd;
}

}  // namespace

void feed_stdin(std::string_view data) {
    int fd = stdin_backing_fd();
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
        if (n <= 0) fuzz_fail("pwrite of standard input", __FILE__, __LINE__);
        done += static_cast<std::size_t>(n);
    }
    if (ftruncate(fd, static_cast<off_t>(data.size())) != 0) {
        fuzz_fail("ftruncate of standard input", __FILE__, __LINE__);
    }
    // Descriptor 0 shares the file offset with `fd`. The stdin stream may still buffer bytes of
    // the previous input, and a seek that lands inside its buffer would keep them: fflush drops
    // the buffer and forgets the stream's idea of the offset, then the descriptor is rewound.
    if (std::fflush(stdin) != 0 || lseek(0, 0, SEEK_SET) != 0) {
        fuzz_fail("rewind of standard input", __FILE__, __LINE__);
    }
    std::clearerr(stdin);
}
