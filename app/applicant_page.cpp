// The applicant page: name, mail link, the work wanted and a link to the resume.
#include "app/applicant_page.h"
#include "app/app_limits.h"

#include <string_view>

#include "cgi/html_escape.h"

bool write_applicant_page(std::FILE* out, const char* name, const char* mail, const char* interest,
                          const char* resume_href) {
    std::fputs(APPLICANT_PAGE_OPENING, out);
    write_html(out, name);
    std::fputs(APPLICANT_PAGE_AFTER_TITLE, out);
    std::fputs(
        "<td colspan=4 bgcolor=\"#DDCCBB\">\n"
        "<table border=0 cellspacing=7 cellpadding=7><tr>\n"
        "<td colspan=4 bgcolor=\"#EEDDCC\">\n"
        "<center>\n"
        "<h1>",
        out);
    write_html(out, name);
    std::fputs(
        "</h1>\n"
        "</center>\n"
        "<table border=0><tr>\n"
        "<td width=10 bgcolor=\"#F0E0D0\">&nbsp;</td>\n"
        "<td width=500 bgcolor=\"#F0E0D0\">\n"
        "Email: <a href=\"mailto:",
        out);
    write_link(out, mail);
    std::fputs("\">", out);
    write_html(out, mail);
    std::fputs(
        "</a>\n"
        "<p>\n",
        out);
    write_html(out, interest);
    std::fputs(
        "\n"
        "</td>\n"
        "</tr></table>\n"
        "<p>\n"
        "<center>\n"
        "<a href=\"",
        out);
    write_link(out, resume_href);
    std::fputs(
        "\">My resume is here</a>\n"
        "</center>\n"
        "<br>\n"
        "</td></tr></table>\n"
        "</td></tr></table>\n"
        "</center>\n"
        "</body>\n",
        out);
    return !std::ferror(out);
}

bool looks_like_applicant_page(const char* start, std::size_t length) {
    const std::string_view text(start, length);
    const std::string_view opening(APPLICANT_PAGE_OPENING);
    if (text.substr(0, opening.size()) != opening) return false;
    // The title is the escaped name, which holds no line break and no '<'.
    return text.find(APPLICANT_PAGE_AFTER_TITLE, opening.size()) != std::string_view::npos;
}
