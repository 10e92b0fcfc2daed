// POSIX implementation of the store's own file operations.
#include "app/store/store_files.h"

#include "platform/platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace store {

namespace {

constexpr mode_t kPlainFileMode = 0666;
constexpr char kRunRegister[] = ".tmp-runs";

// On a file system shared by several machines a temporary file may belong to a run on another
// machine, whose process id means nothing here: such a file counts as stale only when it has also
// not been written for this long (a run writes and renames its files within seconds).
constexpr time_t kSharedStaleSeconds = 15 * 60;

// Whether `dir` lies on a file system that other machines may write too (FUSE, as GlusterFS
// mounts are, NFS, SMB, Ceph).
bool is_shared_file_system(const std::string& dir) {
    constexpr long kFuse = 0x65735546, kNfs = 0x6969, kSmb2 = 0xfe534d42, kCifs = 0xff534d42,
                   kCeph = 0x00c36400;
    struct statfs info {};
    if (statfs(dir.c_str(), &info) != 0) return true;  // unknown: the careful answer
    const long type = static_cast<long>(info.f_type);
    return type == kFuse || type == kNfs || type == kSmb2 || type == kCifs || type == kCeph;
}

bool unwritten_for(const std::string& path, time_t seconds) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && time(nullptr) - st.st_mtime >= seconds;
}

// Whether `dir`/`file` is a temporary name of create_temp_file's form whose process no longer
// runs (a run killed while it wrote); another run's file in progress is not.
bool is_stale_temp(const std::string& dir, const char* file) {
    constexpr std::size_t kPrefixLength = sizeof platform::TEMP_NAME_PREFIX - 1;
    if (std::strncmp(file, platform::TEMP_NAME_PREFIX, kPrefixLength) != 0) return false;
    char* end = nullptr;
    unsigned long pid = std::strtoul(file + kPrefixLength, &end, 16);
    if (end == file + kPrefixLength || *end != '-' || pid == 0) return false;
    // kill with signal 0 only asks whether the process exists.
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) return false;
    return !is_shared_file_system(dir) || unwritten_for(dir + "/" + file, kSharedStaleSeconds);
}

// The target of the symbolic link `path`, or empty.
std::string link_target(const std::string& path) {
    char target[4096];
    ssize_t n = readlink(path.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return {};
    return std::string(target, static_cast<std::size_t>(n));
}

// Clears the folder a register entry names (a single component below `root`) and the entry.
void clear_entry(const std::string& root, const std::string& entry_path) {
    // A single component below the root, or "." for the root itself.
    std::string folder = link_target(entry_path);
    if (!folder.empty() && folder.find('/') == std::string::npos && folder != "..")
        remove_stale_temp_files(folder == "." ? root : root + "/" + folder);
    ::unlink(entry_path.c_str());
}

// The name of this process's entry in the register of runs.
std::string own_entry_name() {
    char name[64];
    std::snprintf(name, sizeof name, "%s%lx-run", platform::TEMP_NAME_PREFIX,
                  platform::process_id());
    return name;
}

}  // namespace

std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    DIR* listing = opendir(dir.c_str());
    if (!listing) return names;
    while (const dirent* entry = readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    closedir(listing);
    return names;
}

bool write_all_at(int fd, const void* data, std::size_t size, std::int64_t offset) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        offset += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void remove_stale_temp_files(const std::string& dir) {
    for (const std::string& name : names_in(dir)) {
        if (is_stale_temp(dir, name.c_str())) ::unlink((dir + "/" + name).c_str());
    }
}

RunEntry::RunEntry(const std::string& root, const std::string& folder_name)
    : root_(root), folder_name_(folder_name) {
    const std::string register_dir = root + "/" + kRunRegister;
    std::string path = register_dir + "/" + own_entry_name();
    // The register goes when its last entry does (see below): it may vanish in between.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (::symlink(folder_name.c_str(), path.c_str()) == 0) {
            path_ = std::move(path);
            return;
        }
        if (errno == ENOENT) {
            made_register_ = ::mkdir(register_dir.c_str(), 0777) == 0;
        } else if (errno == EEXIST) {
            // A killed process that had this id left its entry: its folder is cleared first.
            clear_entry(root, path);
        } else {
            return;
        }
    }
}

