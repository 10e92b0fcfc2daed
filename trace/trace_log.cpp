// TraceLog: file-backed trace channel with millisecond deltas.
#include "trace/trace_log.h"

#include <cstdarg>

#include "platform/platform.h"

namespace cgi {

TraceLog::TraceLog() : tick_source(platform::millisecond_tick) {
    open(nullptr);
}

TraceLog::TraceLog(const char* tag) : tick_source(platform::millisecond_tick) {
    open(tag);
}

TraceLog::TraceLog(const char* tag, TickSource tick) : tick_source(tick) {
    open(tag);
}

TraceLog::~TraceLog() {
    if (!file) return;
    // An empty trace file tells nothing; left behind, one would pile up per run for ever. The
    // file was created empty, so its write position is all that was written to it.
    bool empty = std::fflush(file) == 0 && std::ftell(file) == 0;
    std::fclose(file);
    if (empty) std::remove(file_name);
}

bool TraceLog::file_name_for(char* out, std::size_t capacity, const char* tag, unsigned long pid) {
    int n = tag ? std::snprintf(out, capacity, "debug_%s_%lX.txt", tag, pid)
                : std::snprintf(out, capacity, "debug_%lX.txt", pid);
    return n >= 0 && static_cast<std::size_t>(n) < capacity;
}

void TraceLog::open(const char* tag) {
    last_tick = tick_source();
    // A tag too long for the name buffer leaves the channel inert rather than opening a cut name.
    if (!file_name_for(file_name, sizeof file_name, tag, platform::process_id())) return;
    file = std::fopen(file_name, "w");
}

void TraceLog::log(const char* format, ...) {
    if (!file) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fflush(file);
}

void TraceLog::log_timed(const char* format, ...) {
    if (!file) return;
    std::uint32_t now = tick_source();
    // Unsigned difference survives the counter's wrap-around; printed as a signed number.
    std::fprintf(file, "%5d ms: ", static_cast<int>(now - last_tick));
    last_tick = now;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fflush(file);
}

}  // namespace cgi
