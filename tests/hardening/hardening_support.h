// Helpers of the hardening tests: request bodies, temporary store trees and their snapshots.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cgi_process.h"

// One part of a multipart/form-data body.
struct Part {
    std::string name;
    std::string value;
    std::optional<std::string> file_name;     // set for an upload
    std::optional<std::string> content_type;  // media type of an upload
};

inline constexpr char kBoundary[] = "----HardeningBoundary7MA4YWxkTrZu0gW";

// The body a browser sends for `parts`, with `eol` as every line break.
std::string multipart_body(const std::vector<Part>& parts, const std::string& boundary = kBoundary,
                           const std::string& eol = "\r\n");

// The application form's parts for one complete submission.
std::vector<Part> application_parts(const std::string& name, const std::string& resume,
                                    const std::string& directory = "people",
                                    const std::string& resume_file = "cv.txt",
                                    const std::string& mail = "jo@example.org",
                                    const std::string& interest = "Systems work");

// A temporary tree for runs of apply.cgi: root/outer/work is the working directory and
// work/people the store root (created unless told otherwise). Removed with everything in it.
class TempTree {
  public:
    explicit TempTree(bool with_store = true);
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    std::string root;
    std::string work;
    std::string store;
};

// Every file (path -> bytes) and directory (path + "/" -> "") below `dir`, by relative path.
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot(const std::string& dir);
// Paths added, removed or changed between two snapshots.
std::vector<std::string> changed_paths(const Snapshot& before, const Snapshot& after);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
// Deterministic bytes of every value (NUL, CR, LF and '-' included) for uploads.
std::string binary_content(std::size_t size, unsigned seed);

// The path of the program under test (a compile definition of the test build).
std::string apply_cgi_path();

// A complete multipart submission of `parts` run in `work`.
CgiCall submission(const std::string& work, const std::vector<Part>& parts);

// Response shapes.
inline constexpr char kHeader[] = "Content-type: text/html\n\n";
bool is_thank_you(const CgiResult& result);
bool is_cant_create(const CgiResult& result);
