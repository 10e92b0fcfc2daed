// The body of a request whose pairs do not come from it (JSON, XML, plain text), read whole.
#include <new>

#include "cgi/body_readers.h"
#include "cgi/cgi_request.h"

namespace cgi {

std::string_view CgiRequest::raw_body() {
    if (raw_body_read) return raw_body_text;
    raw_body_read = true;
    // A form body belongs to the pair readers, and a refused one is never read.
    if (was_post_ || is_multipart_ || body_refused || content_length_ <= 0) return {};
    if (!open_body_window()) return {};
    detail::BodyWindow& window = readers->urlencoded;
    try {
        raw_body_text.reserve(static_cast<std::size_t>(content_length_));
        for (std::size_t left; (left = window.fill(1)) > 0;) {
            raw_body_text.append(window.data(), left);
            window.consume(left);
        }
        // Handed out without a word, a body cut short would pass for the whole one.
        note_body_end(raw_body_text.size(), static_cast<std::size_t>(content_length_));
    } catch (const std::bad_alloc&) {
        // Handed out empty, the body would pass for none at all: say it could not be held.
        raw_body_text.clear();
        raw_body_text.shrink_to_fit();
        body_refused = true;
    }
    return raw_body_text;
}

}  // namespace cgi
