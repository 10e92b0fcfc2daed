// Escaping of untrusted text on its way into HTML: one helper for page text, one for link targets.
#pragma once

#include <cstddef>
#include <cstdio>

#include "../trace/export.h"

namespace cgi {

/// Writes `text` to `out` with & < > " ' as &amp; &lt; &gt; &quot; &#39;; everything else as is.
VOCANTA_CGI_API void write_html(std::FILE* out, const char* text);

/// The same escaping into `out`; false (and empty text) when the result does not fit `capacity`.
VOCANTA_CGI_API bool html_escape_to(char* out, std::size_t capacity, const char* text);

/// Copies `text` into `out` as a relative link target: the characters CgiRequest::escape_percent
/// escapes, and also '%', '#', ':' and control bytes, become %XX, so the link always names the
/// stored file itself and can never be taken for a scheme such as "javascript:". False (and
/// empty text) when the escaped text does not fit `capacity`.
VOCANTA_CGI_API bool link_target_to(char* out, std::size_t capacity, const char* text);

/// Writes `text` to `out` escaped as link_target_to does, whatever its length.
VOCANTA_CGI_API void write_link(std::FILE* out, const char* text);

}  // namespace cgi
