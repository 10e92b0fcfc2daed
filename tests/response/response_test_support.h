// Helpers of the response tests: a fresh request and the bytes written to standard output.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cgi/cgi_request.h"

// The tests name the library's parts without the namespace.
using namespace cgi;

// Clears the CGI variables a request reads, so that every test starts from a plain visit
// without form data or cookies, and returns an argument vector for the request.
inline char** plain_visit_arguments() {
    for (const char* name :
         {"REQUEST_METHOD", "CONTENT_TYPE", "CONTENT_LENGTH", "QUERY_STRING", "HTTP_COOKIE"}) {
        unsetenv(name);
    }
    static char program[] = "response_test";
    static char* argv[] = {program, nullptr};
    return argv;
}

class ResponseTest : public testing::Test {
  protected:
    CgiRequest request{1, plain_visit_arguments()};
};

// Every byte that `write` sends to standard output.
template <typename Write>
std::string captured_stdout(Write&& write) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    write();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}
