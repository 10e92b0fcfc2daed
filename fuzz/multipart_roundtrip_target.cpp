// Fuzz target: well-formed multipart bodies built from the input, parsed back. Every part must
// come out as it went in: an upload's value byte for byte, a text field's value without its
// trailing CR and LF bytes, names, file names and content-type lines unchanged.
//
// Input layout: one byte of flags (bit 0: bare LF line breaks instead of CR LF), then parts, each
// as: kind byte (bit 0: file name parameter, bit 1: Content-Type line), name length byte, name,
// file name length byte, file name, type length byte, type, two bytes of value length (little
// endian), value. Quotes and line breaks in header texts become 'x'.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cgi/cgi_request.h"
#include "fuzz/fuzz_support.h"

namespace {

struct SentPart {
    std::string name;
    std::string file_name;
    std::string type;
    std::string value;
    bool has_file_name = false;
    bool has_type = false;
    bool upload() const { return has_file_name || has_type; }
};

// Takes up to `count` bytes off the front of `input`.
std::string take(std::string_view& input, std::size_t count) {
    std::string bytes(input.substr(0, count));
    input.remove_prefix(bytes.size());
    return bytes;
}

std::size_t take_byte(std::string_view& input) {
    std::string byte = take(input, 1);
    return byte.empty() ? 0 : static_cast<unsigned char>(byte[0]);
}

// Header texts end at a quote or line break, so those bytes cannot be sent inside them.
std::string header_text(std::string text) {
    for (char& c : text) {
        if (c == '"' || c == '\r' || c == '\n') c = 'x';
    }
    return text;
}

std::vector<SentPart> parts_from(std::string_view input, bool bare_lf) {
    std::vector<SentPart> parts;
    while (!input.empty() && parts.size() < static_cast<std::size_t>(MAX_PAIRS)) {
        SentPart part;
        const std::size_t kind = take_byte(input);
        part.has_file_name = kind & 1;
        part.has_type = kind & 2;
        part.name = header_text(take(input, take_byte(input)));
        part.file_name = header_text(take(input, take_byte(input)));
        part.type = header_text(take(input, take_byte(input)));
        const std::size_t length = take_byte(input) | (take_byte(input) << 8);
        part.value = take(input, length);
        // With bare LF line breaks an upload ending in CR would end in CR LF on the wire, which
        // reads as the line break before the boundary line: no client sends such a body.
        if (bare_lf && part.upload() && !part.value.empty() && part.value.back() == '\r') {
            part.value.back() = 'x';
        }
        if (!part.upload()) {
            // A text field's leading line breaks go with the blank line that ends its headers,
            // and a text starting like a header line would be read as one: keep those out.
            if (!part.value.empty() && (part.value[0] == '\r' || part.value[0] == '\n')) {
                part.value[0] = 'x';
            }
            if (part.value.rfind("Content-Type:", 0) == 0) part.value[0] = 'x';
        }
        parts.push_back(std::move(part));
    }
    return parts;
}

// A boundary whose delimiter occurs nowhere in the parts: "RoundTrip" and one 'q' more than
// follow any "--RoundTrip" in them.
std::string boundary_for(const std::vector<SentPart>& parts) {
    const std::string stem = "--RoundTrip";
    std::size_t most = 0;
    for (const SentPart& part : parts) {
        for (const std::string* text : {&part.name, &part.file_name, &part.type, &part.value}) {
            for (std::size_t at = text->find(stem); at != std::string::npos;
                 at = text->find(stem, at + 1)) {
                std::size_t end = text->find_first_not_of('q', at + stem.size());
                most = std::max(most,
                                (end == std::string::npos ? text->size() : end) - at - stem.size());
            }
        }
    }
    return "RoundTrip" + std::string(most + 1, 'q');
}

std::string body_for(const std::vector<SentPart>& parts, const std::string& boundary,
                     const char* eol) {
    std::string body;
    for (const SentPart& part : parts) {
        body += "--" + boundary + eol;
        body += "Content-Disposition: form-data; name=\"" + part.name + "\"";
        if (part.has_file_name) body += "; filename=\"" + part.file_name + "\"";
        body += eol;
        if (part.has_type) body += "Content-Type: " + part.type + eol;
        body += eol + part.value + eol;
    }
    body += "--" + boundary + "--" + eol;
    return body;
}

std::string without_trailing_line_breaks(std::string value) {
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool bare_lf = data[0] & 1;
    const char* eol = bare_lf ? "\n" : "\r\n";
    const std::vector<SentPart> parts =
        parts_from(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), bare_lf);
    const std::string boundary = boundary_for(parts);
    const std::string body = body_for(parts, boundary, eol);

    clear_cgi_variables();
    set_cgi_variable("REQUEST_METHOD", "POST");
    set_cgi_variable("CONTENT_TYPE", "multipart/form-data; boundary=" + boundary);
    set_cgi_variable("CONTENT_LENGTH", std::to_string(body.size()));
    feed_stdin(body);

    char program[] = "apply.cgi";
    char* argv[] = {program, nullptr};
    try {
        CgiRequest request(1, argv);
        request.get_value("name");
        FUZZ_CHECK(request.pair_count == static_cast<std::int32_t>(parts.size()));
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const SentPart& sent = parts[i];
            const FormPair& got = request.pairs[i];
            // Texts that travel as C strings end at their first NUL.
            FUZZ_CHECK(std::string(got.name) == c_text(sent.name));
            FUZZ_CHECK(std::string(got.file_name) ==
                       (sent.has_file_name ? c_text(sent.file_name) : ""));
            FUZZ_CHECK(std::string(got.file_type) ==
                       (sent.has_type ? c_text("Content-Type: " + sent.type) : ""));
            std::string value(got.value, static_cast<std::size_t>(got.value_len));
            FUZZ_CHECK(value ==
                       (sent.upload() ? sent.value : without_trailing_line_breaks(sent.value)));
        }
    } catch (const CgiExitCalled&) {
        FUZZ_CHECK(false);  // a well-formed body is never refused
    }
    return 0;
}
