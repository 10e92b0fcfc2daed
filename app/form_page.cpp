// The application form page: the empty form, or the form shown again with one message.
#include <cstdio>

#include "app/application.h"
#include "app/page_frame.h"
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

void print_form(const char* name, const char* mail, const char* resume, const char* interest,
                const char* message) {
    write_page_start(stdout, PAGE_TITLE);
    put("<img src=\"logo.jpg\">\n"
        "<font bgcolor=\"#504030\">\n");
    put_with_value("<h2>", PAGE_TITLE, "</h2>\n");
    if (message) put_with_value("<h2>", message, "</h2>\n");
    put_with_value("<form name=\"frm\" method=\"post\" enctype=\"multipart/form-data\" action=\"",
                   form_action, "?\">\n");
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
        "<p><b>Name:&nbsp;</b>\n"
        "</td>\n"
        "<td bgcolor=\"#EEDDCC\">\n");
    put_with_value("<input type=\"text\" name=\"name\" size=64 value=\"", name, "\">\n");
    put(ROW_BREAK);
    put("</td>\n"
        "<td align=right bgcolor=\"#EEDDCC\">\n"
        "<p><b>Email address:&nbsp;</b>\n"
        "</td>\n"
        "<td bgcolor=\"#EEDDCC\">\n");
    put_with_value("<input type=\"test\" name=\"mail\" size=64 value=\"", mail, "\">\n");
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
        "<p><b>What I like to work on:&nbsp;</b>\n"
        "</td>\n"
        "<td bgcolor=\"#EEDDCC\">\n"
        "<textarea name=\"interest\" cols=45 rows=10\">\n");
    put_with_value("", interest, "\n");
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
        "<p><b>Resume:&nbsp;</b>\n"
        "</td>\n"
        "<td bgcolor=\"#EEDDCC\">\n");
    put_with_value(
        "<input type=\"file\" size=50 height=4 name=\"resume\" "
        "accept=\"application/msword, text/html\" value=\"",
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
        "<p>\n"
        "</td>\n"
        "<td bgcolor=\"#EEDDCC\">\n"
        "<br>&nbsp;&nbsp;<br>\n"
        "</td>\n"
        "</tr></table>\n"
        "</td>\n"
        "</tr></table>\n"
        "</form>\n");
    write_page_end(stdout);
}
