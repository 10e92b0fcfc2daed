// What a request keeps out of its public header: the readers of its body, and the storage of a
// form value that is not a short text.
#pragma once

#include "../platform/files.h"
#include "../platform/mapped_file.h"
#include "body_buffer.h"
#include "body_window.h"
#include "multipart_reader.h"

namespace cgi::detail {

struct BodyReaders {
    MultipartReader multipart;  // the read window, the delimiter and the spool policy
    BodyWindow urlencoded;      // the read window over a URL-encoded or raw body
};

struct HeldValue {
    BodyBuffer long_value;             // a value that outgrew the read window
    platform::UniqueFd upload_file;    // an upload in an unnamed spool file
    platform::MappedFile upload_view;  // that file mapped, once bytes() asked for it
};

}  // namespace cgi::detail
