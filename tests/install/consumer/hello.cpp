// A first CGI program on the installed library: greets ?name=... with the name escaped.
#include <vocanta_cgi/cgi/cgi_request.h>
#include <vocanta_cgi/cgi/html_escape.h>

#include <cstdio>

int main(int argc, char* argv[]) {
    cgi::CgiRequest request(argc, argv);
    const char* name = request.get_value("name");
    request.print_title("Hello");
    request.begin_body("");
    request.page_printf("<p>Hello, ");
    cgi::write_html(stdout, name ? name : "stranger");
    request.page_printf("!</p>\n");
    request.end_page();
    return 0;
}