RunEntry::~RunEntry() {
    // The register itself stays for the next run: made once, not by every run.
    if (!line_path_.empty()) ::unlink(line_path_.c_str());
    if (!path_.empty()) ::unlink(path_.c_str());
}

void RunEntry::ask_for_line(std::int64_t list_size) {
    if (path_.empty() || !line_path_.empty() || list_size < 0) return;
    char name[96];
    std::snprintf(name, sizeof name, "%s%lx-line%llx", platform::TEMP_NAME_PREFIX,
                  platform::process_id(), static_cast<unsigned long long>(list_size));
    std::string path = root_ + "/" + kRunRegister + "/" + name;
    if (::symlink(folder_name_.c_str(), path.c_str()) == 0) line_path_ = std::move(path);
}

std::vector<LineAskedFor> lines_asked_for(const std::string& root) {
    const std::string register_dir = root + "/" + kRunRegister;
    std::vector<LineAskedFor> asked;
    for (const std::string& name : names_in(register_dir)) {
        const std::size_t mark = name.rfind("-line");
        if (name.rfind(platform::TEMP_NAME_PREFIX, 0) != 0 || mark == std::string::npos) continue;
        char* end = nullptr;
        const unsigned long long size = std::strtoull(name.c_str() + mark + 5, &end, 16);
        if (end == name.c_str() + mark + 5 || *end != '\0' ||
            size > static_cast<unsigned long long>(INT64_MAX))
            continue;
        std::string folder = link_target(register_dir + "/" + name);
        if (folder.empty() || folder == "." || folder == ".." ||
            folder.find('/') != std::string::npos)
            continue;
        bool seen = false;
        for (LineAskedFor& a : asked) {
            if (a.folder != folder) continue;
            seen = true;
            if (static_cast<std::int64_t>(size) < a.list_size) a.list_size = static_cast<std::int64_t>(size);
        }
        if (!seen) asked.push_back({std::move(folder), static_cast<std::int64_t>(size)});
    }
    return asked;
}

void sweep_stale_runs(const std::string& root) {
    const std::string register_dir = root + "/" + kRunRegister;
    const std::string own = own_entry_name();
    for (const std::string& name : names_in(register_dir)) {
        if (name != own && is_stale_temp(register_dir, name.c_str()))
            clear_entry(root, register_dir + "/" + name);
    }
}

std::int64_t read_file_start(const std::string& path, void* data, std::size_t size) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) return -1;
    return platform::read_at(fd.get(), data, size, 0);
}

long longest_file_name(const std::string& dir, long fallback) {
    long longest = pathconf(dir.c_str(), _PC_NAME_MAX);
    return longest > 0 ? longest : fallback;
}

bool is_folder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool file_system_space(const std::string& path, FileSystemSpace* space) {
    struct statvfs info {};
    if (statvfs(path.c_str(), &info) != 0) return false;
    const std::uint64_t unit = info.f_frsize ? info.f_frsize : info.f_bsize;
    space->available_bytes = static_cast<std::uint64_t>(info.f_bavail) * unit;
    space->total_bytes = static_cast<std::uint64_t>(info.f_blocks) * unit;
    space->available_inodes = static_cast<std::uint64_t>(info.f_favail);
    space->total_inodes = static_cast<std::uint64_t>(info.f_files);
    space->longest_name = static_cast<std::uint64_t>(info.f_namemax);
    return true;
}

platform::UniqueFd open_for_append(const std::string& path) {
    return platform::UniqueFd(
        ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, kPlainFileMode));
}

bool create_empty_file(const std::string& path) {
    platform::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, kPlainFileMode));
    return fd.valid();
}

platform::UniqueFd open_directory(const std::string& path) {
    return platform::UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool flush_directory(const std::string& path) {
    platform::UniqueFd dir = open_directory(path);
    if (!dir.valid()) return false;
    while (::fsync(dir.get()) != 0) {
        if (errno == EINVAL) return true;  // nothing this file system can flush
        if (errno != EINTR) return false;
    }
    return true;
}

bool truncate_to(int fd, std::int64_t size) {
    while (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool rename_file(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool link_file(const std::string& from, const std::string& to) {
    return ::link(from.c_str(), to.c_str()) == 0;
}

bool remove_file(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

std::uint64_t inode_of(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_ino) : 0;
}

std::int64_t modified_time(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_mtime) : -1;
}

}  // namespace store
