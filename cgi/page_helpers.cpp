// HTML page helpers: the frame of a page (html, head, title, meta, body), each writing the
// response header first when it has not gone out yet.
#include <cstdarg>
#include <cstdio>

#include "cgi/cgi_request.h"

namespace cgi {

void CgiRequest::begin_html() {
    if (!header_sent_) print_header();
    std::printf("<html>\n");
    std::printf("    <head>\n");
    html_opened = true;
}

void CgiRequest::print_title(const char* title) {
    if (!html_opened) begin_html();
    std::printf("        <title>\n");
    std::printf("            %s\n", title);
    std::printf("        </title>\n");
}

void CgiRequest::print_refresh(int seconds, const char* target) {
    if (!html_opened) begin_html();
    std::printf("        <meta http-equiv='refresh' content='%d, %s'>\n", seconds, target);
}

void CgiRequest::print_keywords(const char* keywords) {
    if (!html_opened) begin_html();
    std::printf("        <meta name='keywords'  content='%s'>\n", keywords);
}

void CgiRequest::begin_body(const char* attributes) {
    // The head it closes is opened first, whichever helper a page begins with.
    if (!html_opened) begin_html();
    std::printf("    </head>\n");
    std::printf("    <body %s>\n", attributes);
    body_started_ = true;
}

namespace {
// What page_printf and fatal_printf share: the page opened up to the body on demand, then the
// text.
int write_page_text(CgiRequest& request, const char* format, va_list args) {
    if (!request.body_started()) request.begin_body("");
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

// The html element is closed whoever opened it: a program that writes its own page markup
// after the header still ends it here.
void CgiRequest::end_page() {
    if (!header_sent_) print_header();
    if (body_started_) std::printf("    </body>\n");
    std::printf("</html>\n");
    std::fflush(stdout);
}

}  // namespace cgi
