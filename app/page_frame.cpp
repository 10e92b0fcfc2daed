// The shared page frame.
#include "app/page_frame.h"

#include "cgi/html_escape.h"

void write_page_start(std::FILE* out, const char* title) {
    std::fputs(
        "<html>\n"
        "<head>\n"
        "<title>\n",
        out);
    write_html(out, title);
    std::fputs(
        "\n"
        "</title>\n"
        "</head>\n"
        "<body bgcolor=\"#FFEEDD\">\n"
        "<center>\n",
        out);
}

void write_page_end(std::FILE* out) {
    std::fputs(
        "</center>\n"
        "</body>\n",
        out);
}
