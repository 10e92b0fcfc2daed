// Runs the built apply.cgi as a web server would: its own environment, its arguments, the body on
// standard input and a working directory, with optional limits; collects standard output,
// standard error and how the process ended. Also builds the requests the tests send.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "multipart_body.h"

struct CgiCall {
    std::filesystem::path workdir;
    // "NAME=value" entries. Nothing else is inherited but PATH and the sanitizer options, so
    // that the program's reports are not lost, and APPLY_FREE_SPACE_RESERVE. When neither the
    // call nor the test sets that and the working directory's file system has less free space
    // than the program's default reserve, the run gets no reserve: the tests must pass on a
    // nearly full disk or a small temporary file system too.
    std::vector<std::string> env;
    std::vector<std::string> argv = {"/cgi-bin/apply.cgi"};  // argument 0 first
    std::string body;                                        // standard input
    // When not negative: RLIMIT_FSIZE in bytes, with SIGXFSZ ignored, so that a write past the
    // limit fails with EFBIG instead of the signal ending the process.
    long long file_size_limit = -1;
    mode_t umask_value = 022;
    // When the tests run as root: without root's power over permission bits.
    bool unprivileged = false;
};

struct CgiResult {
    std::string out;         // standard output
    std::string err;         // standard error
    int exit_status = -1;    // valid when the process exited
    int signal = 0;          // the signal that ended it, or 0
    bool timed_out = false;  // killed after the time limit
};

// A started run; the destructor kills and reaps it if it still runs.
class CgiProcess {
  public:
    // With `hold_input`, standard input is a pipe that stays empty until release_input(): the
    // program starts and then waits for its body, so that many runs can be let go at once.
    explicit CgiProcess(const CgiCall& call, bool hold_input = false);
    ~CgiProcess();
    CgiProcess(const CgiProcess&) = delete;
    CgiProcess& operator=(const CgiProcess&) = delete;

    pid_t pid() const { return child_; }
    void release_input();
    void kill_now();
    // True when the program ends within `timeout_seconds` while held input is still held: it
    // answered without reading its body. The process is left for wait() to reap.
    bool ends_without_input(double timeout_seconds);
    // Releases held input, waits up to `timeout_seconds` (then kills it) and returns how it
    // ended.
    CgiResult wait(double timeout_seconds = 120);

  private:
    std::filesystem::path io_dir_;  // holds the file for standard input
    std::string held_body_;
    int input_fd_ = -1;  // write end of a held input pipe
    int out_fd_ = -1;    // read ends of the output and error pipes
    int err_fd_ = -1;
    pid_t child_ = -1;
};

// Starts the process and waits for it.
CgiResult run_cgi(const CgiCall& call, double timeout_seconds = 120);

// Sets or replaces one variable of the call's environment.
void set_env(CgiCall& call, const std::string& name, const std::string& value);

// A GET with the given query string (none when null).
CgiCall get_request(const std::filesystem::path& workdir, const char* query = nullptr);
// A POST of `body` with this content type; CONTENT_LENGTH is `length`, or the body's size when
// not given.
CgiCall post_request(const std::filesystem::path& workdir, const std::string& body,
                     const std::string& content_type,
                     const std::optional<std::string>& length = std::nullopt);
// A POST of a multipart body with the given boundary.
CgiCall multipart_request(const std::filesystem::path& workdir, const std::string& body,
                          const std::string& boundary,
                          const std::optional<std::string>& length = std::nullopt);


// What every HTML response starts with; an answer that nothing was stored names its status first.
inline constexpr char HTML_HEADER[] = "Content-type: text/html\n\n";
inline constexpr char CANT_CREATE_HEADER[] = "Status: 500 Internal Server Error\nContent-type: text/html\n\n";
