// Small file helpers for the black-box tests: temporary folders, whole-file reads and writes,
// and a listing of everything under a folder.
#pragma once

#include <filesystem>
#include <set>
#include <string>

// A new empty folder under the system's temporary directory.
std::filesystem::path make_temp_dir(const char* prefix);

// Removes its folder and everything in it when it goes out of scope.
class TempDir {
  public:
    explicit TempDir(const char* prefix = "apply-test") : path_(make_temp_dir(prefix)) {}
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);
// Every file and folder under `root`, as paths relative to it ("people/Jane/index.html").
// The start-up trace files (debug_*.txt) are left out.
std::set<std::string> tree_of(const std::filesystem::path& root);
// Permission bits of a file or folder.
unsigned mode_of(const std::filesystem::path& path);
