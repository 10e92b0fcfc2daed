// The application's start-up trace channel, built before main and destroyed at exit.
#pragma once

#include "trace/trace_log.h"

// Start-up log with the tag "Quenby": an empty trace file in the working directory while the
// program runs, except for a GET, which makes none.
extern cgi::TraceLog startup_trace;
