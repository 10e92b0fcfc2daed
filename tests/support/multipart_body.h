// The one builder of multipart/form-data bodies in the tests: a part as a browser lays it out,
// and a whole body of parts with its closing line.
#pragma once

#include <optional>
#include <string>
#include <vector>

// One part of a multipart/form-data body.
struct Part {
    std::string name;
    std::string value;
    std::optional<std::string> file_name;     // set for an upload
    std::optional<std::string> content_type;  // media type of an upload; none: no Content-Type line
};

// One part with its boundary line before it, `eol` as every line break.
inline std::string part_text(const Part& part, const std::string& boundary,
                             const std::string& eol = "\r\n") {
    std::string text = "--" + boundary + eol;
    text += "Content-Disposition: form-data; name=\"" + part.name + "\"";
    if (part.file_name) text += "; filename=\"" + *part.file_name + "\"";
    text += eol;
    if (part.content_type) text += "Content-Type: " + *part.content_type + eol;
    text += eol + part.value + eol;
    return text;
}

// The closing delimiter line of a body.
inline std::string closing_line(const std::string& boundary, const std::string& eol = "\r\n") {
    return "--" + boundary + "--" + eol;
}

// The body a browser sends for `parts`, with `eol` as every line break.
inline std::string multipart_body(const std::vector<Part>& parts, const std::string& boundary,
                                  const std::string& eol = "\r\n") {
    std::string body;
    for (const Part& part : parts) body += part_text(part, boundary, eol);
    return body + closing_line(boundary, eol);
}
