// The shared page frame.
#include "app/shared/page_frame.h"

#include "cgi/html_escape.h"

namespace {

void write_title_and_body_start(std::FILE* out, const char* title) {
    std::fputs("<title>\n", out);
    cgi::write_html(out, title);
    std::fputs(
        "\n"
        "</title>\n"
        "</head>\n"
        "<body bgcolor=\"#FFEEDD\">\n"
        "<center>\n",
        out);
}

}  // namespace

void write_page_start(std::FILE* out, const char* title) {
    std::fputs(
        "<html>\n"
        "<head>\n",
        out);
    write_title_and_body_start(out, title);
}

void write_applicant_page_start(std::FILE* out, const char* title) {
    // Without a viewport a phone lays the page out 980 px wide and shrinks it to its screen.
    std::fputs(
        "<html lang=\"en\">\n"
        "<head>\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<link rel=\"stylesheet\" href=\"apply.css\">\n",
        out);
    write_title_and_body_start(out, title);
}

void write_page_end(std::FILE* out) {
    std::fputs(
        "</center>\n"
        "</body>\n",
        out);
}
