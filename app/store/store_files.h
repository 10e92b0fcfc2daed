// File operations only the applicant store needs: folders, links, renames, removals, the free
// space and inodes of the store's file system, and the clearing of files that killed runs left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

namespace store {

// Removes the temporary files in `dir` that create_temp_file made for processes that no longer
// run (a run killed while it wrote); another run's file in progress is left alone. On a file
// system shared with other machines (FUSE, NFS, SMB, Ceph) a file must also be unwritten for
// 15 minutes, since its process may run on another machine.
void remove_stale_temp_files(const std::string& dir);

// While a run stages files in an applicant folder it is entered in the root's register of runs
// (<root>/.tmp-runs/, a symbolic link named as a temporary file of this process, pointing at the
// folder's name). A later run clears the folders of entries whose process is gone, so stale files
// are found without listing the store root: the cost stays that of the runs in progress. The
// register folder is made by the first run and kept.
//
// A new applicant's run whose page is in place and durable, and that finds the store lock taken
// when it comes to add its list line, asks the holder to add the line for it: a second entry
// (ask_for_line) names the folder and the list's length when it asked. Whoever holds the lock
// next and waited for it appends the lines asked for with its own and flushes them together
// (one flush round for all, see filing.cpp).
class RunEntry {
  public:
    RunEntry(const std::string& root, const std::string& folder_name);
    // Leaves the register.
    ~RunEntry();
    RunEntry(const RunEntry&) = delete;
    RunEntry& operator=(const RunEntry&) = delete;

    // Asks for the folder's list line, the list being `list_size` bytes long now.
    void ask_for_line(std::int64_t list_size);

    // Whether this run made the register: it then holds no entry of a run that is gone.
    bool made_register() const { return made_register_; }

  private:
    std::string root_, folder_name_;
    std::string path_;  // empty when the entry could not be made
    std::string line_path_;  // the request for the line, once made
    bool made_register_ = false;
};

// A line asked for: the applicant folder, and the list's length when it was asked for (the
// line can only stand after that).
struct LineAskedFor {
    std::string folder;
    std::int64_t list_size = 0;
};
// The lines asked for in the root's register, one per folder.
std::vector<LineAskedFor> lines_asked_for(const std::string& root);

// Clears the applicant folders of the root's register entries whose runs are gone, and those
// entries.
void sweep_stale_runs(const std::string& root);

// The names in `dir` without "." and ".."; empty when it cannot be listed.
std::vector<std::string> names_in(const std::string& dir);

// Writes all `size` bytes at `offset`; false on any error.
bool write_all_at(int fd, const void* data, std::size_t size, std::int64_t offset);

// Reads up to `size` bytes from the start of the file at `path`; the number read, or -1 when it
// cannot be opened or read.
std::int64_t read_file_start(const std::string& path, void* data, std::size_t size);

// The longest file name the file system of folder `dir` allows, in bytes; `fallback` when it
// cannot be told.
long longest_file_name(const std::string& dir, long fallback);

// True when `path` names a folder (followed through symbolic links).
bool is_folder(const std::string& path);
// True when `path` exists (not followed through a final symbolic link).
bool exists(const std::string& path);

// Free space (usable without root's privilege) and total size of the file system of `path`, in
// bytes and in inodes; false when they cannot be had.
struct FileSystemSpace {
    std::uint64_t available_bytes = 0;
    std::uint64_t total_bytes = 0;
    std::uint64_t available_inodes = 0;
    std::uint64_t total_inodes = 0;
    std::uint64_t longest_name = 0;  // the longest file name allowed, in bytes; 0: not told
};
bool file_system_space(const std::string& path, FileSystemSpace* space);

// Opens `path` for appending and reading, creating it (0666 less the umask) when it does not
// exist.
platform::UniqueFd open_for_append(const std::string& path);

// The folder at `path` opened for reading (and flushing); invalid, with errno set, on failure.
platform::UniqueFd open_directory(const std::string& path);

// Creates `path` as an empty file (0666 less the umask) when it does not exist; false when it
// can neither be created nor opened.
bool create_empty_file(const std::string& path);

// Waits until the entries of the folder `path` (names created, renamed, linked or removed in
// it) are on stable storage. A file system that cannot flush a folder at all (EINVAL) counts as
// flushed; false on an I/O error or when the folder cannot be opened.
bool flush_directory(const std::string& path);

// Cuts the open file back to `size` bytes.
bool truncate_to(int fd, std::int64_t size);

// Replaces `to` with `from` in one step (both in the same file system).
bool rename_file(const std::string& from, const std::string& to);

// Gives the file `from` a second name `to` (a hard link); false when `to` exists.
bool link_file(const std::string& from, const std::string& to);

// Removes a file; false when it could not be removed.
bool remove_file(const std::string& path);

// The inode number of `path` (not followed through a final link), or 0 when it is missing.
std::uint64_t inode_of(const std::string& path);
// The modification time of `path` in seconds since the epoch, or -1.
std::int64_t modified_time(const std::string& path);

}  // namespace store
