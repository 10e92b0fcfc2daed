// A file written under a temporary name beside its final place, flushed to stable storage and
// renamed into place only then, so that readers (and the disk after a crash) see the previous
// version or the whole new one, never a torn or empty file. Flushing the folder after the
// rename, which makes the new name itself durable, is the caller's part: one folder flush can
// cover several renames.
#pragma once

#include <cstdio>
#include <string>

#include "platform/files.h"

class StagedFile {
  public:
    StagedFile() = default;
    // Removes the temporary file unless it was renamed into place.
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Removes the temporary file (unless renamed into place), so that create may run again.
    void reset();
    // Creates the temporary file in `dir` (permissions 0666 less the umask).
    bool create(const std::string& dir);
    // Instead of creating one, makes the finished unnamed file open on `fd` the temporary file in
    // `dir`; false when it cannot be linked there (another file system, for one). The caller
    // flushes its data before commit.
    bool adopt(int fd, const std::string& dir);
    // The open descriptor, for raw writes.
    int fd() const { return fd_.get(); }
    // A buffered stream over the file, for formatted writes; null on failure.
    std::FILE* stream();
    // Ends the writing without a flush: a stream's buffered bytes go to the file, and any write
    // error is reported. The file stays open on data_fd() until close, so that its flush can run
    // beside others.
    bool end_writing();
    // The descriptor the file is open on, for a flush after end_writing; -1 when it is closed.
    int data_fd() const;
    // Closes the file, reporting any error (a delayed write error shows here).
    bool close();
    // end_writing, the data flushed to stable storage, close: reporting any error.
    bool finish();
    // Renames the finished file onto `final_path`.
    bool commit(const std::string& final_path);

  private:
    // The longest path the system accepts, and the temporary name.
    char temp_path_[4096 + 64] = {};
    platform::UniqueFd fd_;
    std::FILE* stream_ = nullptr;
    bool temp_exists_ = false;
};
