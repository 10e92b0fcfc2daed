// Runs one request handler as a CGI program or as a FastCGI application, whichever the web
// server started the program as.
#pragma once

#include <functional>

#include "cgi_request.h"
#include "../trace/export.h"

namespace cgi {

/// A program's handling of one request: reads it from and answers it through `request`, and
/// returns the exit status of a CGI run (ignored under FastCGI).
using RequestHandler = std::function<int(CgiRequest& request)>;

/// True when the program was started as a FastCGI application: its standard input is a
/// listening socket, as FastCGI servers (lighttpd's mod_fastcgi, spawn-fcgi) hand it over.
VOCANTA_CGI_API bool started_by_fastcgi();

/// Serves requests with `handler`. In a CGI run: one request, read from the process's
/// environment and standard input, answered on standard output; returns the handler's status.
/// Under FastCGI (started_by_fastcgi()): one CgiRequest per request, one after another, each
/// built with `options`, its output buffered and passed on when the handler returns (or at
/// flush()), and nothing of one request left for the next; returns 0 once the web server closes
/// the socket. A request the library ends early (fatal_printf, an unreadable body under
/// UnreadableBody::end_process) ends there and the next one is served; an exception the handler
/// lets through is answered with 500 Internal Server Error when no header went out yet, written to
/// the server's error log, and the next request is served.
VOCANTA_CGI_API int serve(int argc, char* argv[], const RequestHandler& handler,
                          const RequestOptions& options = {});

}  // namespace cgi
