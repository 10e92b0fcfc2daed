// Definitions of the static trace channels. They live in one translation unit so that their
// construction order is fixed: startup_trace first, then cgi_trace; exit destroys them in
// reverse (cgi_trace first, startup_trace last), each destructor registered right after its
// constructor ran.
#include "trace/trace_channels.h"

TraceLog startup_trace("Quenby");
NullTrace cgi_trace;
