// The result pages printed to standard output after a submission.
#include "app/apply/result_pages.h"

#include <cstdio>

#include "app/apply/application.h"
#include "app/shared/time_stamp.h"
#include "app/shared/page_frame.h"
#include "cgi/html_escape.h"

namespace {

void put(const char* text) {
    std::fputs(text, stdout);
}

void print_page_start() {
    write_applicant_page_start(stdout, PAGE_TITLE);
}

}  // namespace

void report_failure(const Reply& reply, const char* status, const std::string& line) {
    // One line, whatever a client put into the path it names.
    std::string shown = line;
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    // The time first, as every error line has it: a server's log of the programs' standard
    // error (lighttpd's, fcgiwrap's) may add none.
    std::fprintf(stderr, "%s apply.cgi: %s\n", monitor::iso_now().c_str(), shown.c_str());
    std::fflush(stderr);
    std::printf("Status: %s\n", status);
    reply.request.print_header();
}

void print_thank_you(const char* name, const char* mail) {
    print_page_start();
    put("<h1>Thank You!</h1>\n"
        "<table border=0><tr><td>\n"
        "Name: ");
    write_html(stdout, name);
    put("\n"
        "<br>\n"
        "Email: ");
    write_html(stdout, mail);
    // No links to the stored pages: they are for staff, and lead an applicant to a login.
    put("\n"
        "<br>\n"
        "<p>\n"
        "What happens next: our staff read your application and answer you by e-mail at the "
        "address above.\n"
        "</td></tr></table>\n");
    write_page_end(stdout);
}

void print_cant_create(const std::string& path) {
    print_page_start();
    put("<h1>Can't create '");
    write_html(stdout, path.c_str());
    put("'</h1>\n");
    write_page_end(stdout);
}

void print_too_large() {
    print_page_start();
    put("<h1>Submission too large</h1>\n"
        "<p>\n");
    std::printf(
        "Your submission is larger than the %ld bytes (128 MiB) this form accepts, so it was "
        "not read and nothing was stored. Please send a smaller resume.\n",
        static_cast<long>(MAX_BODY_SIZE));
    write_page_end(stdout);
}

void print_store_unmounted() {
    print_page_start();
    put("<h1>Applications paused</h1>\n"
        "<p>\n"
        "The disk that holds the applications cannot be reached, so your application was not "
        "stored. Please try again later.\n");
    write_page_end(stdout);
}

void print_store_full() {
    print_page_start();
    put("<h1>Applications paused</h1>\n"
        "<p>\n"
        "The disk that holds the applications is nearly full, so your application was not "
        "stored. Please try again later.\n");
    write_page_end(stdout);
}
