// Backup and restore of a store root: a copy that takes only folders and regular files, made in
// a temporary folder renamed into place when everything in it is on stable storage.
#include "app/store/store_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "app/store/backup_check.h"
#include "app/store/tree_entries.h"

namespace store {

namespace {

using platform::UniqueFd;
using namespace tree;

// The owner and group every copied folder and file is given, when they are not the running
// user's own.
struct Owner {
    uid_t user;
    gid_t group;
};

// One copy of a tree into a new folder: a backup (every folder and regular file except
// temporary names, measured into `copied`) or a restore (only what `expected` names, each file
// checked against it as it is copied).
struct Copy {
    std::string from_top;  // how messages show the source's top folder
    std::string to_top;    // and the destination's
    dev_t device = 0;      // the source's file system
    const Manifest* expected = nullptr;
    LockedFile locked;
    std::optional<Owner> owner;
    Manifest copied;
    std::vector<char> buffer;
    std::string error;
};

// Gives the new folder or file open on `fd` the copy's owner, when one is set.
bool give_owner(int fd, const std::string& path, Copy& copy) {
    if (!copy.owner) return true;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        copy.error = failure("read the owner of", path);
        return false;
    }
    if (st.st_uid == copy.owner->user && st.st_gid == copy.owner->group) return true;
    if (fchown(fd, copy.owner->user, copy.owner->group) != 0) {
        copy.error = failure("give the root's owner to", path);
        return false;
    }
    return true;
}

bool copy_file(const OpenedEntry& from, int to_dir, const std::string& name,
               const std::string& path, const ManifestEntry* wanted, Copy& copy) {
    const std::string source = shown(copy.from_top, path);
    const std::string target = shown(copy.to_top, path);
    UniqueFd to(openat(to_dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       COPY_FILE_MODE));
    if (!to.valid() || fchmod(to.get(), COPY_FILE_MODE) != 0) {
        copy.error = failure("create", target);
        return false;
    }
    if (!give_owner(to.get(), target, copy)) return false;
    Sha256 digest;
    std::uint64_t size = 0;
    if (const char* failed = read_through(from.fd, to.get(), copy.buffer, digest, size)) {
        copy.error = failure(failed, std::string(failed) == "write" ? target : source);
        return false;
    }
    if (!platform::flush_file_data(to.get()) || !to.close()) {
        copy.error = failure("write", target);
        return false;
    }
    ManifestEntry entry{false, size, digest.hex()};
    if (entry.sha256.empty()) {
        copy.error = "cannot compute the SHA-256 of " + source;
        return false;
    }
    if (wanted) {
        const std::string why = mismatch(*wanted, entry.size, entry.sha256);
        if (!why.empty()) {
            copy.error = source + ": " + why;
            return false;
        }
    }
    copy.copied.emplace(path, std::move(entry));
    return true;
}

// Copies what the source folder `from` holds into the new folder `to`; `relative` is their path
// inside the trees. Every folder made is flushed; `to` itself is the caller's to flush.
bool copy_folder(int from, int to, const std::string& relative, int depth, Copy& copy) {
    if (depth > DEEPEST_FOLDER) {
        copy.error = shown(copy.from_top, relative) + ": folders nested more than " +
                     std::to_string(DEEPEST_FOLDER) + " deep";
        return false;
    }
    std::vector<std::string> names;
    if (!names_of(from, names)) {
        copy.error = failure("list", shown(copy.from_top, relative));
        return false;
    }
    for (const std::string& name : names) {
        const std::string path = joined(relative, name);
        const std::string source = shown(copy.from_top, path);
        const ManifestEntry* wanted = nullptr;
        if (relative.empty() && name == BACKUP_MANIFEST_NAME) {
            if (copy.expected) continue;  // the backup's own manifest is no part of the store
            copy.error = source + ": the store holds a file of the backup manifest's name";
            return false;
        }
        if (copy.expected) {
            const auto found = copy.expected->find(path);
            if (found == copy.expected->end()) {
                copy.error = source + " is not in the backup's manifest";
                return false;
            }
            wanted = &found->second;
        } else if (name.rfind(platform::TEMP_NAME_PREFIX, 0) == 0) {
            continue;  // a file being written, or the register of runs: no part of a backup
        }
        OpenedEntry entry;
        std::string refusal;
        const Opened opened = open_entry(from, name, copy.device, copy.locked, entry, refusal);
        if (opened != Opened::ok) {
            copy.error =
                opened == Opened::refused
                    ? source + " " + refusal + ": only folders and regular files are copied"
                    : failure("open", source);
            return false;
        }
        const bool folder = S_ISDIR(entry.st.st_mode);
        if (wanted && wanted->folder != folder) {
            copy.error = source + (folder ? " is a folder; the manifest names a file"
                                          : " is a file; the manifest names a folder");
            return false;
        }
        if (!folder) {
            if (!copy_file(entry, to, name, path, wanted, copy)) return false;
            continue;
        }
        const std::string target = shown(copy.to_top, path);
        if (mkdirat(to, name.c_str(), 0700) != 0) {
            copy.error = failure("create", target);
            return false;
        }
        UniqueFd made(openat(to, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!made.valid() || fchmod(made.get(), COPY_FOLDER_MODE) != 0) {
            copy.error = failure("open", target);
            return false;
        }
        if (!give_owner(made.get(), target, copy) ||
            !copy_folder(entry.fd, made.get(), path, depth + 1, copy)) {
            return false;
        }
        if (!flush_folder(made.get())) {
            copy.error = failure("flush", target);
            return false;
        }
        copy.copied.emplace(path, ManifestEntry{true, 0, {}});
    }
    return true;
}

}  // namespace

bool backup_tree(const std::string& root, const std::string& destination, int locked_fd,
                 std::string& error) {
    error.clear();
    LockedFile locked{locked_fd, {}};
    if (locked_fd >= 0 && fstat(locked_fd, &locked.st) != 0) {
        error = failure("read the locked list page of", root);
        return false;
    }
    PathParts target;
    if (!split_path(destination, target, error)) return false;
    const UniqueFd root_fd = open_folder(root);
    struct stat root_st {};
    if (!root_fd.valid() || fstat(root_fd.get(), &root_st) != 0) {
        error = failure("open the store root", root);
        return false;
    }
    const UniqueFd parent = open_folder(target.folder);
    if (!parent.valid()) {
        error = failure("open the folder for the backup,", target.folder);
        return false;
    }
    struct stat st {};
    if (fstatat(parent.get(), target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        error = destination + " exists already: a backup goes into a new folder";
        return false;
    }
    if (errno != ENOENT) {
        error = failure("look for", destination);
        return false;
    }
    TempFolder staging;
    if (!staging.create(parent.get(), target.folder, "backup", error)) return false;
    Copy copy;
    copy.from_top = root;
    copy.to_top = staging.path();
    copy.device = root_st.st_dev;
    copy.locked = locked;
    if (!copy_folder(root_fd.get(), staging.fd(), "", 0, copy)) {
        error = copy.error;
        return false;
    }
    const std::string text = format_manifest(copy.copied);
    const std::string manifest_path = shown(staging.path(), BACKUP_MANIFEST_NAME);
    UniqueFd manifest(openat(staging.fd(), BACKUP_MANIFEST_NAME,
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, COPY_FILE_MODE));
    if (!manifest.valid() || fchmod(manifest.get(), COPY_FILE_MODE) != 0 ||
        !platform::write_all(manifest.get(), text.data(), text.size()) ||
        !platform::flush_file_data(manifest.get()) || !manifest.close()) {
        error = failure("write", manifest_path);
        return false;
    }
    return staging.commit(target.name, destination, false, error);
}

bool restore_tree(const std::string& backup, const std::string& root, std::string& error) {
    error.clear();
    PathParts target;
    if (!split_path(root, target, error)) return false;
    const UniqueFd parent = open_folder(target.folder);
    if (!parent.valid()) {
        error = failure("open the folder of the store root,", target.folder);
        return false;
    }
    // The root must be missing or an empty folder: a restore never mixes with stored data.
    std::optional<Owner> owner;
    struct stat root_st {};
    if (fstatat(parent.get(), target.name.c_str(), &root_st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (const char* kind = refused_kind(root_st.st_mode); kind || !S_ISDIR(root_st.st_mode)) {
            error = root + " is " + (kind ? kind : "a file") +
                    ": restore into a missing or empty folder";
            return false;
        }
        const UniqueFd existing(openat(parent.get(), target.name.c_str(),
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        std::vector<std::string> names;
        if (!existing.valid() || !names_of(existing.get(), names)) {
            error = failure("list", root);
            return false;
        }
        if (!names.empty()) {
            error = root +
                    " is not empty: restore into a new or empty folder, then swap them "
                    "with the server stopped";
            return false;
        }
        owner = Owner{root_st.st_uid, root_st.st_gid};
    } else if (errno != ENOENT) {
        error = failure("look for", root);
        return false;
    }

    const UniqueFd source = open_folder(backup);
    struct stat source_st {};
    if (!source.valid() || fstat(source.get(), &source_st) != 0) {
        error = failure("open the backup", backup);
        return false;
    }
    Manifest manifest;
    std::vector<std::string> problems;
    if (!check_backup(source.get(), backup, manifest, problems, error)) {
        error = "cannot restore: " + error;
        return false;
    }
    if (!problems.empty()) {
        error =
            "cannot restore " + backup + ", which does not match its manifest: " + problems.front();
        if (problems.size() > 1) error += " (and " + std::to_string(problems.size() - 1) + " more)";
        return false;
    }

    TempFolder staging;
    if (!staging.create(parent.get(), target.folder, "restore", error)) return false;
    Copy copy;
    copy.from_top = backup;
    copy.to_top = staging.path();
    copy.device = source_st.st_dev;
    copy.expected = &manifest;
    copy.owner = owner;
    if (!give_owner(staging.fd(), staging.path(), copy) ||
        !copy_folder(source.get(), staging.fd(), "", 0, copy)) {
        error = copy.error;
        return false;
    }
    for (const auto& entry : manifest) {
        if (copy.copied.count(entry.first) == 0) {
            error = shown(backup, entry.first) + " vanished while it was restored";
            return false;
        }
    }
    return staging.commit(target.name, root, owner.has_value(), error);
}

}  // namespace store
