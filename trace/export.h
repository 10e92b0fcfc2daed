// Marks the names the shared CGI library exports (the request and the trace channels);
// everything else in it stays hidden. Here, below the request, so that nothing of trace/ needs
// cgi/.
#pragma once

/// Gives a class or function of the public API default visibility, so that the shared library
/// (built with hidden visibility) exports it.
#define VOCANTA_CGI_API __attribute__((visibility("default")))
/// Keeps a member of an exported class out of the shared library's exports (private helpers).
#define VOCANTA_CGI_LOCAL __attribute__((visibility("hidden")))
