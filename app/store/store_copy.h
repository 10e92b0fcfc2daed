// Backups of a store root that hold only the store's own folders and regular files, each named
// with its size and SHA-256 in a manifest, and restores that put one back whole or not at all.
//
// What a copy takes: folders and regular files only. A symbolic link, device, FIFO or socket is
// refused with an error naming it, never followed or opened; so is a folder or file on another
// file system than the tree's top (a mount inside it). Only the top folder's own path (the
// store root, the backup folder) is followed, as its caller names it; everything below is opened
// relative to its folder with O_NOFOLLOW, and its type checked on the opened descriptor, so
// nothing outside the tree is ever read or written. Temporary names (".tmp-*", files being
// written) are left out of a backup at every level.
//
// Modes: a copy's folders are 0750 and its files 0640, whatever the umask or the source's modes,
// as strict as the store's own root (0750): what a backup or restore makes is never readable by
// others. A backup belongs to the user who makes it; a restore into an existing empty root gives
// every restored folder and file the owner and group of that root (so root can restore a store
// for the service user by making the empty root folder theirs first); a restore that makes the
// root gives them to the running user.
//
// The manifest, "<backup>/index.sha256" (a name the store's reserved-name rule keeps out of
// applicant names, so no stored folder can take it), is UTF-8 text, one entry a line:
//   store-backup 1                          the form and its version
//   folder <path>                           a folder of the tree
//   file <sha256> <size> <path>             a regular file: lower-case hex SHA-256, size in bytes
//   end <entries>                           the number of folder and file lines (a cut manifest
//                                           shows)
// Paths are relative to the backup's top, with "/" between components; '%', control bytes and
// DEL are written as %XX. A path that is empty, absolute, or has an empty, "." or ".." component
// is refused, as is a file or folder whose parent folder the manifest does not name.
#pragma once

#include <string>
#include <vector>

namespace store {

// The manifest's file name in a backup's top folder.
inline constexpr char BACKUP_MANIFEST_NAME[] = "index.sha256";
// The permissions of every folder and file a backup or restore makes.
inline constexpr unsigned COPY_FOLDER_MODE = 0750;
inline constexpr unsigned COPY_FILE_MODE = 0640;

// Copies the store root `root` into the new folder `destination` with its manifest. The
// destination must not exist; its parent folder must. The copy is made under a temporary name
// beside the destination, every file and folder of it flushed to stable storage, and renamed to
// `destination` only then: `destination` appears whole or not at all (the temporary folder is
// removed on every failure). The caller holds the store lock, so that no filing, erasure or
// retention run changes the root while it is copied, and passes the descriptor it holds the lock
// through as `locked_fd` (-1 when this process holds none): the list page is then read through
// it, since closing any other descriptor of the list page would drop the lock half-way through.
// A root holding a link, device, FIFO or socket below it is refused (false, and `error` names
// the entry): a backup that left it out would not be the store. False with `error` set on any
// failure.
bool backup_tree(const std::string& root, const std::string& destination, int locked_fd,
                 std::string& error);

// Checks the backup folder `backup` against its manifest: every folder the manifest names is a
// folder, every file a regular file of the named size and SHA-256, and the backup holds nothing
// the manifest does not name (extra files or folders, links, FIFOs, devices, sockets, temporary
// names). Links are never followed and nothing is opened that is not a folder or regular file.
// Returns true when the backup is whole. Otherwise false, `error` says why in one line (the
// manifest cannot be read or is malformed, or how many problems were found) and `problems`
// holds one line per finding, each naming its path ("Ann/cv.pdf: 100 bytes, the manifest says
// 5000"); `problems` is cleared first.
bool verify_backup(const std::string& backup, std::vector<std::string>& problems,
                   std::string& error);

// Puts the backup `backup` back as the store root `root`, which must be missing or an empty
// folder (not a link to one). The backup is verified first (verify_backup), then copied into a
// temporary folder beside the root (in the root's parent, on the same file system), each file's
// bytes checked against the manifest as they are copied, everything flushed to stable storage,
// and the temporary folder renamed onto the root in one step: a missing root appears, an empty
// one is replaced. On every failure the temporary folder is removed and the root is left as it
// was (missing or empty). The manifest itself is not restored. False with `error` set (naming
// the first problem found) on any failure.
bool restore_tree(const std::string& backup, const std::string& root, std::string& error);

}  // namespace store
