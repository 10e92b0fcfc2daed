// The process's two trace channels, built before main and destroyed at exit.
#pragma once

#include "trace/null_trace.h"
#include "trace/trace_log.h"

// Start-up log with the tag "Quenby": its trace file in the working directory lasts as long as
// the process, since nothing writes to it.
extern TraceLog startup_trace;
// Receives every diagnostic message of the CGI library and discards it.
extern NullTrace cgi_trace;
