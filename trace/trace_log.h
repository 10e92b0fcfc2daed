// TraceLog: a trace channel that writes each message to a file named after the process id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "export.h"

namespace cgi {

/// A trace channel that writes each message to a file of its own in the working directory,
/// named after the process id ("debug_<tag>_<pid in hex>.txt"), and can prefix a message with
/// the milliseconds since the previous timed one. Every write is flushed at once. When the file
/// cannot be created the channel is inert: its writes do nothing.
class VOCANTA_CGI_API TraceLog {
  public:
    /// A millisecond tick counter (32 bits, wrapping around).
    using TickSource = std::uint32_t (*)();

    /// Opens (creates or truncates) "debug_<pid in hex>.txt".
    TraceLog();
    /// Opens "debug_<tag>_<pid in hex>.txt"; a tag too long for a 255-byte name leaves the
    /// channel inert.
    explicit TraceLog(const char* tag);
    /// As above, with the millisecond tick taken from `tick` (lets tests drive the clock).
    TraceLog(const char* tag, TickSource tick);
    /// Closes the file, and removes it when nothing was ever written to it.
    ~TraceLog();

    /// A channel without a file, whose writes do nothing: for a run that has no use for its trace.
    static TraceLog without_file() { return TraceLog(NoFile{}); }

    TraceLog(const TraceLog&) = delete;             ///< one file, one owner
    TraceLog& operator=(const TraceLog&) = delete;  ///< one file, one owner

    /// Writes the formatted message and flushes; does nothing when the file is not open.
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    /// The same, prefixed with "%5d ms: " and the milliseconds since the previous timed write
    /// (since construction for the first).
    void log_timed(const char* format, ...) __attribute__((format(printf, 2, 3)));

    /// True when the trace file is open.
    bool is_open() const { return file != nullptr; }
    /// The trace file's name while it is open, else null.
    const char* path() const { return file ? file_name : nullptr; }

    /// Builds the trace file name for a tag (null for none) and a process id into `out`; false
    /// when the name does not fit `capacity` bytes (the name is then not usable).
    static bool file_name_for(char* out, std::size_t capacity, const char* tag, unsigned long pid);

  private:
    struct NoFile {};
    explicit TraceLog(NoFile) : tick_source(nullptr) {}
    VOCANTA_CGI_LOCAL void open(const char* tag);

    std::FILE* file = nullptr;
    char file_name[256] = {};
    std::uint32_t last_tick = 0;
    TickSource tick_source;
};

}  // namespace cgi
