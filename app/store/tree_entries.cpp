// Opening the entries of a tree below its top, never through a link, and the temporary folders
// a copy is made in.
#include "app/store/tree_entries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "app/store/store_copy.h"

namespace store::tree {

using platform::UniqueFd;

namespace {

constexpr std::size_t kCopyBufferSize = 1 << 16;

}  // namespace

std::string failure(const std::string& what, const std::string& path) {
    return "cannot " + what + " " + path + ": " + std::strerror(errno);
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

std::string shown(const std::string& top, const std::string& relative) {
    return relative.empty() ? top : top + "/" + relative;
}

const char* refused_kind(mode_t mode) {
    if (S_ISDIR(mode) || S_ISREG(mode)) return nullptr;
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "neither a folder nor a regular file";
}

namespace {

struct CloseListing {
    void operator()(DIR* listing) const { closedir(listing); }
};

}  // namespace

bool names_of(int dir, std::vector<std::string>& names) {
    names.clear();
    platform::UniqueFd copy(fcntl(dir, F_DUPFD_CLOEXEC, 0));
    if (!copy.valid()) return false;
    std::unique_ptr<DIR, CloseListing> listing(fdopendir(copy.get()));
    if (!listing) return false;
    copy.release();            // the listing owns it now
    rewinddir(listing.get());  // the duplicate shares the offset of `dir`
    errno = 0;
    while (const dirent* entry = readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
        errno = 0;
    }
    if (errno != 0) return false;
    std::sort(names.begin(), names.end());
    return true;
}

bool flush_folder(int fd) {
    return fsync(fd) == 0 || errno == EINVAL;
}

Opened open_entry(int dir, const std::string& name, dev_t device, const LockedFile& locked,
                  OpenedEntry& out, std::string& refusal) {
    struct stat st {};
    if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Opened::failed;
    if (const char* kind = refused_kind(st.st_mode)) {
        refusal = std::string("is ") + kind;
        return Opened::refused;
    }
    if (st.st_dev != device) {
        refusal = "is on another file system (a mount inside the tree)";
        return Opened::refused;
    }
    if (locked.fd >= 0 && S_ISREG(st.st_mode) && st.st_ino == locked.st.st_ino &&
        st.st_dev == locked.st.st_dev) {
        out.fd = locked.fd;
        out.st = locked.st;
        return Opened::ok;
    }
    const int type_flags = S_ISDIR(st.st_mode) ? O_DIRECTORY : O_NONBLOCK;
    out.owned = platform::UniqueFd(
        openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | type_flags));
    out.fd = out.owned.get();
    if (!out.owned.valid()) {
        if (errno != ELOOP && errno != ENOTDIR) return Opened::failed;
        refusal = "changed into a link while it was read";
        return Opened::refused;
    }
    if (fstat(out.fd, &out.st) != 0) return Opened::failed;
    if (out.st.st_ino != st.st_ino || out.st.st_dev != st.st_dev ||
        (out.st.st_mode & S_IFMT) != (st.st_mode & S_IFMT)) {
        refusal = "changed while it was read";
        return Opened::refused;
    }
    return Opened::ok;
}

const char* read_through(int from, int to, std::vector<char>& buffer, Sha256& digest,
                         std::uint64_t& size) {
    buffer.resize(kCopyBufferSize);
    size = 0;
    while (true) {
        const std::int64_t got =
            platform::read_at(from, buffer.data(), buffer.size(), static_cast<std::int64_t>(size));
        if (got < 0) return "read";
        if (got == 0) return nullptr;
        const auto piece = static_cast<std::size_t>(got);
        if (!digest.update(buffer.data(), piece)) return "compute the SHA-256 of";
        if (to >= 0 && !platform::write_all(to, buffer.data(), piece)) return "write";
        size += piece;
    }
}

std::string mismatch(const ManifestEntry& wanted, std::uint64_t size, const std::string& digest) {
    if (size != wanted.size) {
        return std::to_string(size) + " bytes, the manifest says " + std::to_string(wanted.size);
    }
    if (digest != wanted.sha256) return "its SHA-256 differs from the manifest's";
    return {};
}

void remove_tree(int parent, const std::string& name, int depth) {
    platform::UniqueFd dir(
        openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    std::vector<std::string> names;
    if (dir.valid() && names_of(dir.get(), names)) {
        for (const std::string& inner : names) {
            struct stat st {};
            const bool folder = fstatat(dir.get(), inner.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                                S_ISDIR(st.st_mode);
            if (folder && depth < DEEPEST_FOLDER + 1) {
                remove_tree(dir.get(), inner, depth + 1);
            } else {
                unlinkat(dir.get(), inner.c_str(), 0);
            }
        }
    }
    unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

bool split_path(std::string path, PathParts& parts, std::string& error) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const std::size_t slash = path.rfind('/');
    parts.folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    parts.name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (parts.name.empty() || parts.name == "." || parts.name == "..") {
        error = "\"" + path + "\" does not name a folder to make or replace";
        return false;
    }
    return true;
}

platform::UniqueFd open_folder(const std::string& path) {
    return platform::UniqueFd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

TempFolder::~TempFolder() {
    if (!name_.empty() && !committed_) remove_tree(parent_, name_);
}

namespace {

// Removes the folders `.tmp-<purpose>-<pid>-<n>` in `parent` that runs no longer running left (a
// backup or restore killed half-way), so that none of them piles up beside the backups.
void remove_stale_folders(int parent, const char* purpose) {
    const std::string prefix = std::string(platform::TEMP_NAME_PREFIX) + purpose + "-";
    const int fd = ::dup(parent);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0) ::close(fd);
        return;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind(prefix, 0) != 0) continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (pid > 0 && end && *end == '-' && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            stale.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : stale) remove_tree(parent, name);
}

}  // namespace

bool TempFolder::create(int parent, const std::string& parent_shown, const char* purpose,
                        std::string& error) {
    parent_ = parent;
    remove_stale_folders(parent, purpose);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = std::string(platform::TEMP_NAME_PREFIX) + purpose + "-" +
                                 std::to_string(getpid()) + "-" + std::to_string(attempt);
        if (mkdirat(parent, name.c_str(), 0700) == 0) {
            name_ = name;
            shown_ = shown(parent_shown, name);
            fd_ = UniqueFd(
                openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!fd_.valid() || fchmod(fd_.get(), COPY_FOLDER_MODE) != 0) {
                error = failure("open the new folder", shown_);
                return false;
            }
            return true;
        }
        if (errno != EEXIST) break;
    }
    error = failure("create a temporary folder in", parent_shown);
    return false;
}

bool TempFolder::commit(const std::string& final_name, const std::string& final_shown,
                        bool replace_empty, std::string& error) {
    if (!flush_folder(fd_.get())) {
        error = failure("flush", shown_);
        return false;
    }
    int renamed = 0;
    if (replace_empty) {
        renamed = renameat(parent_, name_.c_str(), parent_, final_name.c_str());
    } else {
        renamed = renameat2(parent_, name_.c_str(), parent_, final_name.c_str(), RENAME_NOREPLACE);
        if (renamed != 0 && errno == EINVAL) {
            // A file system without RENAME_NOREPLACE: the name is looked at just before instead.
            struct stat st {};
            if (fstatat(parent_, final_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                errno = EEXIST;
            } else {
                renamed = renameat(parent_, name_.c_str(), parent_, final_name.c_str());
            }
        }
    }
    if (renamed != 0) {
        error = errno == EEXIST || errno == ENOTEMPTY
                    ? final_shown + " appeared or was filled meanwhile; nothing was changed"
                    : failure("rename " + shown_ + " to", final_shown);
        return false;
    }
    committed_ = true;
    if (!flush_folder(parent_)) {
        error = failure("flush the folder holding", final_shown);
        return false;
    }
    return true;
}

}  // namespace store::tree
