// Names shared by the request handler, the form page, the applicant store and the result pages.
#pragma once

#include <cstdint>

#include "app/app_limits.h"
#include "cgi/cgi_request.h"

// The title of every page the program prints.
inline constexpr char PAGE_TITLE[] = "Vocanta at Brenmoor";

// The run's request object, set by main right after it is built.
extern CgiRequest* current_request;
// The last component of argument 0: the form posts back to it.
extern const char* form_action;
// The folder the store lives in, relative to the working directory.
extern char store_root[STORE_ROOT_SIZE];

// Writes the application form page (page text only; the caller closes the page). `message`
// may be null, which leaves its line out. Every value is HTML-escaped.
void print_form(const char* name, const char* mail, const char* resume, const char* interest,
                const char* message);

// Files a submission that passed every check and prints the result page, then ends the page.
// `root` must already have been accepted by store_root_is_refused and the name by the name
// checks of the handler.
void store_application(const char* name, const char* mail, const char* interest, FormPair& resume,
                       const char* resume_href, const char* root);
