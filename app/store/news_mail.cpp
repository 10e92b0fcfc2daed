// sendmail as a child process: the message on a pipe, what it says into an unnamed file.
#include "app/store/news_mail.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"

extern char** environ;

namespace news {

namespace {

// The first line of what the child wrote, at most 200 bytes.
std::string first_line(int fd) {
    char text[201] = {};
    const std::int64_t n = platform::read_at(fd, text, sizeof text - 1, 0);
    std::string line(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    line = line.substr(0, line.find('\n'));
    return line;
}

}  // namespace

std::string sendmail_path() {
    const char* path = std::getenv("APPLY_SENDMAIL");
    return path && *path ? path : "/usr/sbin/sendmail";
}

bool send_mail(const std::string& sendmail, const std::string& to, const std::string& message,
               int timeout_seconds, std::string& error) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        error = std::string("no pipe: ") + std::strerror(errno);
        return false;
    }
    platform::UniqueFd read_end(pipe_fds[0]), write_end(pipe_fds[1]);
    const char* tmp = std::getenv("TMPDIR");
    platform::UniqueFd said = platform::create_unnamed_file(tmp && *tmp ? tmp : "/tmp");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, read_end.get(), 0);
    if (said.valid()) {
        posix_spawn_file_actions_adddup2(&actions, said.get(), 1);
        posix_spawn_file_actions_adddup2(&actions, said.get(), 2);
    }
    std::string program = sendmail, option = "-i", recipient = to;
    char* argv[] = {program.data(), option.data(), recipient.data(), nullptr};
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, sendmail.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    read_end.close();
    if (spawned != 0) {
        error = "cannot run " + sendmail + ": " + std::strerror(spawned);
        return false;
    }
    // A sendmail that ends before reading it all makes the write fail (EPIPE, not a signal).
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    const bool written = platform::write_all(write_end.get(), message.data(), message.size());
    ::sigaction(SIGPIPE, &previous, nullptr);
    write_end.close();
    int status = 0;
    pid_t done = 0;
    for (int waited = 0; (done = ::waitpid(child, &status, WNOHANG)) == 0; ++waited) {
        if (waited >= timeout_seconds * 10) {
            ::kill(child, SIGKILL);  // our own child, by the id it was started with
            ::waitpid(child, &status, 0);
            error = sendmail + " did not finish within " + std::to_string(timeout_seconds) + " s";
            return false;
        }
        ::usleep(100 * 1000);
    }
    if (done < 0) {
        error = std::string("lost ") + sendmail + ": " + std::strerror(errno);
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && written) return true;
    error =
        sendmail + (WIFEXITED(status) ? " exited with status " + std::to_string(WEXITSTATUS(status))
                                      : std::string(" was ended by a signal"));
    if (said.valid())
        if (const std::string line = first_line(said.get()); !line.empty()) error += ": " + line;
    return false;
}

}  // namespace news
