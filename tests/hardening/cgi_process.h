// Runs the built apply.cgi as a web server would: its own environment, argument 0, the body on
// standard input, a working directory, and optional limits; collects output and how it ended.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

struct CgiCall {
    std::string program;                 // path of the executable
    std::vector<std::string> arguments;  // argument 0 first; empty means {program}
    std::vector<std::pair<std::string, std::string>> environment;  // the whole environment
    std::string body;                                              // standard input
    std::string working_dir;
    long file_size_limit = -1;  // RLIMIT_FSIZE in bytes (SIGXFSZ ignored); -1: none
    bool unprivileged = false;  // when run as root, without root's power over permission bits
};

struct CgiResult {
    std::string out;
    std::string err;
    int exit_status = -1;    // valid when the process exited
    int signal = 0;          // the signal that ended it, or 0
    bool timed_out = false;  // killed after the time limit
};

// A started apply.cgi process; the destructor kills and reaps it if it still runs.
class CgiProcess {
  public:
    explicit CgiProcess(const CgiCall& call);
    ~CgiProcess();
    CgiProcess(const CgiProcess&) = delete;
    CgiProcess& operator=(const CgiProcess&) = delete;

    pid_t pid() const { return child; }
    void kill_now();
    // Waits up to `timeout_seconds` (then kills it) and returns how it ended.
    CgiResult wait(double timeout_seconds = 120);

  private:
    pid_t child = -1;
    int out_fd = -1;  // read ends of the output and error pipes
    int err_fd = -1;
    std::string scratch;  // holds the file for standard input
};

// Starts the process and waits for it.
CgiResult run_cgi(const CgiCall& call, double timeout_seconds = 120);

// The CGI environment of a multipart POST, plus the variables passed through.
std::vector<std::pair<std::string, std::string>> multipart_environment(const std::string& boundary,
                                                                       const std::string& length);
// The environment of a request without a body (a GET), with the query string if any.
std::vector<std::pair<std::string, std::string>> get_environment(const char* query);
// Variables passed through from the test's own environment (sanitizer options, PATH).
void add_passthrough_variables(std::vector<std::pair<std::string, std::string>>& environment);
