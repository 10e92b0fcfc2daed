// Session counter on this library: counts the requests of one browser session in a session
// cookie (gone when the browser closes), with ?reset=1 deleting it.
#include <cstdlib>
#include <string>

#include "cgi/cgi_request.h"
#include "cgi/serve.h"

static int answer(cgi::CgiRequest& request) {
    long count = 1;
    if (request.get_value("reset")) {
        request.delete_cookie("count");
        count = 0;
    } else {
        if (auto previous = request.cookie("count")) count = std::atol(previous->c_str()) + 1;
        request.SetCookie("count", std::to_string(count).c_str(),
                          {.http_only = true, .expiry = cgi::Expiry::session});
    }
    request.print_title("Counter");
    request.page_printf("<p>Request %ld of this session.</p>\n", count);
    request.end_page();
    return 0;
}

int main(int argc, char* argv[]) {
    return cgi::serve(argc, argv, answer);
}
