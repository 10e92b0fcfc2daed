// Example program, as a CGI or a FastCGI application: counts the visits of one browser in a cookie named "visits" and answers
// with a small page written by the page helpers. ?reset=1 starts the count again.
#include <cstdio>
#include <cstdlib>

#include "cgi/cgi_request.h"
#include "cgi/serve.h"

using cgi::CgiRequest;

namespace {

constexpr long MAX_COUNT = 1000000000;

// The count a "visits" cookie holds; 0 for a cookie that holds no count.
long count_from(const char* text) {
    char* end = nullptr;
    const long count = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || count < 0 || count >= MAX_COUNT) return 0;
    return count;
}

int answer(CgiRequest& request) {
    long visits = 1;
    char previous[24];
    if (!request.get_value("reset") && request.get_cookie("visits", previous, sizeof previous)) {
        visits = count_from(previous) + 1;
    }

    // Cookies go out with the header, so they are set before the first line of the page.
    char count[24];
    std::snprintf(count, sizeof count, "%ld", visits);
    // Only the server reads the count: no script in the page needs it (HttpOnly), and a link
    // followed from another site still carries it, a form posted from there does not (Lax).
    cgi::CookieOptions options;
    options.http_only = true;
    options.same_site = cgi::SameSite::lax;
    request.SetCookie("visits", count, options);

    request.print_title("Visits");  // writes the header (with the cookie line) and opens the head
    request.print_keywords("example, cookie, counter");
    request.begin_body("bgcolor='white'");
    request.page_printf("<h1>Visits</h1>\n");
    request.page_printf("<p>This is visit number %ld from this browser.</p>\n", visits);
    request.page_printf("<p><a href='?reset=1'>Start again</a></p>\n");
    request.end_page();
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    return cgi::serve(argc, argv, answer);
}
