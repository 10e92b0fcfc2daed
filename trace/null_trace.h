// NullTrace: a trace channel with the same write operation as TraceLog, which discards everything.
#pragma once

namespace cgi {

/// A trace channel whose write does nothing: the CGI library sends its diagnostics to one
/// (cgi_trace). Nothing to link: the class lives in this header alone.
class NullTrace {
  public:
    /// Discards the message. Neither formats nor reads its arguments; the format attribute keeps
    /// the call sites checked all the same.
    void log(const char* /*format*/, ...) const __attribute__((format(printf, 2, 3))) {}
};

}  // namespace cgi
