// POSIX implementation of the file operations used by the applicant store.
#include "platform/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
                          static_cast<unsigned long>(getpid()), counter++);
    return n >= 0 && static_cast<std::size_t>(n) < capacity;
}

// On a file system shared by several machines a temporary file may belong to a run on another
// machine, whose process id means nothing here: such a file counts as stale only when it has also
// not been written for this long (a run writes and renames its files within seconds).
constexpr time_t kSharedStaleSeconds = 15 * 60;

// Whether `dir` lies on a file system that other machines may write too (FUSE, as GlusterFS
// mounts are, NFS, SMB, Ceph).
bool is_shared_file_system(const char* dir) {
    constexpr long kFuse = 0x65735546, kNfs = 0x6969, kSmb2 = 0xfe534d42, kCifs = 0xff534d42,
                   kCeph = 0x00c36400;
    struct statfs info {};
    if (statfs(dir, &info) != 0) return true;  // unknown: the careful answer
    const long type = static_cast<long>(info.f_type);
    return type == kFuse || type == kNfs || type == kSmb2 || type == kCifs || type == kCeph;
}

bool unwritten_for(const char* path, time_t seconds) {
    struct stat st {};
    return lstat(path, &st) == 0 && time(nullptr) - st.st_mtime >= seconds;
}

// Removes `dir`/`file` when it is a temporary file of create_temp_file's form whose process no
// longer runs (a run killed while it wrote); another run's file in progress is left alone.
void remove_if_stale_temp(const char* dir, const char* file) {
    constexpr std::size_t kPrefixLength = sizeof TEMP_NAME_PREFIX - 1;
    if (std::strncmp(file, TEMP_NAME_PREFIX, kPrefixLength) != 0) return;
    char* end = nullptr;
    unsigned long pid = std::strtoul(file + kPrefixLength, &end, 16);
    if (end == file + kPrefixLength || *end != '-' || pid == 0) return;
    // kill with signal 0 only asks whether the process exists.
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) return;
    char path[4096];
    int n = std::snprintf(path, sizeof path, "%s/%s", dir, file);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof path) return;
    if (is_shared_file_system(dir) && !unwritten_for(path, kSharedStaleSeconds)) return;
    ::unlink(path);
}

// Whether a listing entry of `dir` is a folder other than "." and "..", looked up only when the
// listing does not say.
bool is_folder_entry(const char* dir, const dirent* entry) {
    if (entry->d_name[0] == '.' &&
        (entry->d_name[1] == '\0' || (entry->d_name[1] == '.' && entry->d_name[2] == '\0')))
        return false;
    if (entry->d_type != DT_UNKNOWN) return entry->d_type == DT_DIR;
    char path[4096];
    int n = std::snprintf(path, sizeof path, "%s/%s", dir, entry->d_name);
    struct stat st {};
    return n > 0 && static_cast<std::size_t>(n) < sizeof path && lstat(path, &st) == 0 &&
           S_ISDIR(st.st_mode);
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

void remove_stale_temp_files(const char* dir) {
    DIR* listing = opendir(dir);
    if (!listing) return;
    while (const dirent* entry = readdir(listing)) remove_if_stale_temp(dir, entry->d_name);
    closedir(listing);
}

void remove_stale_temp_files_below(const char* root, unsigned max_folders) {
    DIR* listing = opendir(root);
    if (!listing) return;
    // Most file systems count a folder's subfolders in its link count (2 + subfolders); where
    // it says less, one pass over the listing counts them.
    struct stat st {};
    unsigned long folders = 0;
    if (fstat(dirfd(listing), &st) == 0 && st.st_nlink > 2) {
        folders = static_cast<unsigned long>(st.st_nlink) - 2;
    } else {
        while (const dirent* entry = readdir(listing)) {
            if (is_folder_entry(root, entry)) ++folders;
        }
        rewinddir(listing);
    }
    // The root's own temporary files, and max_folders folders in a row, wrapping round to the
    // beginning of the listing, from a start that moves with the process id: runs with
    // successive ids visit successive stretches, so that every folder is reached within
    // folders / max_folders runs or so.
    const unsigned long start =
        folders > 0 ? static_cast<unsigned long>(getpid()) * max_folders % folders : 0;
    unsigned long index = 0;
    while (const dirent* entry = readdir(listing)) {
        remove_if_stale_temp(root, entry->d_name);
        if (folders == 0 || !is_folder_entry(root, entry)) continue;
        const unsigned long position = (index++ + folders - start) % folders;
        if (position >= max_folders) continue;
        char path[4096];
        int n = std::snprintf(path, sizeof path, "%s/%s", root, entry->d_name);
        if (n > 0 && static_cast<std::size_t>(n) < sizeof path) remove_stale_temp_files(path);
    }
    closedir(listing);
}

std::int64_t read_file_start(const char* path, void* data, std::size_t size) {
    UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) return -1;
    return read_at(fd.get(), data, size, 0);
}

long longest_file_name(const char* dir, long fallback) {
    long longest = pathconf(dir, _PC_NAME_MAX);
    return longest > 0 ? longest : fallback;
}

bool is_folder(const char* path) {
    struct stat st {};
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool file_system_space(const char* path, std::uint64_t* available, std::uint64_t* total) {
    struct statvfs info {};
    if (statvfs(path, &info) != 0) return false;
    const std::uint64_t unit = info.f_frsize ? info.f_frsize : info.f_bsize;
    *available = static_cast<std::uint64_t>(info.f_bavail) * unit;
    *total = static_cast<std::uint64_t>(info.f_blocks) * unit;
    return true;
}

UniqueFd open_for_append(const char* path) {
    return UniqueFd(::open(path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, kPlainFileMode));
}

bool create_empty_file(const char* path) {
    UniqueFd fd(::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, kPlainFileMode));
    return fd.valid();
}

bool can_open_for_reading(const char* path) {
    UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
    return fd.valid();
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

bool flush_file_data(int fd) {
    // fdatasync skips timestamps only; a file's new size is part of what it writes.
    while (::fdatasync(fd) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool flush_directory(const char* path) {
    UniqueFd dir(::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return false;
    while (::fsync(dir.get()) != 0) {
        if (errno == EINVAL) return true;  // nothing this file system can flush
        if (errno != EINTR) return false;
    }
    return true;
}

std::int64_t file_size(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool truncate_to(int fd, std::int64_t size) {
    while (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool rename_file(const char* from, const char* to) {
    return ::rename(from, to) == 0;
}

bool remove_file(const char* path) {
    return ::unlink(path) == 0;
}

std::FILE* stream_for(UniqueFd fd, const char* mode) {
    std::FILE* stream = fdopen(fd.get(), mode);
    if (stream) fd.release();
    return stream;
}

}  // namespace platform
