// HTML page helpers: the frame of a page (html, head, title, meta, body), each writing the
// response header first when it has not gone out yet.
#include <cstdarg>
#include <cstdio>

#include "cgi/cgi_request.h"

namespace cgi {

void CgiRequest::begin_html() {
    if (!header_sent_) print_header();
    print("<html>\n");
    print("    <head>\n");
    html_opened = true;
}

void CgiRequest::print_title(const char* title) {
    if (!html_opened) begin_html();
    print("        <title>\n");
    print("            %s\n", title);
    print("        </title>\n");
}

void CgiRequest::print_refresh(int seconds, const char* target) {
    if (!html_opened) begin_html();
    print("        <meta http-equiv='refresh' content='%d, %s'>\n", seconds, target);
}

void CgiRequest::print_keywords(const char* keywords) {
    if (!html_opened) begin_html();
    print("        <meta name='keywords'  content='%s'>\n", keywords);
}

void CgiRequest::begin_body(const char* attributes) {
    // The head it closes is opened first, whichever helper a page begins with.
    if (!html_opened) begin_html();
    print("    </head>\n");
    print("    <body %s>\n", attributes);
    body_started_ = true;
}

// page_printf and fatal_printf open the page up to the body on demand, then write the text.
int CgiRequest::page_printf(const char* format, ...) {
    if (!body_started_) begin_body("");
    va_list args;
    va_start(args, format);
    const int written = print_list(format, args);
    va_end(args);
    return written;
}

void CgiRequest::fatal_printf(const char* format, ...) {
    if (!body_started_) begin_body("");
    va_list args;
    va_start(args, format);
    print_list(format, args);
    va_end(args);
    end_page();
    end_request(-1);
}

// The html element is closed whoever opened it: a program that writes its own page markup
// after the header still ends it here. Under FastCGI the end of the request passes the page on
// in the same record as what is still buffered; a flush here would cost a write of its own.
void CgiRequest::end_page() {
    if (!header_sent_) print_header();
    if (body_started_) print("    </body>\n");
    print("</html>\n");
    if (!persistent_) flush();
}

}  // namespace cgi
