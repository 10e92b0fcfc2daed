// The generated HTML page about one applicant, stored in the applicant's folder.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Writes the applicant page to `out`; false when the stream reports a write error. `earlier`
// holds the stamps of the name's earlier submissions, newest first: a page with any links each
// before its closing lines (a first submission's page has none).
bool write_applicant_page(std::FILE* out, const char* name, const char* mail, const char* interest,
                          const char* resume_href, const std::vector<std::string>& earlier);
