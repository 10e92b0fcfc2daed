// HTML page helpers: the frame of a page (html, head, title, meta, body), each writing the
// response header first when it has not gone out yet.
#include <cstdarg>
#include <cstdio>

#include "cgi/cgi_request.h"

void CgiRequest::begin_html() {
    if (!header_sent) print_header();
    std::printf("<html>\n");
    std::printf("    <head>\n");
}

void CgiRequest::print_title(const char* title) {
    // On a fresh request the title also opens the html and head elements.
    if (!header_sent) begin_html();
    std::printf("        <title>\n");
    std::printf("            %s\n", title);
    std::printf("        </title>\n");
}

void CgiRequest::print_refresh(int seconds, const char* target) {
    if (!header_sent) print_header();
    std::printf("        <meta http-equiv='refresh' content='%d, %s'>\n", seconds, target);
}

void CgiRequest::print_keywords(const char* keywords) {
    if (!header_sent) print_header();
    std::printf("        <meta name='keywords'  content='%s'>\n", keywords);
}

void CgiRequest::begin_body(const char* attributes) {
    std::printf("    </head>\n");
    std::printf("    <body %s>\n", attributes);
    body_started = true;
}

int CgiRequest::page_printf(const char* format, ...) {
    if (!header_sent) print_header();
    if (!body_started) begin_body("");
    va_list args;
    va_start(args, format);
    const int written = std::vprintf(format, args);
    va_end(args);
    return written;
}

void CgiRequest::fatal_printf(const char* format, ...) {
    if (!header_sent) print_header();
    if (!body_started) begin_body("");
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    end_page();
    cgi_exit(-1);
}

void CgiRequest::end_page() {
    if (body_started) std::printf("    </body>\n");
    std::printf("</html>\n");
    std::fflush(stdout);
}
