// Fuzz target: well-formed multipart bodies built from the input, parsed back. Every part must
// come out as it went in: an upload's value byte for byte, a text field's value without its
// trailing CR and LF bytes, names, file names and content-type lines unchanged.
//
// The same must hold however the body streams in and wherever the uploads go: through a read
// window far smaller than the body, and with the uploads spooled into unnamed files, which leave
// no entry in their folder and come back through get_file exactly as sent.
//
// Input layout: one byte of flags (bit 0: bare LF line breaks instead of CR LF; bit 1: uploads
// spooled into the process's spool folder; bit 2: a read window of 1 + (flags >> 3) * 16 bytes,
// which the request enlarges to fit the boundary), then parts, each as: kind byte (bit 0: file
// name parameter, bit 1: Content-Type line), name length byte, name, file name length byte, file
// name, type length byte, type, two bytes of value length (little endian), value. Quotes and
// line breaks in header texts become 'x'.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "cgi/cgi_request.h"
#include "fuzz/fuzz_support.h"
#include "platform/files.h"

namespace {

namespace fs = std::filesystem;

// The folder that spooled uploads go to: made under the temporary folder on first use, removed
// when the process ends. Unnamed files never show in it.
class SpoolFolder {
  public:
    SpoolFolder() {
        std::string pattern = (fs::temp_directory_path() / "fuzz-spool-XXXXXX").string();
        if (!mkdtemp(pattern.data())) fuzz_fail("mkdtemp of the spool folder", __FILE__, __LINE__);
        path_ = pattern;
        // A file system without unnamed files makes the request keep every upload in memory.
        takes_unnamed_files_ = platform::create_unnamed_file(path()).valid();
    }
    ~SpoolFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    SpoolFolder(const SpoolFolder&) = delete;
    SpoolFolder& operator=(const SpoolFolder&) = delete;

    const char* path() const { return path_.c_str(); }
    bool takes_unnamed_files() const { return takes_unnamed_files_; }
    bool has_no_entries() const { return fs::is_empty(path_); }

  private:
    std::string path_;
    bool takes_unnamed_files_ = false;
};

const SpoolFolder& spool_folder() {
    static const SpoolFolder folder;
    return folder;
}

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

// The value a part must come back with: an upload byte for byte, a text field without its
// trailing line breaks.
std::string expected_value(const SentPart& sent) {
    return sent.upload() ? sent.value : without_trailing_line_breaks(sent.value);
}

// The texts and where each value is kept, looked at before any lookup maps a spooled upload.
void check_table(CgiRequest& request, const std::vector<SentPart>& parts, bool spooled) {
    FUZZ_CHECK(request.pair_count() == static_cast<std::int32_t>(parts.size()));
    int uploads = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const SentPart& sent = parts[i];
        const FormPair& got = (*request.pair_at(static_cast<std::int32_t>(i)));
        // Texts that travel as C strings end at their first NUL.
        FUZZ_CHECK(std::string(got.name) == c_text(sent.name));
        FUZZ_CHECK(std::string(got.file_name) ==
                   (sent.has_file_name ? c_text(sent.file_name) : ""));
        FUZZ_CHECK(std::string(got.file_type) ==
                   (sent.has_type ? c_text("Content-Type: " + sent.type) : ""));
        FUZZ_CHECK(got.value_len == static_cast<std::int32_t>(expected_value(sent).size()));
        const bool in_file = got.file() >= 0;
        // Only uploads are spooled, only when the program asked for it, and only the first
        // MAX_SPOOLED_UPLOADS of them: the rest are held in memory.
        const bool spools = spooled && sent.upload() && uploads < MAX_SPOOLED_UPLOADS;
        if (sent.upload()) ++uploads;
        FUZZ_CHECK(in_file == (spools && spool_folder().takes_unnamed_files()));
        if (in_file) {
            FUZZ_CHECK(got.value == nullptr);  // mapped on the first lookup
            FUZZ_CHECK(platform::file_size(got.file()) == got.value_len);
        } else {
            FUZZ_CHECK(got.value != nullptr);
        }
    }
}

// get_file finds the first pair of each name: its bytes, length, file name and content-type
// line, and upload_descriptor its file when it has one, positioned at the end.
void check_lookups(CgiRequest& request, const std::vector<SentPart>& parts) {
    std::set<std::string> looked_up;
    auto file_name = std::make_unique<char[]>(SCRATCH_SIZE);
    auto file_type = std::make_unique<char[]>(SCRATCH_SIZE);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const SentPart& sent = parts[i];
        const std::string name = c_text(sent.name);
        if (!looked_up.insert(name).second) continue;
        std::int32_t length = -1;
        const char* value = request.get_file(name.c_str(), &length, file_name.get(), SCRATCH_SIZE,
                                             file_type.get(), SCRATCH_SIZE);
        const std::string expected = expected_value(sent);
        FUZZ_CHECK(value != nullptr);
        FUZZ_CHECK(length == static_cast<std::int32_t>(expected.size()));
        FUZZ_CHECK(std::string(value, static_cast<std::size_t>(length)) == expected);
        FUZZ_CHECK(value[length] == '\0');
        FUZZ_CHECK(std::string(file_name.get()) ==
                   std::string((*request.pair_at(static_cast<std::int32_t>(i))).file_name));
        FUZZ_CHECK(std::string(file_type.get()) ==
                   std::string((*request.pair_at(static_cast<std::int32_t>(i))).file_type));
        const int fd = request.upload_descriptor(name.c_str());
        FUZZ_CHECK(fd == request.pair_at(static_cast<std::int32_t>(i))->file());
        if (fd >= 0) FUZZ_CHECK(lseek(fd, 0, SEEK_CUR) == length);
    }
}

// next_pair hands out every pair, mapping the spooled ones that no lookup reached; then every
// value must be in place, followed by its terminator.
void check_walk(CgiRequest& request, const std::vector<SentPart>& parts) {
    char name_out[SCRATCH_SIZE];
    char value_out[256];
    std::size_t walked = 0;
    while (request.next_pair(name_out, value_out)) {
        FUZZ_CHECK(walked < parts.size());
        FUZZ_CHECK(std::string(name_out) == c_text(parts[walked].name));
        ++walked;
    }
    FUZZ_CHECK(walked == parts.size());
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const FormPair& got = (*request.pair_at(static_cast<std::int32_t>(i)));
        const std::string expected = expected_value(parts[i]);
        FUZZ_CHECK(got.value != nullptr);
        FUZZ_CHECK(std::string(got.value, static_cast<std::size_t>(got.value_len)) == expected);
        FUZZ_CHECK(got.value[got.value_len] == '\0');
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t flags = data[0];
    const bool bare_lf = flags & 1;
    const bool spooled = flags & 2;
    const std::size_t window_bytes =
        (flags & 4) ? 1 + static_cast<std::size_t>(flags >> 3) * 16 : 0;
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
        CgiRequest request(1, argv,
                           RequestOptions{.unreadable_body = UnreadableBody::end_process,
                                          .skip_preamble = false,
                                          .pairs_by_method = false,
                                          .body_window = window_bytes});
        if (spooled) request.spool_uploads_in(spool_folder().path());
        request.collect_pairs();
        check_table(request, parts, spooled);
        check_lookups(request, parts);
        check_walk(request, parts);
        if (spooled) FUZZ_CHECK(spool_folder().has_no_entries());
    } catch (const CgiExitCalled&) {
        FUZZ_CHECK(false);  // a well-formed body is never refused
    }
    // The request's files are closed: still nothing in the folder.
    if (spooled) FUZZ_CHECK(spool_folder().has_no_entries());
    return 0;
}
