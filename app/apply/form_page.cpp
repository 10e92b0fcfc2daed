// The application form page: the empty form, or the form shown again with one message.
#include <cstdio>

#include "app/apply/application.h"
#include "app/shared/page_frame.h"
#include "app/shared/privacy_notice.h"
#include "cgi/html_escape.h"

namespace {

// Closes one row of the inner layout table and opens the next.
constexpr char ROW_BREAK[] =
    "</td>\n"
    "<td bgcolor=\"#EEDDCC\">\n"
    "<br>&nbsp;&nbsp;<br>\n"
    "</td>\n"
    "</tr>\n"
    "<tr>\n"
    "<td bgcolor=\"#EEDDCC\">\n"
    "<br>&nbsp;&nbsp;<br>\n";

void put(const char* text) {
    std::fputs(text, stdout);
}

// before, the escaped value, after: one line of the page.
void put_with_value(const char* before, const char* value, const char* after) {
    put(before);
    write_html(stdout, value);
    put(after);
}

}  // namespace

void print_form(const Reply& reply, const char* name, const char* mail, const char* resume,
                const char* interest,
                const char* message) {
    write_applicant_page_start(stdout, PAGE_TITLE);
    put("<img src=\"logo.jpg\" alt=\"Vocanta at Brenmoor\">\n"
        "<font bgcolor=\"#504030\">\n");
    put_with_value("<h2>", PAGE_TITLE, "</h2>\n");
    if (message) put_with_value("<h2>", message, "</h2>\n");
    put_with_value("<form name=\"frm\" method=\"post\" enctype=\"multipart/form-data\" action=\"",
                   reply.form_action, "?\">\n");
    put("<table border=1 cellspacing=3 cellpadding=3><tr>\n"
        "<td colspan=4 bgcolor=\"#DDCCBB\">\n"
        "<table border=0 cellspacing=0 cellpadding=0><tr>\n"
        "<td colspan=4 bgcolor=\"#EEDDCC\">\n"
        "<br>&nbsp;&nbsp;<br>\n"
        "</td>\n"
        "</tr>\n"
        "<tr>\n"
        "<td bgcolor=\"#EEDDCC\">\n"
        "<br>&nbsp;&nbsp;<br>\n"
        "</td>\n"
        "<td align=right bgcolor=\"#EEDDCC\">\n"
        "<p><b><label for=\"name\">Name:&nbsp;</label></b>\n"
        "</td>\n"
        "<td bgcolor=\"#EEDDCC\">\n");
    put_with_value(
        "<input type=\"text\" name=\"name\" id=\"name\" size=64 autocomplete=\"name\" required "
        "value=\"",
        name, "\">\n");
    put(ROW_BREAK);
    put("</td>\n"
        "<td align=right bgcolor=\"#EEDDCC\">\n"
        "<p><b><label for=\"mail\">Email address:&nbsp;</label></b>\n"
        "</td>\n"
        "<td bgcolor=\"#EEDDCC\">\n");
    put_with_value(
        "<input type=\"email\" name=\"mail\" id=\"mail\" size=64 autocomplete=\"email\" "
        "required value=\"",
        mail, "\">\n");
    put(ROW_BREAK);
    put("</td>\n"
        "<td bgcolor=\"#EEDDCC\" align=center colspan=2>\n"
        "<p>\n"
        "&nbsp\n"
        "<p>\n"
        "Please enter a description of the kind of work you\n"
        "are most interested in doing:\n"
        "<p>\n");
    put(ROW_BREAK);
    put("</td>\n"
        "<td align=right bgcolor=\"#EEDDCC\" valign=top>\n"
        "<p><b><label for=\"interest\">What I like to work on:&nbsp;</label></b>\n"
        "</td>\n"
        "<td bgcolor=\"#EEDDCC\">\n"
        "<textarea name=\"interest\" id=\"interest\" cols=45 rows=10\" required>\n");
    // An empty interest leaves the text area empty (its first line feed is not part of its
    // text), so that `required` stops a submission without one.
    if (*interest) put_with_value("", interest, "\n");
    put("</textarea>\n");
    put(ROW_BREAK);
    put("</td>\n"
        "<td bgcolor=\"#EEDDCC\" align=center colspan=2>\n"
        "<p>\n"
        "&nbsp\n"
        "<p>\n"
        "Use the following field to upload your resume:\n"
        "<p>\n");
    put(ROW_BREAK);
    put("</td>\n"
        "<td align=right bgcolor=\"#EEDDCC\">\n"
        "<p><b><label for=\"resume\">Resume:&nbsp;</label></b>\n"
        "</td>\n"
        "<td bgcolor=\"#EEDDCC\">\n");
    put_with_value(
        "<input type=\"file\" size=50 height=4 name=\"resume\" id=\"resume\" "
        "accept=\"application/msword, text/html, application/pdf, "
        "application/vnd.openxmlformats-officedocument.wordprocessingml.document, "
        "application/vnd.oasis.opendocument.text, text/plain, .pdf, .doc, .docx, .odt, .txt\" "
        "required value=\"",
        resume, "\">\n");
    put(ROW_BREAK);
    put("</td>\n"
        "<td bgcolor=\"#EEDDCC\">\n"
        "<br>&nbsp;<br>\n"
        "</td>\n"
        "<td bgcolor=\"#EEDDCC\">\n"
        "<input type=\"hidden\" name=\"directory\" value=\"people\">\n");
    put(ROW_BREAK);
    put("</td>\n"
        "<td bgcolor=\"#EEDDCC\" colspan=2 align=center>\n"
        "<br>&nbsp;<br>\n"
        "<input type=\"submit\" name=\"sub\" value=\"Submit form\">\n"
        "<p>\n");
    if (const char* notice = privacy_notice_address()) {
        put_with_value("<a href=\"", notice,
                       "\">Privacy notice: what happens to the data you send</a>\n");
    }
    put("</td>\n"
        "<td bgcolor=\"#EEDDCC\">\n"
        "<br>&nbsp;&nbsp;<br>\n"
        "</td>\n"
        "</tr></table>\n"
        "</td>\n"
        "</tr></table>\n"
        "</form>\n");
    write_page_end(stdout);
}
