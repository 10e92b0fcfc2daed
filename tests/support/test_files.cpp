// File helpers for the black-box tests.
#include "test_files.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

fs::path make_temp_dir(const char* prefix, const fs::path& parent) {
    std::string pattern =
        ((parent.empty() ? fs::temp_directory_path() : parent) / prefix).string() + "-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Read-only folders left by a test must not keep their contents from being removed.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename());
    return names;
}

TempTree::TempTree(bool with_store)
    : TempDir("hardening"),
      root(path().string()),
      work(root + "/outer/work"),
      store(work + "/people") {
    fs::create_directories(work);
    if (with_store) fs::create_directory(store);
    for (const std::string& dir : {root, root + "/outer", work}) {
        fs::permissions(dir, fs::perms::all);
    }
    if (with_store) fs::permissions(store, fs::perms::all);
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::set<std::string> tree_of(const fs::path& root) {
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string relative = entry.path().lexically_relative(root).string();
        if (relative.rfind("debug_", 0) == 0) continue;
        entries.insert(relative);
    }
    return entries;
}

unsigned mode_of(const fs::path& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

Snapshot snapshot(const fs::path& dir) {
    Snapshot all;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        std::string relative = fs::relative(entry.path(), dir).string();
        if (entry.is_directory()) {
            all[relative + "/"] = "";
        } else {
            all[relative] = read_file(entry.path());
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

std::string binary_content(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    // A recognisable start that is not a line feed or NUL, so the resume check passes.
    if (!bytes.empty()) bytes[0] = 'R';
    return bytes;
}
