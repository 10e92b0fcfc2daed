// The generated HTML page about one applicant, stored in the applicant's folder.
#pragma once

#include <cstddef>
#include <cstdio>

// The applicant page's fixed first lines, and the fixed lines that follow its title (the name).
// They tell an applicant page from a list page, which only ever holds link lines.
inline constexpr char APPLICANT_PAGE_OPENING[] =
    "<html>\n"
    "<head>\n"
    "<title>\n";
inline constexpr char APPLICANT_PAGE_AFTER_TITLE[] =
    "\n"
    "</title>\n"
    "</head>\n"
    "<body bgcolor=\"#FFEEDD\">\n"
    "<center>\n"
    "<table border=1 cellspacing=7 cellpadding=7><tr>\n";
// How much of a file is enough to recognise an applicant page: its opening, the longest escaped
// name ever stored (six bytes per byte of a name of up to 1023 bytes) and the lines after it.
inline constexpr std::size_t APPLICANT_PAGE_PROBE_SIZE = 8192;

// Writes the applicant page to `out`; false when the stream reports a write error.
bool write_applicant_page(std::FILE* out, const char* name, const char* mail, const char* interest,
                          const char* resume_href);

// True when `start`, the first `length` bytes of a file, begins as an applicant page does: the
// opening, a title line, then the lines after the title.
bool looks_like_applicant_page(const char* start, std::size_t length);
