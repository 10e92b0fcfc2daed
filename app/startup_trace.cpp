// Definition of the application's start-up trace channel: linked into apply.cgi as an object,
// so it is built even though nothing refers to it.
#include "app/startup_trace.h"

#include <cstdlib>
#include <cstring>

namespace {

// A GET shows a page and files nothing, and nothing writes to this channel on that path: there
// the trace file would only be made and removed again, a good part of the form's whole time.
bool shows_a_page_only() {
    const char* method = std::getenv("REQUEST_METHOD");
    return method && std::strcmp(method, "GET") == 0;
}

}  // namespace

TraceLog startup_trace = shows_a_page_only() ? TraceLog::without_file() : TraceLog("Quenby");
