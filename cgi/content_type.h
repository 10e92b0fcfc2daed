// Reading CONTENT_TYPE: which body reader a request needs, and a multipart body's boundary.
#pragma once

#include <string>

namespace cgi::detail {

// True when `content_type` names a multipart/form-data body with a boundary parameter; the
// boundary text then goes into `boundary`. Read as HTTP and MIME write a media type: the type
// in any case, parameters in any order with optional spaces around ';' and '=', a quoted
// boundary unquoted (a '\' escapes the byte after it). A type that starts with exactly
// "multipart/form-data; boundary" (29 characters) followed by a boundary with no ';' and no
// quote is read as everything after the 30th character, spaces included.
bool multipart_boundary(const char* content_type, std::string& boundary);

}  // namespace cgi::detail
