// Checks of the applicant store's integrity after hostile requests, store faults and kills: the
// answer's kind, the list's lines, whole applicant pages, files left under other names.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "application.h"

// Response shapes.
bool is_thank_you(const CgiResult& result);
bool is_cant_create(const CgiResult& result);
// The exit status apply.cgi owes an answer: 1 for the site's failures (status 500 or 503), so
// that the server's log tells them from refusals and filings (0).
int exit_status_for(const CgiResult& result);
// An error line without the ISO time it begins with ("2026-12-09T04:12:30Z "); "" when it has
// none.
std::string without_time(const std::string& line);

// The list page's lines; `whole` is false when the last one lacks its line feed.
std::vector<std::string> list_lines(const std::string& list, bool* whole);
// How many list lines link to `name` (the link text is the name).
int lines_for(const std::vector<std::string>& lines, const std::string& name);
// An applicant page that was written to its end.
bool applicant_page_complete(const std::string& page, const std::string& name);
// Files in the store that are neither the list, an applicant page nor one of `resume_names`:
// what a write left behind under another name.
std::vector<std::string> stray_files(const std::string& store,
                                     const std::set<std::string>& resume_names);
