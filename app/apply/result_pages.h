// The pages that answer a submission: "Thank You!", "Can't create", "too large" and "paused".
// Each writes page text only; the caller ends the page.
#pragma once

#include <string>

#include "app/apply/application.h"

// Starts an answer that says nothing was stored: one line naming what failed on standard error
// (the server's error log), then the CGI header with `status` ("500 Internal Server Error").
void report_failure(const Reply& reply, const char* status, const std::string& line);

// "Thank You!" with the applicant's name and mail and what happens next.
void print_thank_you(const char* name, const char* mail);

// "Can't create '<path>'".
void print_cant_create(const std::string& path);

// The answer to a body refused for its size: nothing was read and nothing stored.
void print_too_large();

// The answer to a submission refused because the store's disk is nearly full: nothing stored.
void print_store_full();
// The answer to a submission refused because the store's own file system is not mounted.
void print_store_unmounted();
