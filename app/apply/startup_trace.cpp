// Definition of the application's start-up trace channel: linked into apply.cgi as an object,
// so it is built even though nothing refers to it.
#include "app/apply/startup_trace.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

// A GET shows a page and files nothing, and nothing writes to this channel on that path: there
// the trace file would only be made and removed again, a good part of the form's whole time.
bool shows_a_page_only() {
    const char* method = std::getenv("REQUEST_METHOD");
    return method && std::strcmp(method, "GET") == 0;
}

}  // namespace

cgi::TraceLog startup_trace =
    shows_a_page_only() ? cgi::TraceLog::without_file() : cgi::TraceLog("Quenby");

namespace {

// A run that the server ends (Apache sends SIGTERM to, or closes the output of, one it started
// before it refused the body) removes its empty trace file as a finished run does, then ends as
// the signal would.
void remove_empty_trace_and_end(int signal_number) {
    if (const char* path = startup_trace.path()) {
        struct stat st {};
        if (stat(path, &st) == 0 && st.st_size == 0) unlink(path);
    }
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

const bool trace_removed_on_termination = [] {
    if (startup_trace.path()) {
        for (int signal_number : {SIGTERM, SIGPIPE, SIGHUP})
            signal(signal_number, remove_empty_trace_and_end);
    }
    return true;
}();

}  // namespace
