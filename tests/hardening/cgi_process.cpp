// Runs apply.cgi in a child process with files for its standard streams.
#include "cgi_process.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

constexpr uid_t kNobody = 65534;

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

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Child side, between fork and exec: system calls only.
[[noreturn]] void exec_child(const CgiCall& call, const std::string& scratch, char* const* argv,
                             char* const* envp) {
    int in = open((scratch + "/in").c_str(), O_RDONLY);
    int out = open((scratch + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open((scratch + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(126);
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
        // Root writes through any permission bits; a plain user is what a web server runs.
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(126);
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
    std::fflush(nullptr);
    child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) exec_child(call, scratch, argv.data(), envp.data());
}

CgiProcess::~CgiProcess() {
    if (child > 0) {
        ::kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
}

void CgiProcess::kill_now() {
    if (child > 0) ::kill(child, SIGKILL);
}

CgiResult CgiProcess::wait(double timeout_seconds) {
    CgiResult result;
    int status = 0;
    const double deadline = now_seconds() + timeout_seconds;
    for (;;) {
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0) throw std::runtime_error("waitpid failed");
        if (now_seconds() > deadline) {
            ::kill(child, SIGKILL);
            waitpid(child, &status, 0);
            result.timed_out = true;
            break;
        }
        timespec pause{0, 200000};
        nanosleep(&pause, nullptr);
    }
    child = -1;
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.out = read_file(scratch + "/out");
    result.err = read_file(scratch + "/err");
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
