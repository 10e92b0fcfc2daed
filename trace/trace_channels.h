// The CGI library's trace channel, a static instance every program gets from the library.
#pragma once

#include "export.h"
#include "null_trace.h"

namespace cgi {

/// Receives every diagnostic message of the CGI library and discards it.
VOCANTA_CGI_API extern NullTrace cgi_trace;

}  // namespace cgi
