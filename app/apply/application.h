// Names shared by the request handler, the form page and the result pages.
#pragma once

#include "app/store/field_limits.h"
#include "app/store/applicant_store.h"
#include "cgi/cgi_request.h"

// The application is built on the CGI library and names its parts without the namespace.
using namespace cgi;

// The title of every page the program prints.
inline constexpr char PAGE_TITLE[] = "Vocanta at Brenmoor";

// What every answer of one run is written with: the request (its header) and the address the
// form posts back to (the last component of argument 0).
struct Reply {
    CgiRequest& request;
    const char* form_action;
};

// Writes the application form page (page text only; the caller closes the page). `message`
// may be null, which leaves its line out. Every value is HTML-escaped.
void print_form(const Reply& reply, const char* name, const char* mail, const char* resume,
                const char* interest, const char* message);

// Files a submission that passed every check into `store` (which has room) and answers: the
// header with its status, the result page, its end; a failure also as one line on standard error.
// True when the submission was filed.
bool store_application(const Reply& reply, const store::ApplicantStore& store,
                       const store::Submission& submission);
