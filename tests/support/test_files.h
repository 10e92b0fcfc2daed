// File helpers for the black-box tests: temporary folders, whole-file reads and writes, listings
// and snapshots of a folder, and deterministic binary content.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

// A new empty folder under `parent`, by default the system's temporary directory.
std::filesystem::path make_temp_dir(const char* prefix, const std::filesystem::path& parent = {});

// Removes its folder and everything in it when it goes out of scope, read-only folders included.
class TempDir {
  public:
    explicit TempDir(const char* prefix = "apply-test", const std::filesystem::path& parent = {})
        : path_(make_temp_dir(prefix, parent)) {}
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // The names a listing of the folder shows (not recursive).
    std::vector<std::string> entries() const;

  private:
    std::filesystem::path path_;
};

// A temporary tree for runs of apply.cgi: root/outer/work is the working directory and
// work/people the store root (created unless told otherwise), all traversable by an
// unprivileged run. Removed with everything in it.
class TempTree : private TempDir {
  public:
    explicit TempTree(bool with_store = true);

    const std::string root;
    const std::string work;
    const std::string store;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);
// Every file and folder under `root`, as paths relative to it ("people/Jane/index.html").
// The start-up trace files (debug_*.txt) are left out.
std::set<std::string> tree_of(const std::filesystem::path& root);
// Permission bits of a file or folder.
unsigned mode_of(const std::filesystem::path& path);

// Every file (path -> bytes) and directory (path + "/" -> "") below `dir`, by relative path.
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot(const std::filesystem::path& dir);
// Paths added, removed or changed between two snapshots.
std::vector<std::string> changed_paths(const Snapshot& before, const Snapshot& after);

// Deterministic bytes of every value (NUL, CR, LF and '-' included) for uploads.
std::string binary_content(std::size_t size, unsigned seed);
