/* A C CGI program that prints a fixed page: the exact bytes (header and page) that the
 * application prints for a GET of its form, built in from the application's own output. It is the
 * page-printing baseline for the request rate through the web server. */
#include <unistd.h>

#include "form_response.h"

int main(void) {
    const unsigned char* p = form_response;
    size_t left = sizeof form_response;
    while (left > 0) {
        ssize_t n = write(1, p, left);
        if (n <= 0) return 1;
        p += n;
        left -= (size_t)n;
    }
    return 0;
}
