// A GIF-drawing CGI program on the installed library: draws ?text=... in blue.
#include <vocanta_cgi/cgi/cgi_request.h>

int main(int argc, char* argv[]) {
    cgi::CgiRequest request(argc, argv);
    const char* text = request.get_value("text");
    request.print_gif_header();
    request.text_gif(text ? text : "", 3);
    return 0;
}
