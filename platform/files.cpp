// POSIX implementation of the file operations of the library and the store: descriptors,
// temporary and unnamed files, whole reads and writes, flushes.
#include "platform/files.h"

#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

namespace platform {

namespace {
// How many names create_temp_file tries before it gives up.
constexpr int kTempNameAttempts = 64;
constexpr mode_t kPlainFileMode = 0666;

// Composes the next temporary name in `dir`; false when it does not fit.
bool next_temp_name(const char* dir, char* path_out, std::size_t capacity) {
    static unsigned counter = 0;
    int n = std::snprintf(path_out, capacity, "%s/.tmp-%lx-%x", dir,
                          process_id(), counter++);
    return n >= 0 && static_cast<std::size_t>(n) < capacity;
}

}  // namespace

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

int UniqueFd::release() {
    return std::exchange(fd_, -1);
}

bool UniqueFd::close() {
    if (fd_ < 0) return false;
    // No retry on EINTR: on Linux the descriptor is gone whatever close returned.
    return ::close(release()) == 0;
}

UniqueFd create_temp_file(const char* dir, char* path_out, std::size_t capacity) {
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        if (!next_temp_name(dir, path_out, capacity)) break;
        // O_EXCL: never reuse or follow a file that is already there.
        int fd = ::open(path_out, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPlainFileMode);
        if (fd >= 0) return UniqueFd(fd);
        if (errno != EEXIST) break;
    }
    if (capacity > 0) path_out[0] = '\0';
    return UniqueFd();
}

UniqueFd create_unnamed_file(const char* dir) {
    return UniqueFd(::open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, kPlainFileMode));
}

bool link_as_temp_file(int fd, const char* dir, char* path_out, std::size_t capacity) {
    // Linking a descriptor by its /proc entry needs no privilege; AT_EMPTY_PATH does on most
    // kernels, so it is only the second choice (for a system without /proc).
    char proc_path[64];
    std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd);
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        if (!next_temp_name(dir, path_out, capacity)) break;
        if (::linkat(AT_FDCWD, proc_path, AT_FDCWD, path_out, AT_SYMLINK_FOLLOW) == 0) return true;
        if (errno == EEXIST) continue;
        if (::linkat(fd, "", AT_FDCWD, path_out, AT_EMPTY_PATH) == 0) return true;
        if (errno != EEXIST) break;
    }
    if (capacity > 0) path_out[0] = '\0';
    return false;
}

std::int64_t read_at(int fd, void* data, std::size_t size, std::int64_t offset) {
    char* p = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd, p + done, size - done, static_cast<off_t>(offset) + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

bool write_all(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t copy_file_bytes(int from, std::int64_t offset, int to, std::size_t size) {
    off_t at = static_cast<off_t>(offset);
    std::size_t done = 0;
    // copy_file_range first (a block clone where the file system has one); where the kernel
    // refuses it between these files (another file system: EXDEV; network and cluster file
    // systems: ENOTSUP, EOPNOTSUPP, EINVAL; an old kernel: ENOSYS), sendfile, which copies page
    // cache to page cache between any two files.
    bool ranges = true;
    while (done < size) {
        const ssize_t n = ranges ? ::copy_file_range(from, &at, to, nullptr, size - done, 0)
                                 : ::sendfile(to, from, &at, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && ranges &&
            (errno == EXDEV || errno == ENOTSUP || errno == EOPNOTSUPP || errno == EINVAL ||
             errno == ENOSYS)) {
            ranges = false;
            continue;
        }
        if (n <= 0) break;  // an error, or the source ended early: the caller writes the rest
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void start_writeback(int fd, std::int64_t offset, std::int64_t length) {
    sync_file_range(fd, static_cast<off64_t>(offset), static_cast<off64_t>(length),
                    SYNC_FILE_RANGE_WRITE);
}

bool flush_file_data(int fd) {
    // fdatasync skips timestamps only; a file's new size is part of what it writes.
    while (::fdatasync(fd) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

std::int64_t file_size(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

std::FILE* stream_for(UniqueFd fd, const char* mode) {
    std::FILE* stream = fdopen(fd.get(), mode);
    if (stream) fd.release();
    return stream;
}

}  // namespace platform
