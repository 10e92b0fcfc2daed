// Definition of the application's start-up trace channel: linked into apply.cgi as an object,
// so it is built even though nothing refers to it.
#include "app/startup_trace.h"

TraceLog startup_trace("Quenby");
