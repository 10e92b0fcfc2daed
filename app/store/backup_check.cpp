// Checking a backup against its manifest without following a link or opening anything that is
// no folder or regular file.
#include "app/store/backup_check.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <set>

#include "app/store/store_copy.h"
#include "app/store/tree_entries.h"

namespace store {

namespace {

using namespace tree;

// A manifest line is under 200 bytes for any stored path; a million files stay far below this.
constexpr std::int64_t kLongestManifest = std::int64_t{1} << 30;

// Reads and parses the manifest of the open backup folder.
bool read_manifest(int backup, const std::string& backup_shown, dev_t device, Manifest& manifest,
                   std::string& error) {
    const std::string path = shown(backup_shown, BACKUP_MANIFEST_NAME);
    OpenedEntry file;
    std::string refusal;
    const Opened opened = open_entry(backup, BACKUP_MANIFEST_NAME, device, {}, file, refusal);
    if (opened == Opened::failed) {
        error = failure("open the backup's manifest", path);
        return false;
    }
    if (opened == Opened::refused || !S_ISREG(file.st.st_mode)) {
        error = path + " " + (refusal.empty() ? "is a folder" : refusal) + ", not a manifest";
        return false;
    }
    if (file.st.st_size > kLongestManifest) {
        error = path + " is too large for a manifest";
        return false;
    }
    std::string text(static_cast<std::size_t>(file.st.st_size), '\0');
    const std::int64_t got = platform::read_at(file.fd, text.data(), text.size(), 0);
    if (got < 0) {
        error = failure("read", path);
        return false;
    }
    text.resize(static_cast<std::size_t>(got));
    if (!parse_manifest(text, manifest, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

// One check of a backup's tree against its manifest.
struct Check {
    dev_t device = 0;
    const Manifest* manifest = nullptr;
    std::set<std::string> seen;
    std::vector<std::string>* problems = nullptr;
    std::vector<char> buffer;
};

void check_folder(int dir, const std::string& relative, int depth, Check& check) {
    auto problem = [&](const std::string& text) { check.problems->push_back(text); };
    if (depth > DEEPEST_FOLDER) {
        problem(relative + ": folders nested more than " + std::to_string(DEEPEST_FOLDER) +
                " deep");
        return;
    }
    std::vector<std::string> names;
    if (!names_of(dir, names)) {
        problem(failure("list", relative.empty() ? "the backup's top folder" : relative));
        return;
    }
    for (const std::string& name : names) {
        const std::string path = joined(relative, name);
        if (relative.empty() && name == BACKUP_MANIFEST_NAME) continue;
        const auto wanted = check.manifest->find(path);
        if (wanted == check.manifest->end()) {
            // Told by its type alone: nothing the manifest does not name is opened.
            struct stat st {};
            const char* kind = fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0
                                   ? "an entry"
                               : S_ISDIR(st.st_mode) ? "a folder"
                               : S_ISREG(st.st_mode) ? "a file"
                                                     : refused_kind(st.st_mode);
            problem(path + ": " + kind + " the manifest does not name");
            continue;
        }
        check.seen.insert(path);
        OpenedEntry entry;
        std::string refusal;
        const Opened opened = open_entry(dir, name, check.device, {}, entry, refusal);
        if (opened != Opened::ok) {
            problem(opened == Opened::refused ? path + " " + refusal + " (not followed)"
                                              : failure("open", path));
            continue;
        }
        const bool folder = S_ISDIR(entry.st.st_mode);
        if (wanted->second.folder != folder) {
            problem(path + (folder ? " is a folder; the manifest names a file"
                                   : " is a file; the manifest names a folder"));
            continue;
        }
        if (folder) {
            check_folder(entry.fd, path, depth + 1, check);
            continue;
        }
        Sha256 digest;
        std::uint64_t size = 0;
        if (const char* failed = read_through(entry.fd, -1, check.buffer, digest, size)) {
            problem(failure(failed, path));
            continue;
        }
        const std::string why = mismatch(wanted->second, size, digest.hex());
        if (!why.empty()) problem(path + ": " + why);
    }
}

}  // namespace

bool check_backup(int backup, const std::string& backup_shown, Manifest& manifest,
                  std::vector<std::string>& problems, std::string& error) {
    struct stat st {};
    if (fstat(backup, &st) != 0) {
        error = failure("read", backup_shown);
        return false;
    }
    if (!read_manifest(backup, backup_shown, st.st_dev, manifest, error)) return false;
    Check check;
    check.device = st.st_dev;
    check.manifest = &manifest;
    check.problems = &problems;
    check_folder(backup, "", 0, check);
    for (const auto& [path, entry] : manifest) {
        // A folder that is missing was reported as such; what it held need not be again.
        if (check.seen.count(path) == 0 && (path.find('/') == std::string::npos ||
                                            check.seen.count(path.substr(0, path.rfind('/'))))) {
            problems.push_back(path + (entry.folder ? ": the folder" : ": the file") +
                               " the manifest names is missing");
        }
    }
    return true;
}

bool verify_backup(const std::string& backup, std::vector<std::string>& problems,
                   std::string& error) {
    problems.clear();
    error.clear();
    const platform::UniqueFd fd = open_folder(backup);
    if (!fd.valid()) {
        error = failure("open the backup", backup);
        return false;
    }
    Manifest manifest;
    if (!check_backup(fd.get(), backup, manifest, problems, error)) return false;
    if (problems.empty()) return true;
    error = backup + " does not match its manifest: " + std::to_string(problems.size()) +
            (problems.size() == 1 ? " problem" : " problems");
    return false;
}

}  // namespace store
