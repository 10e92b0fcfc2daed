// The CGI library's trace channel. Its own archive member, so that a program (or a fuzzing
// build) that defines its own channel links that one instead.
#include "trace/trace_channels.h"

namespace cgi {

NullTrace cgi_trace;

}  // namespace cgi
