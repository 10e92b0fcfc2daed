// The fuzzing build's process exit: unwinds to the fuzz target instead of ending the process.
#include "cgi/cgi_request.h"
#include "fuzz/fuzz_support.h"

void cgi::cgi_exit(int status) {
    throw CgiExitCalled{status};
}
