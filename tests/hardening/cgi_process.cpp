// Runs apply.cgi in a child process with files for its standard streams.
#include "cgi_process.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

std::string scratch_dir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/cgi-run-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

// Child side, between fork and exec: system calls only. Output goes to pipes, as under a web
// server, so that a file-size limit applies to the store's files alone.
[[noreturn]] void exec_child(const CgiCall& call, const std::string& scratch, int out, int err,
                             char* const* argv, char* const* envp) {
    int in = open((scratch + "/in").c_str(), O_RDONLY);
    if (in < 0) _exit(126);
    if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    close(in);
    close(out);
    close(err);
    if (chdir(call.working_dir.c_str()) != 0) _exit(126);
    if (call.file_size_limit >= 0) {
        // A write past the limit then fails with EFBIG instead of the signal ending the process.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{static_cast<rlim_t>(call.file_size_limit),
                     static_cast<rlim_t>(call.file_size_limit)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (call.unprivileged && geteuid() == 0) {
        // Root writes through any permission bits. Without the capabilities that let it do so
        // (dropped from the bounding set, so that the program does not get them back at exec)
        // it meets the permission bits like the plain user a web server runs programs as.
        for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
            if (prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0) _exit(126);
        }
    }
    execve(call.program.c_str(), argv, envp);
    _exit(127);
}

double now_seconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

CgiProcess::CgiProcess(const CgiCall& call) : scratch(scratch_dir()) {
    write_file(scratch + "/in", call.body);
    std::vector<std::string> arguments = call.arguments;
    if (arguments.empty()) arguments.push_back(call.program);
    std::vector<std::string> environment;
    for (const auto& [name, value] : call.environment) environment.push_back(name + "=" + value);
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    // Output files must be writable after the child drops its privileges.
    std::filesystem::permissions(scratch, std::filesystem::perms::all);
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::fflush(nullptr);
    child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) exec_child(call, scratch, out_pipe[1], err_pipe[1], argv.data(), envp.data());
    close(out_pipe[1]);
    close(err_pipe[1]);
    out_fd = out_pipe[0];
    err_fd = err_pipe[0];
}

CgiProcess::~CgiProcess() {
    if (child > 0) {
        ::kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    if (out_fd >= 0) close(out_fd);
    if (err_fd >= 0) close(err_fd);
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
}

void CgiProcess::kill_now() {
    if (child > 0) ::kill(child, SIGKILL);
}

CgiResult CgiProcess::wait(double timeout_seconds) {
    CgiResult result;
    const double deadline = now_seconds() + timeout_seconds;
    // Drain both pipes until the child has closed them (it ended), or the time is up.
    while (out_fd >= 0 || err_fd >= 0) {
        pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
        double left = deadline - now_seconds();
        if (left <= 0) {
            ::kill(child, SIGKILL);
            result.timed_out = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(left * 1000) + 1) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char chunk[65536];
            ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                (i == 0 ? result.out : result.err).append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                (i == 0 ? out_fd : err_fd) = -1;
            }
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    child = -1;
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

CgiResult run_cgi(const CgiCall& call, double timeout_seconds) {
    CgiProcess process(call);
    return process.wait(timeout_seconds);
}

void add_passthrough_variables(std::vector<std::pair<std::string, std::string>>& environment) {
    for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) environment.emplace_back(name, value);
    }
}

std::vector<std::pair<std::string, std::string>> multipart_environment(const std::string& boundary,
                                                                       const std::string& length) {
    std::vector<std::pair<std::string, std::string>> environment = {
        {"REQUEST_METHOD", "POST"},
        {"CONTENT_TYPE", "multipart/form-data; boundary=" + boundary},
        {"CONTENT_LENGTH", length},
        {"GATEWAY_INTERFACE", "CGI/1.1"},
    };
    add_passthrough_variables(environment);
    return environment;
}

std::vector<std::pair<std::string, std::string>> get_environment(const char* query) {
    std::vector<std::pair<std::string, std::string>> environment = {
        {"REQUEST_METHOD", "GET"},
        {"GATEWAY_INTERFACE", "CGI/1.1"},
    };
    if (query) environment.emplace_back("QUERY_STRING", query);
    add_passthrough_variables(environment);
    return environment;
}
