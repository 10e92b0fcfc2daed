// A first program on the installed library, as the guide shows it: greets ?name=... with the name
// escaped, as a CGI program or a FastCGI application.
#include <vocanta_cgi/cgi/cgi_request.h>
#include <vocanta_cgi/cgi/serve.h>

int greet(cgi::CgiRequest& request) {
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
