// A program that keeps a trace file of its own through the installed library's trace classes.
#include <vocanta_cgi/trace/trace_channels.h>
#include <vocanta_cgi/trace/trace_log.h>

int main() {
    cgi::TraceLog trace("consumer");
    trace.log("%s\n", "ran");
    cgi::cgi_trace.log("discarded %d\n", 1);
    return trace.is_open() ? 0 : 1;
}
