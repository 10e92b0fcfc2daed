// The CGI library's trace channel, a static instance every program gets from the library.
#pragma once

#include "null_trace.h"

// Receives every diagnostic message of the CGI library and discards it.
extern NullTrace cgi_trace;
