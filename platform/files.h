// File operations the library and the store share: owned descriptors, exclusive temporary and
// unnamed files, whole reads and writes, flushes to stable storage and the size of an open file.
// Every call reports failure to its caller. (What only the store needs lives in app/store.)
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

// Writes all `size` bytes, continuing after short writes and interruptions; false on any error
// (a full disk, a file-size limit, an I/O error).
bool write_all(int fd, const void* data, std::size_t size);

// Appends `size` bytes of the regular file `from`, starting at `offset`, at the file position
// of `to`, in the kernel: the bytes never pass through this process's memory, and `from`'s own
// position stays. Returns the bytes copied: fewer than `size` when the file systems cannot copy
// between them (the caller writes the rest itself) or on an error such as a full disk.
std::size_t copy_file_bytes(int from, std::int64_t offset, int to, std::size_t size);

// Asks the kernel to begin writing `length` bytes of the open file from `offset` to the disk
// without waiting for them, so that a later flush finds less left to write. Only a hint: it
// reports nothing.
void start_writeback(int fd, std::int64_t offset, std::int64_t length);

// Waits until the data of the open file (and the size and block map needed to read it back) is
// on stable storage; false on an I/O error, after which the data may be lost.
bool flush_file_data(int fd);

// Size of the open file in bytes, or -1.
std::int64_t file_size(int fd);

// A buffered stream over an open descriptor; the stream takes ownership of it. Null on failure
// (the descriptor is then closed).
std::FILE* stream_for(UniqueFd fd, const char* mode);

}  // namespace platform
