// Which names and store roots may become paths, and the composition of the store's paths.
#pragma once

#include "app/app_limits.h"

// A name or resume file name that may not be a single path component inside the store: "."
// or "..", one holding '/', '\', a control byte (0x01 to 0x1F, 0x7F) or an invisible format
// character in UTF-8 (the bidirectional controls U+061C, U+200E, U+200F, U+202A to U+202E and
// U+2066 to U+2069, and the zero-width U+200B to U+200D, U+2060 and U+FEFF), with which a name
// reads as another, "index.html", the name of the list page beside the applicant folders and
// of the applicant page beside the resume, or one beginning with ".tmp-", the store's temporary
// names. Empty text is not refused here; the callers decide.
bool component_is_refused(const char* text);

// A store root (the `directory` value) that could reach outside the working directory's tree:
// empty, absolute ("/...", "\..." or a drive such as "C:"), holding '\' or a control byte, or
// with an empty, "." or ".." component.
bool store_root_is_refused(const char* root);

// True when the accepted store root `root` is, or passes through, an applicant's folder: one
// whose index.html is an applicant page. Filing there would add folders inside that applicant's
// folder and append list lines to the applicant's page.
bool store_root_reaches_into_applicant(const char* root);

// The paths of one stored submission.
struct StorePaths {
    char applicant_dir[PATH_BUF_SIZE];        // root "/" name
    char applicant_page_path[PATH_BUF_SIZE];  // applicant_dir "/index.html"
    char list_path[PATH_BUF_SIZE];            // root "/index.html"
    char resume_path[RESUME_PATH_SIZE];       // applicant_dir "/" resume_href
    char link_buf[LINK_BUF_SIZE];             // the name as the list line's link target
};

// Fills every path of `paths`. False when any of them does not fit its buffer; nothing is ever
// cut short to make it fit.
bool compose_store_paths(StorePaths& paths, const char* root, const char* name,
                         const char* resume_href);

// The path a "Can't create" answer names when the composed paths cannot take the submission,
// checked before anything is written; null when nothing stands in the way. The applicant folder
// is refused when it is a store root of its own (its index.html is a list page, which an
// applicant page would replace), the resume's path when a folder stands there (the resume would
// fail only after the page and the list line are in).
const char* path_refused_before_writing(const StorePaths& paths);
