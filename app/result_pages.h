// The pages that answer a submission: "Thank You!", "Can't create", "too large" and "paused".
// Each writes page text only; the caller ends the page.
#pragma once

#include <initializer_list>

#include "app/store_paths.h"

// "Thank You!" with the applicant's name and mail and links to the applicant page and the list.
void print_thank_you(const char* name, const char* mail, const StorePaths& paths);

// "Can't create '<path>'", the path given as pieces written one after the other.
void print_cant_create(std::initializer_list<const char*> path_pieces);

// The answer to a body refused for its size: nothing was read and nothing stored.
void print_too_large();

// The answer to a submission refused because the store's disk is nearly full: nothing stored.
void print_store_full();
