// Runs the built apply.cgi as a web server would: a clean CGI environment, argument 0, the body
// on standard input and a working directory; collects the response and the exit status.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

struct CgiCall {
    std::filesystem::path workdir;
    std::vector<std::string> env;  // "NAME=value" entries; nothing else is inherited
    std::string argv0 = "apply.cgi";
    std::string body;  // standard input
    // When not negative: RLIMIT_FSIZE in the child, with SIGXFSZ ignored, so that a write past
    // the limit fails with an error instead of killing the process.
    long long file_size_limit = -1;
    mode_t umask_value = 022;
};

struct CgiResult {
    std::string output;    // everything written to standard output
    int exit_status = -1;  // -1 when the process did not exit normally
};

// A started run; finish() waits for it.
class RunningCgi {
  public:
    // With `hold_input`, standard input is a pipe that stays empty until release_input(): the
    // program starts and then waits for its body, so that many runs can be let go at once.
    explicit RunningCgi(const CgiCall& call, bool hold_input = false);
    ~RunningCgi();
    RunningCgi(const RunningCgi&) = delete;
    RunningCgi& operator=(const RunningCgi&) = delete;
    void release_input();
    CgiResult finish();

  private:
    std::filesystem::path io_dir_;
    std::string held_body_;
    int input_pipe_ = -1;
    pid_t pid_ = -1;
};

CgiResult run_apply(const CgiCall& call);

// A GET with the given query string (none when empty).
CgiCall get_request(const std::filesystem::path& workdir, const std::string& query = "");
// A POST of a multipart body with the given boundary.
CgiCall multipart_request(const std::filesystem::path& workdir, const std::string& body,
                          const std::string& boundary);
