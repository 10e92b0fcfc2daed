// The generated HTML page about one applicant, stored in the applicant's folder.
#pragma once

#include <cstdio>

// Writes the applicant page to `out`; false when the stream reports a write error.
bool write_applicant_page(std::FILE* out, const char* name, const char* mail, const char* interest,
                          const char* resume_href);
