// An exclusive lock on a whole open file, shared by every process that locks the same file.
#pragma once

namespace platform {

// Takes the write lock on the whole file behind `fd` (open for writing), waiting for it when
// `wait`; false when it is not granted (errno EAGAIN or EACCES: another holds it).
bool lock_whole_file(int fd, bool wait);

// Holds a POSIX record lock (fcntl) on the whole file behind `fd` from construction until
// destruction. fcntl locks are honoured across processes and also on network file systems. The
// descriptor must be open for writing and must outlive the lock; closing it releases the lock.
class ExclusiveFileLock {
  public:
    // Waits until the lock is granted; held() tells whether it was.
    explicit ExclusiveFileLock(int fd);
    ~ExclusiveFileLock();
    ExclusiveFileLock(const ExclusiveFileLock&) = delete;
    ExclusiveFileLock& operator=(const ExclusiveFileLock&) = delete;

    bool held() const { return held_; }

  private:
    int fd_;
    bool held_ = false;
};

}  // namespace platform
