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

namespace {
// What page_printf and fatal_printf share: the header and the body start on demand, then the text.
int write_page_text(CgiRequest& request, const char* format, va_list args) {
    if (!request.header_sent) request.print_header();
    if (!request.body_started) request.begin_body("");
    return std::vprintf(format, args);
}
}  // namespace

int CgiRequest::page_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = write_page_text(*this, format, args);
    va_end(args);
    return written;
}

void CgiRequest::fatal_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_page_text(*this, format, args);
    va_end(args);
    end_page();
    cgi_exit(-1);
}

void CgiRequest::end_page() {
    if (body_started) std::printf("    </body>\n");
    std::printf("</html>\n");
    std::fflush(stdout);
}
