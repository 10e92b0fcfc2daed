// The applicant page: name, mail link, the work wanted, a link to the resume and to earlier
// submissions.
#include "app/store/applicant_page.h"

#include "app/store/field_limits.h"

#include "app/shared/page_frame.h"
#include "app/store/record.h"
#include "cgi/html_escape.h"

bool write_applicant_page(std::FILE* out, const char* name, const char* mail, const char* interest,
                          const char* resume_href, const std::vector<std::string>& earlier) {
    write_page_start(out, name);
    std::fputs(
        "<table border=1 cellspacing=7 cellpadding=7><tr>\n"
        "<td colspan=4 bgcolor=\"#DDCCBB\">\n"
        "<table border=0 cellspacing=7 cellpadding=7><tr>\n"
        "<td colspan=4 bgcolor=\"#EEDDCC\">\n"
        "<center>\n"
        "<h1>",
        out);
    cgi::write_html(out, name);
    std::fputs(
        "</h1>\n"
        "</center>\n"
        "<table border=0><tr>\n"
        "<td width=10 bgcolor=\"#F0E0D0\">&nbsp;</td>\n"
        "<td width=500 bgcolor=\"#F0E0D0\">\n"
        "Email: <a href=\"mailto:",
        out);
    cgi::write_link(out, mail);
    std::fputs("\">", out);
    cgi::write_html(out, mail);
    std::fputs(
        "</a>\n"
        "<p>\n",
        out);
    cgi::write_html(out, interest);
    std::fputs(
        "\n"
        "</td>\n"
        "</tr></table>\n"
        "<p>\n"
        "<center>\n"
        "<a href=\"",
        out);
    cgi::write_link(out, resume_href);
    std::fputs(
        "\">My resume is here</a>\n"
        "</center>\n",
        out);
    // Earlier submissions of the name, each kept whole in a folder named after its filing time.
    if (!earlier.empty()) {
        std::fputs("<p>\n<center>\nEarlier submissions:\n", out);
        for (const std::string& stamp : earlier) {
            std::fputs("<br><a href=\"", out);
            cgi::write_link(out, stamp.c_str());
            std::fputs("/\">", out);
            cgi::write_html(out, store::stamp_date(stamp).c_str());
            std::fputs("</a>\n", out);
        }
        std::fputs("</center>\n", out);
    }
    std::fputs(
        "<br>\n"
        "</td></tr></table>\n"
        "</td></tr></table>\n",
        out);
    write_page_end(out);
    return !std::ferror(out);
}
