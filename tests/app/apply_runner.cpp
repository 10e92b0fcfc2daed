// fork/exec of apply.cgi with files for standard input and output.
#include "apply_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "test_files.h"

namespace {

// Sanitizer settings of the test run reach the program too, so that its reports are not lost.
void pass_through(std::vector<std::string>& env, const char* name) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
}

// `in_fd` is the standard input to use, or -1 for the file `in`.
[[noreturn]] void child(const CgiCall& call, int in_fd, const std::filesystem::path& in,
                        const std::filesystem::path& out) {
    if (in_fd < 0) in_fd = open(in.c_str(), O_RDONLY);
    int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in_fd < 0 || out_fd < 0 || dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0) _exit(126);
    close(in_fd);
    close(out_fd);
    if (chdir(call.workdir.c_str()) != 0) _exit(126);
    umask(call.umask_value);
    if (call.file_size_limit >= 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{static_cast<rlim_t>(call.file_size_limit),
                     static_cast<rlim_t>(call.file_size_limit)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    std::vector<std::string> env = call.env;
    pass_through(env, "ASAN_OPTIONS");
    pass_through(env, "UBSAN_OPTIONS");
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string argv0 = call.argv0;
    char* argv[] = {argv0.data(), nullptr};
    execve(APPLY_CGI, argv, envp.data());
    _exit(127);
}

}  // namespace

RunningCgi::RunningCgi(const CgiCall& call, bool hold_input) : io_dir_(make_temp_dir("apply-io")) {
    int pipe_fds[2] = {-1, -1};
    if (hold_input) {
        // Close-on-exec, so that no other run inherits this pipe's write end.
        if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        held_body_ = call.body;
        input_pipe_ = pipe_fds[1];
    } else {
        write_file(io_dir_ / "in", call.body);
    }
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) child(call, pipe_fds[0], io_dir_ / "in", io_dir_ / "out");
    if (pipe_fds[0] >= 0) close(pipe_fds[0]);
}

void RunningCgi::release_input() {
    if (input_pipe_ < 0) return;
    const char* p = held_body_.data();
    std::size_t left = held_body_.size();
    while (left > 0) {
        ssize_t n = write(input_pipe_, p, left);
        if (n <= 0) break;  // the program stopped reading
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    close(input_pipe_);
    input_pipe_ = -1;
}

RunningCgi::~RunningCgi() {
    release_input();
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    std::error_code ignored;
    std::filesystem::remove_all(io_dir_, ignored);
}

CgiResult RunningCgi::finish() {
    release_input();
    CgiResult result;
    int status = 0;
    if (waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status))
        result.exit_status = WEXITSTATUS(status);
    pid_ = -1;
    result.output = read_file(io_dir_ / "out");
    return result;
}

CgiResult run_apply(const CgiCall& call) {
    return RunningCgi(call).finish();
}

CgiCall get_request(const std::filesystem::path& workdir, const std::string& query) {
    CgiCall call;
    call.workdir = workdir;
    call.env = {"GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=GET", "SCRIPT_NAME=/apply.cgi"};
    if (!query.empty()) call.env.push_back("QUERY_STRING=" + query);
    return call;
}

CgiCall multipart_request(const std::filesystem::path& workdir, const std::string& body,
                          const std::string& boundary) {
    CgiCall call;
    call.workdir = workdir;
    call.env = {"GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST", "SCRIPT_NAME=/apply.cgi",
                "CONTENT_TYPE=multipart/form-data; boundary=" + boundary,
                "CONTENT_LENGTH=" + std::to_string(body.size())};
    call.body = body;
    return call;
}
