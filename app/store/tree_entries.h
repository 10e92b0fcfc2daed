// What backup, verification and restore share: opening the entries of a tree below its top,
// never through a link, reading a file through its digest, and the temporary folder a copy is
// made in. Internal to store_copy.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/store/backup_manifest.h"
#include "platform/files.h"

namespace store::tree {

// The store nests two levels (<name>/<stamp>/); a hostile tree is cut off long before it could
// run the process out of descriptors or stack.
inline constexpr int DEEPEST_FOLDER = 16;

// "cannot <what> <path>: <errno's text>".
std::string failure(const std::string& what, const std::string& path);
// `name` inside the relative folder `folder` ("" for the top).
std::string joined(const std::string& folder, const std::string& name);
// The path of `relative` inside the tree whose top a message shows as `top`.
std::string shown(const std::string& top, const std::string& relative);

// What an entry that no copy takes is ("a symbolic link", "a FIFO", ...); null for a folder or a
// regular file.
const char* refused_kind(mode_t mode);

// The names in the open folder `dir` without "." and "..", sorted; false when it cannot be read.
bool names_of(int dir, std::vector<std::string>& names);

// Flushes the entries of an open folder; a file system that cannot flush folders (EINVAL)
// counts as flushed.
bool flush_folder(int fd);

// A file the caller holds an fcntl lock through: it is read through that descriptor, never
// opened again, since closing any descriptor of a file drops every fcntl lock the process holds
// on it.
struct LockedFile {
    int fd = -1;
    struct stat st {};
};

// An entry of a folder, opened (owned), or the locked file (borrowed); `fd` reads it.
struct OpenedEntry {
    platform::UniqueFd owned;
    int fd = -1;
    struct stat st {};
};

enum class Opened { ok, refused, failed };

// Opens `name` in the folder `dir` if it is a folder or regular file on `device`, never through
// a link. Its type is checked before the open (so a FIFO or device is never opened) and again on
// the opened descriptor (so a name swapped meanwhile is refused). `refusal` says why an entry is
// refused ("is a symbolic link"); errno tells a failure.
Opened open_entry(int dir, const std::string& name, dev_t device, const LockedFile& locked,
                  OpenedEntry& out, std::string& refusal);

// Reads the open file `from` from its start to its end into the digest (by offset: the file
// position of a borrowed descriptor stays), and writes each piece to `to` unless it is -1. Null
// on success, or the operation that failed ("read", "write").
const char* read_through(int from, int to, std::vector<char>& buffer, Sha256& digest,
                         std::uint64_t& size);

// Why a file of `size` bytes and SHA-256 `digest` is not the one `wanted` names; empty when it is.
std::string mismatch(const ManifestEntry& wanted, std::uint64_t size, const std::string& digest);

// Removes the folder `name` of `parent` and everything in it, never through a link (a link is
// removed itself). For the temporary folders made here, so the depth is bounded.
void remove_tree(int parent, const std::string& name, int depth = 0);

// A path split into its folder ("." when it has none) and last component; trailing slashes are
// ignored. False with `error` when the last component is empty, "." or "..".
struct PathParts {
    std::string folder;
    std::string name;
};
bool split_path(std::string path, PathParts& parts, std::string& error);

// Opens a folder by path, following links in the path (the caller names it).
platform::UniqueFd open_folder(const std::string& path);

// A folder made under a temporary name in `parent` (".tmp-<purpose>-<pid>-<n>", so it is never
// taken for a stored folder), mode COPY_FOLDER_MODE; removed with everything in it unless it was
// renamed into place.
class TempFolder {
  public:
    TempFolder() = default;
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // `parent` is borrowed and must stay open while this lives; `parent_shown` names it.
    bool create(int parent, const std::string& parent_shown, const char* purpose,
                std::string& error);
    int fd() const { return fd_.get(); }
    // The path messages show for it.
    const std::string& path() const { return shown_; }

    // Flushes the folder, renames it to `final_name` in the same parent and flushes the parent.
    // With `replace_empty` it takes the place of an empty folder of that name; otherwise the name
    // must be free.
    bool commit(const std::string& final_name, const std::string& final_shown, bool replace_empty,
                std::string& error);

  private:
    int parent_ = -1;
    platform::UniqueFd fd_;
    std::string name_;
    std::string shown_;
    bool committed_ = false;
};

}  // namespace store::tree
