// Helpers of the hardening tests: request bodies, temporary store trees and their snapshots.
#include "hardening_support.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

std::string multipart_body(const std::vector<Part>& parts, const std::string& boundary,
                           const std::string& eol) {
    std::string body;
    for (const Part& part : parts) {
        body += "--" + boundary + eol;
        body += "Content-Disposition: form-data; name=\"" + part.name + "\"";
        if (part.file_name) body += "; filename=\"" + *part.file_name + "\"";
        body += eol;
        if (part.content_type) body += "Content-Type: " + *part.content_type + eol;
        body += eol + part.value + eol;
    }
    body += "--" + boundary + "--" + eol;
    return body;
}

std::vector<Part> application_parts(const std::string& name, const std::string& resume,
                                    const std::string& directory, const std::string& resume_file,
                                    const std::string& mail, const std::string& interest) {
    return {
        {"name", name, {}, {}},
        {"mail", mail, {}, {}},
        {"interest", interest, {}, {}},
        {"resume", resume, resume_file, "application/octet-stream"},
        {"directory", directory, {}, {}},
        {"sub", "Submit form", {}, {}},
    };
}

TempTree::TempTree(bool with_store) {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/hardening-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root = pattern;
    work = root + "/outer/work";
    store = work + "/people";
    fs::create_directories(work);
    if (with_store) fs::create_directory(store);
    // Traversable by an unprivileged child as well.
    for (const std::string& dir : {root, root + "/outer", work}) {
        fs::permissions(dir, fs::perms::all);
    }
    if (with_store) fs::permissions(store, fs::perms::all);
}

TempTree::~TempTree() {
    std::error_code ignored;
    // Read-only folders left by a test must not keep their contents from being removed.
    for (auto it = fs::recursive_directory_iterator(root, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(root, ignored);
}

Snapshot snapshot(const std::string& dir) {
    Snapshot all;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        std::string relative = fs::relative(entry.path(), dir).string();
        if (entry.is_directory()) {
            all[relative + "/"] = "";
        } else {
            all[relative] = read_file(entry.path().string());
        }
    }
    return all;
}

std::vector<std::string> changed_paths(const Snapshot& before, const Snapshot& after) {
    std::vector<std::string> changed;
    for (const auto& [path, bytes] : after) {
        auto old = before.find(path);
        if (old == before.end() || old->second != bytes) changed.push_back(path);
    }
    for (const auto& [path, bytes] : before) {
        if (!after.count(path)) changed.push_back(path);
    }
    return changed;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string binary_content(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    // A recognisable start that is not a line feed or NUL, so the resume check passes.
    if (!bytes.empty()) bytes[0] = 'R';
    return bytes;
}

std::string apply_cgi_path() {
    return APPLY_CGI_PATH;
}

CgiCall submission(const std::string& work, const std::vector<Part>& parts) {
    CgiCall call;
    call.program = apply_cgi_path();
    call.arguments = {"/cgi-bin/apply.cgi"};
    call.body = multipart_body(parts);
    call.environment = multipart_environment(kBoundary, std::to_string(call.body.size()));
    call.working_dir = work;
    return call;
}

bool is_thank_you(const CgiResult& result) {
    return result.out.find("Thank You!") != std::string::npos;
}

bool is_cant_create(const CgiResult& result) {
    return result.out.find("Can't create") != std::string::npos;
}
