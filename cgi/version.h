// The version of the CGI library: the one place it is written (CMake reads it from here).
#pragma once

#include "../trace/export.h"

/// Major version: a program built against another major version must be changed to build.
#define VOCANTA_CGI_VERSION_MAJOR 3
/// Minor version: grows with every release that adds to the API without breaking it.
#define VOCANTA_CGI_VERSION_MINOR 0
/// Patch version: grows with every release that only mends faults.
#define VOCANTA_CGI_VERSION_PATCH 0
/// The version as one number, major * 10000 + minor * 100 + patch, for `#if` tests.
#define VOCANTA_CGI_VERSION                                                \
    (VOCANTA_CGI_VERSION_MAJOR * 10000 + VOCANTA_CGI_VERSION_MINOR * 100 + \
     VOCANTA_CGI_VERSION_PATCH)

namespace cgi {
/// The version of the library the program runs with ("3.0.0"), which may differ from the
/// VOCANTA_CGI_VERSION_... macros it was built with when the shared library was replaced.
VOCANTA_CGI_API const char* version();
}  // namespace cgi
