// fork/exec of apply.cgi with a file or a held pipe for standard input and pipes for its output.
#include "cgi_run.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "test_files.h"

namespace fs = std::filesystem;

namespace {

constexpr char kReserveVariable[] = "APPLY_FREE_SPACE_RESERVE";

bool sets(const std::vector<std::string>& env, const std::string& name) {
    const std::string prefix = name + "=";
    for (const std::string& e : env) {
        if (e.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

// Whether the file system of `dir` has less free space than the program's default reserve: the
// larger of 1 GiB and 5 % of its size.
bool short_of_space(const fs::path& dir) {
    struct statvfs info {};
    if (statvfs(dir.c_str(), &info) != 0) return false;
    const unsigned long long unit = info.f_frsize ? info.f_frsize : info.f_bsize;
    const unsigned long long total = info.f_blocks * unit;
    const unsigned long long reserve = std::max(1ULL << 30, total / 100 * 5);
    return info.f_bavail * unit < reserve;
}

// The call's environment, plus the test's own PATH, sanitizer options and free-space reserve
// unless it sets them.
std::vector<std::string> environment_of(const CgiCall& call) {
    std::vector<std::string> env = call.env;
    for (const char* name :
         {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", kReserveVariable}) {
        const char* value = std::getenv(name);
        if (value && !sets(env, name)) env.push_back(std::string(name) + "=" + value);
    }
    if (!sets(env, kReserveVariable) && short_of_space(call.workdir))
        env.push_back(std::string(kReserveVariable) + "=0");
    return env;
}

// Child side, between fork and exec: system calls only. `in` is the standard input to use.
// Output goes to pipes, as under a web server, so that a file-size limit applies to the
// store's files alone.
[[noreturn]] void exec_child(const CgiCall& call, int in, int out, int err, char* const* argv,
                             char* const* envp) {
    if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    close(in);
    close(out);
    close(err);
    if (chdir(call.workdir.c_str()) != 0) _exit(126);
    umask(call.umask_value);
    // The test process ignores SIGPIPE (see release_input); the program gets the default back.
    signal(SIGPIPE, SIG_DFL);
    if (call.file_size_limit >= 0) {
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
    execve(APPLY_CGI, argv, envp);
    _exit(127);
}

double now_seconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

CgiProcess::CgiProcess(const CgiCall& call, bool hold_input) : io_dir_(make_temp_dir("cgi-run")) {
    // A held body written to a program that stopped reading must not end the test.
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> arguments = call.argv;
    std::vector<std::string> environment = environment_of(call);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    // Every descriptor is close-on-exec, so that no other run inherits one of these ends.
    int in = -1;
    if (hold_input) {
        int in_pipe[2];
        if (pipe2(in_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        in = in_pipe[0];
        input_fd_ = in_pipe[1];
        held_body_ = call.body;
    } else {
        write_file(io_dir_ / "in", call.body);
        in = open((io_dir_ / "in").c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) throw std::runtime_error("cannot open the body");
    }
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        close(in);
        throw std::runtime_error("pipe failed");
    }
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        close(in);
        close(out_pipe[0]);
        close(out_pipe[1]);
        throw std::runtime_error("pipe failed");
    }
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
    std::fflush(nullptr);
    child_ = fork();
    if (child_ == 0) exec_child(call, in, out_pipe[1], err_pipe[1], argv.data(), envp.data());
    close(in);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (child_ < 0) throw std::runtime_error("fork failed");
}

CgiProcess::~CgiProcess() {
    close_fd(input_fd_);
    if (child_ > 0) {
        ::kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
    }
    close_fd(out_fd_);
    close_fd(err_fd_);
    std::error_code ignored;
    fs::remove_all(io_dir_, ignored);
}

void CgiProcess::release_input() {
    if (input_fd_ < 0) return;
    const char* p = held_body_.data();
    std::size_t left = held_body_.size();
    while (left > 0) {
        ssize_t n = write(input_fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the program stopped reading
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    close_fd(input_fd_);
}

void CgiProcess::kill_now() {
    if (child_ > 0) ::kill(child_, SIGKILL);
}

bool CgiProcess::ends_without_input(double timeout_seconds) {
    const double deadline = now_seconds() + timeout_seconds;
    while (now_seconds() < deadline) {
        siginfo_t info{};
        // WNOWAIT: look whether it has ended, but leave it to wait() to collect.
        if (waitid(P_PID, static_cast<id_t>(child_), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
            return false;
        if (info.si_pid == child_) return true;
        timespec pause{0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return false;
}

CgiResult CgiProcess::wait(double timeout_seconds) {
    release_input();
    CgiResult result;
    const double deadline = now_seconds() + timeout_seconds;
    // Drain both pipes until the child has closed them (it ended), or the time is up.
    while (out_fd_ >= 0 || err_fd_ >= 0) {
        pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
        double left = deadline - now_seconds();
        if (left <= 0) {
            ::kill(child_, SIGKILL);
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
                close_fd(i == 0 ? out_fd_ : err_fd_);
            }
        }
    }
    int status = 0;
    if (waitpid(child_, &status, 0) == child_) {
        if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    }
    child_ = -1;
    return result;
}

CgiResult run_cgi(const CgiCall& call, double timeout_seconds) {
    return CgiProcess(call).wait(timeout_seconds);
}

void set_env(CgiCall& call, const std::string& name, const std::string& value) {
    const std::string prefix = name + "=";
    for (std::string& e : call.env) {
        if (e.rfind(prefix, 0) == 0) {
            e = prefix + value;
            return;
        }
    }
    call.env.push_back(prefix + value);
}

CgiCall get_request(const fs::path& workdir, const char* query) {
    CgiCall call;
    call.workdir = workdir;
    call.env = {"GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=GET", "SCRIPT_NAME=/apply.cgi"};
    if (query) call.env.push_back(std::string("QUERY_STRING=") + query);
    return call;
}

CgiCall post_request(const fs::path& workdir, const std::string& body,
                     const std::string& content_type, const std::optional<std::string>& length) {
    CgiCall call;
    call.workdir = workdir;
    call.env = {"GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST", "SCRIPT_NAME=/apply.cgi",
                "CONTENT_TYPE=" + content_type,
                "CONTENT_LENGTH=" + length.value_or(std::to_string(body.size()))};
    call.body = body;
    return call;
}

CgiCall multipart_request(const fs::path& workdir, const std::string& body,
                          const std::string& boundary, const std::optional<std::string>& length) {
    return post_request(workdir, body, "multipart/form-data; boundary=" + boundary, length);
}
