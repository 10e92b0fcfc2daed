// Where one request's bytes come from and go to: the process's own environment and standard
// streams in a CGI run, one FastCGI request's parameters and streams in persistent mode.
#pragma once

#include <cstddef>

namespace cgi::detail {

class Connection {
  public:
    // The request's variable `name`, or null; the text lives as long as the request.
    virtual const char* env(const char* name) const = 0;
    // Reads up to `size` body bytes: the number read, 0 at the end of the body, -1 on an error.
    virtual long read(char* out, std::size_t size) = 0;
    // Writes the bytes to the response, in order.
    virtual void write(const char* data, std::size_t size) = 0;
    // Passes what was written on to the web server.
    virtual void flush() = 0;
    // The descriptor the body is read from when it is one (standard input of a CGI run, which
    // may be a regular file the body is viewed in place), -1 otherwise.
    virtual int input_fd() const { return -1; }

  protected:
    ~Connection() = default;
};

// The process's environment, standard input and standard output (through the C stream, so that
// a program's own printf and the library's output keep their order).
Connection& process_connection();

// Thrown where a request ends early (fatal_printf, an unreadable body set to end the process)
// in persistent mode, where ending the process would drop every later request. Caught by the
// request loop only; deliberately not a std::exception.
struct RequestEnded {
    int status;
};

}  // namespace cgi::detail
