// The library's way out of a request: the normal exit path, so that exit handlers still run.
#include <cstdio>
#include <cstdlib>

#include "cgi/cgi_request.h"

namespace cgi {

void cgi_exit(int status) {
    std::exit(status);
}

}  // namespace cgi
