// NullTrace: a trace channel with the same write operation as TraceLog, which discards everything.
#pragma once

class NullTrace {
  public:
    // Neither formats nor reads its arguments. The format attribute keeps call sites checked.
    void log(const char* /*format*/, ...) const __attribute__((format(printf, 2, 3))) {}
};
