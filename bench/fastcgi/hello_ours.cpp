// The measured page on this library: greets ?name=... with the name escaped; a CGI program or a
// FastCGI application, whichever the web server started it as.
#include "cgi/cgi_request.h"
#include "cgi/serve.h"

static int greet(cgi::CgiRequest& request) {
    const char* name = request.get_value("name");
    request.print_title("Hello");
    request.begin_body("");
    request.page_printf("<p>Hello, ");
    request.write_html(name ? name : "stranger");
    request.page_printf("!</p>\n");
    request.end_page();
    return 0;
}

int main(int argc, char* argv[]) {
    return cgi::serve(argc, argv, greet);
}
