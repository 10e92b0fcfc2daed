// File operations the applicant store needs: owned descriptors, exclusive temporary files,
// whole writes, flushes to stable storage, renames and the size of an open file. Every call
// reports failure to its caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace platform {

// Every temporary name the store gives a file begins with this; no stored file may.
inline constexpr char TEMP_NAME_PREFIX[] = ".tmp-";

// Owns one open file descriptor; closes it when it goes out of scope unless close() ran first.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Gives up ownership without closing.
    int release();
    // Closes now and reports whether the close succeeded (a delayed write error shows here).
    bool close();

  private:
    int fd_ = -1;
};

// Creates a new, empty file in `dir` under a name no other file has ("<dir>/.tmp-<pid>-<n>"),
// opened for writing with permissions 0666 less the umask, as a plain create gives. The path
// goes to `path_out`; returns an invalid descriptor when the file cannot be created or the
// path does not fit `capacity`.
UniqueFd create_temp_file(const char* dir, char* path_out, std::size_t capacity);

// Creates a file in `dir` that has no name in any folder, open for reading and writing: it
// vanishes when its last descriptor closes (also when the process is killed) unless
// link_as_temp_file gives it a name first. Invalid when the folder or its file system cannot
// hold one.
UniqueFd create_unnamed_file(const char* dir);

// Gives the unnamed file open on `fd` a temporary name in `dir`, of the same form as
// create_temp_file's; the file keeps its permissions (0666 less the umask at creation). The path
// goes to `path_out`. False when it cannot be linked there (another file system, for one).
bool link_as_temp_file(int fd, const char* dir, char* path_out, std::size_t capacity);

// Reads up to `size` bytes at `offset` without moving the file offset; the number read, fewer
// only at the end of the file, or -1 on an error.
std::int64_t read_at(int fd, void* data, std::size_t size, std::int64_t offset);

// Removes the temporary files in `dir` that create_temp_file made for processes that no longer
// run (a run killed while it wrote); another run's file in progress is left alone. On a file
// system shared with other machines (FUSE, NFS, SMB, Ceph) a file must also be unwritten for
// 15 minutes, since its process may run on another machine.
void remove_stale_temp_files(const char* dir);

// Clears stale temporary files across a store root in one bounded pass: those in `root` itself
// and in up to `max_folders` of its folders, taken in listing order from a start that changes
// from run to run, so that every folder is reached over some runs however many there are.
void remove_stale_temp_files_below(const char* root, unsigned max_folders);

// Reads up to `size` bytes from the start of the file at `path`; the number read, or -1 when it
// cannot be opened or read.
std::int64_t read_file_start(const char* path, void* data, std::size_t size);

// The longest file name the file system of folder `dir` allows, in bytes; `fallback` when it
// cannot be told.
long longest_file_name(const char* dir, long fallback);

// True when `path` names a folder (followed through symbolic links).
bool is_folder(const char* path);

// Free space (usable without root's privilege) and total size of the file system of `path`, in
// bytes; false when they cannot be had.
bool file_system_space(const char* path, std::uint64_t* available, std::uint64_t* total);

// Opens `path` for appending and reading, creating it (0666 less the umask) when it does not
// exist.
UniqueFd open_for_append(const char* path);

// Creates `path` as an empty file (0666 less the umask) when it does not exist; false when it
// can neither be created nor opened.
bool create_empty_file(const char* path);

// True when `path` can be opened for reading.
bool can_open_for_reading(const char* path);

// Writes all `size` bytes, continuing after short writes and interruptions; false on any error
// (a full disk, a file-size limit, an I/O error).
bool write_all(int fd, const void* data, std::size_t size);

// Waits until the data of the open file (and the size and block map needed to read it back) is
// on stable storage; false on an I/O error, after which the data may be lost.
bool flush_file_data(int fd);

// Waits until the entries of the folder `path` (names created, renamed, linked or removed in
// it) are on stable storage. A file system that cannot flush a folder at all (EINVAL) counts as
// flushed; false on an I/O error or when the folder cannot be opened.
bool flush_directory(const char* path);

// Size of the open file in bytes, or -1.
std::int64_t file_size(int fd);

// Cuts the open file back to `size` bytes.
bool truncate_to(int fd, std::int64_t size);

// Replaces `to` with `from` in one step (both in the same file system).
bool rename_file(const char* from, const char* to);

// Removes a file; false when it could not be removed.
bool remove_file(const char* path);

// A buffered stream over an open descriptor; the stream takes ownership of it. Null on failure
// (the descriptor is then closed).
std::FILE* stream_for(UniqueFd fd, const char* mode);

}  // namespace platform
