// Fixed sizes of the application's buffers, each named and defined once.
#pragma once

#include <cstddef>

#include "cgi/cgi_limits.h"

// The application is built on the CGI library and names its parts without the namespace.
using namespace cgi;

// The store root, as given by the `directory` field (or the default).
inline constexpr std::size_t STORE_ROOT_SIZE = 1024;
// applicant_dir, applicant_page_path and list_path: at most 1023 bytes of text each.
inline constexpr std::size_t PATH_BUF_SIZE = 1024;
// The list line's link target: the escaped name.
inline constexpr std::size_t LINK_BUF_SIZE = 1024;
// The resume path: applicant_dir, "/" and resume_href (a file name of up to SCRATCH_SIZE - 1
// bytes), so it always fits.
inline constexpr std::size_t RESUME_PATH_SIZE = PATH_BUF_SIZE + SCRATCH_SIZE;
// A temporary file beside the applicant page or the resume: the folder plus a short name.
inline constexpr std::size_t TEMP_PATH_SIZE = PATH_BUF_SIZE + 64;
// One list line: the fixed markup, the link target and the HTML-escaped name (at most six
// bytes per name byte).
inline constexpr std::size_t LIST_LINE_SIZE = 32 + LINK_BUF_SIZE + 6 * PATH_BUF_SIZE;

// The longest values a submission may carry, in bytes. Real applicants stay far below them; a
// longer value is refused, so that no field can swell the store or an answer. A name and a
// resume file name each become one file name, which no file system allows above 255 bytes; an
// e-mail address has at most 254 (RFC 5321); 64 KiB of interest is a long letter.
inline constexpr std::size_t NAME_MAX_BYTES = 255;
inline constexpr std::size_t MAIL_MAX_BYTES = 254;
inline constexpr std::size_t INTEREST_MAX_BYTES = 65536;
inline constexpr std::size_t DIRECTORY_MAX_BYTES = STORE_ROOT_SIZE - 1;

// How many applicant folders one run searches for temporary files that killed runs left.
inline constexpr unsigned STALE_SWEEP_FOLDERS = 64;

// The store root used when the request carries no `directory` field.
inline constexpr char DEFAULT_STORE_ROOT[] = "people";
// The file name of the list page in the store root and of each applicant page.
inline constexpr char PAGE_FILE_NAME[] = "index.html";
