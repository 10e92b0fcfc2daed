// Plumbing shared by the fuzz targets: input splitting, the CGI environment, standard input
// and the exit hook that turns the library's process end into an exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cgi/cgi_limits.h"

// The targets name the library's parts without the namespace.
namespace cgi {}
using namespace cgi;

// Thrown by the fuzzing build's cgi_exit instead of ending the process, so that one input that
// the library refuses (an unparsable multipart part) does not stop the fuzzing run.
struct CgiExitCalled {
    int status;
};

// Stops the run with a message when an invariant of the library does not hold. Unlike assert
// it stays active in every build type, so the replay runner catches the same faults.
[[noreturn]] void fuzz_fail(const char* condition, const char* file, int line);
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : fuzz_fail(#condition, __FILE__, __LINE__))

// Reads a fuzz input front to back: lines first (the CGI variables), the rest as the body.
class InputReader {
  public:
    InputReader(const std::uint8_t* data, std::size_t size)
        : rest(reinterpret_cast<const char*>(data), size) {}
    // The bytes up to the next '\n' (not included); the whole rest when there is none.
    std::string_view line();
    std::string_view remainder() const { return rest; }

  private:
    std::string_view rest;
};

// Sets an environment variable to `value` as a process environment can hold it: cut at the
// first NUL byte.
void set_cgi_variable(const char* name, std::string_view value);
// Removes every variable the library reads, so that no input sees the previous one's.
void clear_cgi_variables();

// Makes `data` the whole of standard input (descriptor 0 and the stdin stream), positioned at
// its start. The backing file is created once and reused, so no descriptor leaks per input.
void feed_stdin(std::string_view data);

// Text that a C string from the input may carry: `bytes` cut at the first NUL.
std::string c_text(std::string_view bytes);

// The CONTENT_LENGTH that the multipart targets send for an input's length line and body. An
// empty line means the body's true length; any other text is passed on as the client sent it,
// so lengths that lie in both directions, negative and huge ones reach the request. One
// exception keeps the fuzzer fast: a length that overstates the body by more than
// kFuzzLengthLieCap but is still accepted (at most MAX_BODY_SIZE) becomes body +
// kFuzzLengthLieCap. It takes the same short-read path without a buffer of up to 128 MiB per
// input; the black-box table sends the full-size lie.
inline constexpr long long kFuzzLengthLieCap = 65536;
std::string declared_length(std::string_view declared, std::size_t body_size);
