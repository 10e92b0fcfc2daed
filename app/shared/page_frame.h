// The frame every page of the program shares: its opening up to the centred content, with the
// escaped title, and its closing lines.
#pragma once

#include <cstdio>

// "<html>", the head with the title (HTML-escaped), the body's opening and "<center>".
void write_page_start(std::FILE* out, const char* title);
// The same for the pages an applicant reads (the form and the answers to it): the page's language,
// the viewport a phone lays it out in and the site's stylesheet, apply.css beside the program.
void write_applicant_page_start(std::FILE* out, const char* title);
// "</center>" and "</body>"; the caller's page ends with the request's end_page.
void write_page_end(std::FILE* out);
