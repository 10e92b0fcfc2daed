// The result pages printed to standard output after a submission.
#include "app/result_pages.h"

#include <cstdio>

#include "app/application.h"
#include "cgi/html_escape.h"

namespace {

void put(const char* text) {
    std::fputs(text, stdout);
}

// The lines every result page starts with, up to the opening of its centred content.
void print_page_start() {
    put("<html>\n"
        "<head>\n"
        "<title>\n");
    write_html(stdout, PAGE_TITLE);
    put("\n"
        "</title>\n"
        "</head>\n"
        "<body bgcolor=\"#FFEEDD\">\n"
        "<center>\n");
}

}  // namespace

void print_thank_you(const char* name, const char* mail, const StorePaths& paths) {
    print_page_start();
    put("<h1>Thank You!</h1>\n"
        "<table border=0><tr><td>\n"
        "Name: ");
    write_html(stdout, name);
    put("\n"
        "<br>\n"
        "Email: ");
    write_html(stdout, mail);
    put("\n"
        "<br>\n"
        "<a href=\"");
    write_link(stdout, paths.applicant_page_path);
    put("\">Web page for ");
    write_html(stdout, name);
    put("</a>\n"
        "<p>\n"
        "<a href=\"");
    write_link(stdout, paths.list_path);
    put("\">Entire list</a>\n"
        "</td></tr></table>\n"
        "</center>\n"
        "</body>\n");
}

void print_cant_create(std::initializer_list<const char*> path_pieces) {
    print_page_start();
    put("<h1>Can't create '");
    for (const char* piece : path_pieces) write_html(stdout, piece);
    put("'</h1>\n"
        "</center>\n"
        "</body>\n");
}

void print_too_large() {
    print_page_start();
    put("<h1>Submission too large</h1>\n"
        "<p>\n");
    std::printf(
        "Your submission is larger than the %ld bytes (128 MiB) this form accepts, so it was "
        "not read and nothing was stored. Please send a smaller resume.\n",
        static_cast<long>(MAX_BODY_SIZE));
    put("</center>\n"
        "</body>\n");
}

void print_store_full() {
    print_page_start();
    put("<h1>Applications paused</h1>\n"
        "<p>\n"
        "The disk that holds the applications is nearly full, so your application was not "
        "stored. Please try again later.\n"
        "</center>\n"
        "</body>\n");
}
