// Requests of the hardening tests, and checks of the applicant store's integrity shared by the
// fault and kill tests.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "cgi_run.h"
#include "test_files.h"

inline constexpr char kBoundary[] = "----HardeningBoundary7MA4YWxkTrZu0gW";

// The application form's parts for one complete submission.
std::vector<Part> application_parts(const std::string& name, const std::string& resume,
                                    const std::string& directory = "people",
                                    const std::string& resume_file = "cv.txt",
                                    const std::string& mail = "jo@example.org",
                                    const std::string& interest = "Systems work");

// A complete multipart submission of `parts` run in `work`.
CgiCall submission(const std::string& work, const std::vector<Part>& parts);

// Response shapes.
bool is_thank_you(const CgiResult& result);
bool is_cant_create(const CgiResult& result);

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
