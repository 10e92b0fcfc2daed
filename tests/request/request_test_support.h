// Helpers of the request tests: the CGI environment, standard input, argument vectors and
// multipart bodies built the way browsers and curl lay them out.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "cgi/cgi_request.h"
#include "corpus.h"
#include "multipart_body.h"
#include "platform/files.h"
#include "test_files.h"

// The tests name the library's parts without the namespace.
using namespace cgi;

// Unsets every CGI variable, then sets the given ones.
inline void set_cgi_env(std::initializer_list<std::pair<const char*, std::string>> vars) {
    for (const char* name : CGI_ENV_NAMES) unsetenv(name);
    for (const auto& [name, value] : vars) setenv(name, value.c_str(), 1);
}

// The environment of a POST of `content_type`, declared `length` bytes long.
inline void set_post_env(const std::string& content_type, const std::string& length) {
    set_cgi_env(
        {{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", content_type}, {"CONTENT_LENGTH", length}});
}

// Makes `bytes` the whole of standard input.
inline void feed_stdin(std::string_view bytes) {
    char path[] = "/tmp/request_test_stdin_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    ASSERT_NE(std::freopen(path, "rb", stdin), nullptr);
    unlink(path);
}

// Bytes still unread on standard input.
inline std::string rest_of_stdin() {
    std::string rest;
    for (int ch; (ch = std::getchar()) != EOF;) rest.push_back(static_cast<char>(ch));
    return rest;
}

// An argument vector that outlives the request built from it.
class Args {
  public:
    Args(std::initializer_list<std::string> args) : texts(args) {
        for (std::string& text : texts) pointers.push_back(text.data());
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(texts.size()); }
    char** argv() { return pointers.data(); }

  private:
    std::vector<std::string> texts;
    std::vector<char*> pointers;
};

inline std::unique_ptr<CgiRequest> make_request(
    Args args = {"/srv/cgi-bin/apply.cgi"},
    RequestOptions options = RequestOptions::as_designed()) {
    return std::make_unique<CgiRequest>(args.argc(), args.argv(), options);
}

// A multipart/form-data body. Each part starts with its boundary line; `eol` is the line break.
class MultipartBody {
  public:
    explicit MultipartBody(std::string boundary_text = "----TestBoundary7MA4YWxk",
                           std::string eol = "\r\n")
        : boundary(std::move(boundary_text)), line_end(std::move(eol)) {}

    MultipartBody& field(const std::string& name, const std::string& value) {
        text += part_text({name, value, {}, {}}, boundary, line_end);
        return *this;
    }
    // An upload; an empty `type` leaves the Content-Type line out.
    MultipartBody& file(const std::string& name, const std::string& file_name,
                        const std::string& type, const std::string& content) {
        std::optional<std::string> content_type;
        if (!type.empty()) content_type = type;
        text += part_text({name, content, file_name, content_type}, boundary, line_end);
        return *this;
    }
    MultipartBody& raw(const std::string& bytes) {
        text += bytes;
        return *this;
    }
    std::string close() const { return text + closing_line(boundary, line_end); }

    std::string content_type() const { return "multipart/form-data; boundary=" + boundary; }

    const std::string boundary;
    const std::string line_end;

  private:
    std::string text;
};

// Sets up a multipart POST of `body` (declared with its own length unless `declared` is given)
// and builds the request, which reads the body.
inline std::unique_ptr<CgiRequest> multipart_request(
    const MultipartBody& form, const std::string& body, const std::string& declared = "",
    RequestOptions options = RequestOptions::as_designed()) {
    set_post_env(form.content_type(), declared.empty() ? std::to_string(body.size()) : declared);
    feed_stdin(body);
    return make_request({"/srv/cgi-bin/apply.cgi"}, options);
}

// A value as get_file gives it, with its length, so that NUL bytes compare too.
struct FileValue {
    std::string value = "<missing>";
    std::string file_name;
    std::string file_type;
    bool terminated = false;  // a NUL follows the value's bytes
    const char* data = nullptr;
};

inline FileValue upload(CgiRequest& request, const char* name) {
    std::int32_t length = -1;
    char file_name[SCRATCH_SIZE];
    char file_type[SCRATCH_SIZE];
    const char* value = request.get_file(name, &length, file_name, file_type);
    if (!value || length < 0) return {};
    const auto size = static_cast<std::size_t>(length);
    return {std::string(value, size), file_name, file_type, value[size] == '\0', value};
}

inline std::string file_value(CgiRequest& request, const char* name) {
    return upload(request, name).value;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

// What next_pair hands out, pair by pair.
inline Pairs all_pairs(CgiRequest& request) {
    Pairs pairs;
    char name[SCRATCH_SIZE];
    static char value[MAX_VALUE_BYTES + 1];
    while (request.next_pair(name, value)) pairs.emplace_back(name, value);
    return pairs;
}

// `size` bytes without a NUL, so that a terminator read from the wrong place shows.
inline std::string pattern_bytes(std::size_t size, char first = 'a') {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(first + i % 23);
    return bytes;
}

// Every byte value once, then `tail`.
inline std::string every_byte_value(const std::string& tail) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
    return bytes + tail;
}

// Runs `work` in a child process and tells how it ended: the text `work` returned, "stopped"
// when the process ended with status 0 before that (the parser stops it so), or the other status.
inline std::string outcome_in_child(const std::function<std::string()>& work) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return "no pipe";
    constexpr int kDone = 20;  // clear of the status 1 of a sanitizer report
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_fds[0]);
        // Ends at once with the parser's status: no exit-time work (a leak check) in the child.
        on_exit([](int status, void*) { _exit(status); }, nullptr);
        const std::string text = work();
        std::_Exit(platform::write_all(pipe_fds[1], text.data(), text.size()) ? kDone : 99);
    }
    close(pipe_fds[1]);
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = read(pipe_fds[0], chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(n));
    close(pipe_fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kDone) return text;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && text.empty()) return "stopped";
    return WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                             : "signal " + std::to_string(WTERMSIG(status));
}

// Ends a death-test child that found a fault, saying which.
[[noreturn]] inline void child_fails(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::_Exit(1);
}

// Standard input as a web server gives it: a pipe, fed by `writer` on a thread of its own
// (the write end is closed after it returns). The old standard input comes back on destruction.
class PipedStdin {
  public:
    explicit PipedStdin(std::function<void(int)> writer) : saved_(dup(0)) {
        int fds[2];
        if (saved_ < 0 || pipe(fds) != 0 || dup2(fds[0], 0) != 0)
            throw std::runtime_error("cannot pipe standard input");
        close(fds[0]);
        thread_ = std::thread([writer = std::move(writer), out = fds[1]] {
            writer(out);
            close(out);
        });
    }
    ~PipedStdin() {
        join();
        dup2(saved_, 0);
        close(saved_);
    }
    PipedStdin(const PipedStdin&) = delete;
    PipedStdin& operator=(const PipedStdin&) = delete;
    void join() {
        if (thread_.joinable()) thread_.join();
    }

  private:
    int saved_;
    std::thread thread_;
};
