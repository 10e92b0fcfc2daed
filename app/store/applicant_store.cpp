// The store root: opening one, its paths, its free-space reserve, and reading its folders.
// Filing is in filing.cpp, the lock in store_lock.cpp.
#include "app/store/applicant_store.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <nlohmann/json.hpp>

#include "app/store/list_line.h"
#include "app/store/store_settings.h"
#include "app/store/record.h"
#include "app/store/staged_file.h"
#include "app/store/store_files.h"

namespace store {

namespace {

// The server's setting of the byte reserve (RESERVE_VARIABLE; 0 turns the whole reserve off) is
// for a file system where 5 % is far more than needed, or a test machine with little space. A
// client cannot set it: the server passes request headers only as HTTP_* variables.

bool is_control(unsigned char c) {
    return c <= 0x1F || c == 0x7F;
}

// Empty, absolute ("/...", "\..." or a drive such as "C:"), holding '\' or a control byte, or
// with an empty, "." or ".." component: a root that could reach outside the site's tree.
bool root_is_malformed(std::string_view root) {
    if (root.empty() || root[0] == '/' || root[0] == '\\') return true;
    if (root.size() > 1 && root[1] == ':') return true;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= root.size(); ++i) {
        if (i < root.size()) {
            unsigned char c = static_cast<unsigned char>(root[i]);
            if (c == '\\' || is_control(c)) return true;
            if (c != '/') continue;
        }
        const std::string_view part = root.substr(start, i - start);
        if (part.empty() || part == "." || part == "..") return true;
        start = i + 1;
    }
    return false;
}

bool holds_descriptor(const std::string& folder) {
    std::ifstream in(folder + "/" + RECORD_FILE_NAME, std::ios::binary);
    if (!in) return false;
    const nlohmann::json json = nlohmann::json::parse(in, nullptr, false);
    return json.is_object() && json.contains("store_root");
}

bool is_declared(const std::string& folder, const std::vector<std::string>& named) {
    return std::find(named.begin(), named.end(), folder) != named.end() ||
           holds_descriptor(folder);
}

// Whether the folder `path` is a file system of its own: another device than the folder it
// lies in. A shared store that is not mounted leaves the bare mount point, on the local disk.
bool is_own_mount(const std::string& path) {
    struct stat here {}, above {};
    const std::string parent = path.find('/') == std::string::npos
                                   ? std::string(".")
                                   : path.substr(0, path.rfind('/'));
    return ::stat(path.c_str(), &here) == 0 && S_ISDIR(here.st_mode) &&
           ::stat(parent.c_str(), &above) == 0 && here.st_dev != above.st_dev;
}

// Whether a folder on the way to `root` (not `root` itself) is a store root.
bool inside_declared_root(std::string_view root, const std::vector<std::string>& named) {
    for (std::size_t i = 0; i < root.size(); ++i) {
        if (root[i] == '/' && is_declared(std::string(root.substr(0, i)), named)) return true;
    }
    return false;
}


std::string failure_text(const char* operation, const std::string& path) {
    return std::string(operation) + " " + path + ": " + std::strerror(errno);
}

// Stamps sorted newest first: by time, then by the number after '-' (a later submission in the
// same second gets a higher one).
void newest_first(std::vector<std::string>& stamps) {
    auto key = [](const std::string& s) {
        const unsigned long n = s.size() > 17 ? std::strtoul(s.c_str() + 17, nullptr, 10) : 0;
        return std::make_pair(s.substr(0, 16), n);
    };
    std::sort(stamps.begin(), stamps.end(),
              [&](const std::string& a, const std::string& b) { return key(a) > key(b); });
}

StoredSubmission submission_in(const std::string& folder, std::string stamp) {
    StoredSubmission s;
    s.stamp = std::move(stamp);
    s.folder = folder;
    s.page_path = folder + "/" + PAGE_FILE_NAME;
    s.record_path = folder + "/" + RECORD_FILE_NAME;
    s.record = read_record(s.record_path);
    if (s.record) s.resume_path = folder + "/" + s.record->resume;
    return s;
}

}  // namespace

// ---- Opening ----

ApplicantStore::ApplicantStore(std::string root) : root_(std::move(root)) {
    // One look at the file system for the longest name and the room the first check finds.
    FileSystemSpace space;
    if (file_system_space(root_, &space)) {
        if (space.longest_name > 0 && space.longest_name < 255)
            longest_name_ = static_cast<std::size_t>(space.longest_name);
        space_at_open_ = space;
    }
}

std::optional<ApplicantStore> ApplicantStore::open(std::string_view root, Refusal* why) {
    auto refuse = [&](Refusal r) -> std::optional<ApplicantStore> {
        if (why) *why = r;
        return std::nullopt;
    };
    if (root_is_malformed(root)) return refuse(Refusal::malformed);
    const std::vector<std::string> named = named_roots();
    const std::string path(root);
    if (inside_declared_root(root, named)) return refuse(Refusal::nested);
    const std::vector<std::string> mounts = mounted_roots();
    if (std::find(mounts.begin(), mounts.end(), path) != mounts.end() && !is_own_mount(path))
        return refuse(Refusal::unmounted);
    if (!is_declared(path, named)) return refuse(Refusal::not_declared);
    if (!is_folder(path)) return refuse(Refusal::missing);
    if (why) *why = Refusal::none;
    return ApplicantStore(path);
}

bool ApplicantStore::declare_root(std::string_view root, std::string* error) {
    const std::string path(root);
    const std::vector<std::string> named = named_roots();
    if (root_is_malformed(root) || inside_declared_root(root, named)) {
        if (error) *error = "refused: " + path + " is not a folder of the site outside every store root";
        return false;
    }
    const std::string descriptor = path + "/" + RECORD_FILE_NAME;
    if (exists(descriptor) && !holds_descriptor(path)) {
        if (error) *error = "refused: " + descriptor + " exists and is no store descriptor";
        return false;
    }
    StagedFile staged;
    static constexpr char kDescriptor[] = "{\"store_root\": 1}\n";
    if (!staged.create(path) ||
        !platform::write_all(staged.fd(), kDescriptor, sizeof kDescriptor - 1) ||
        !staged.finish() || !staged.commit(descriptor) || !flush_directory(path)) {
        if (error) *error = failure_text("write", descriptor);
        return false;
    }
    return true;
}

bool ApplicantStore::is_store_root(const std::string& path) {
    return is_declared(path, named_roots());
}

// ---- Paths ----

std::string ApplicantStore::page_path_in(std::string_view root, std::string_view name) {
    return std::string(root) + "/" + std::string(name) + "/" + PAGE_FILE_NAME;
}
std::string ApplicantStore::list_path() const {
    return root_ + "/" + PAGE_FILE_NAME;
}
std::string ApplicantStore::catalogue_path() const {
    return root_ + "/" + CATALOGUE_FILE_NAME;
}
std::string ApplicantStore::applicant_dir(std::string_view name) const {
    return root_ + "/" + std::string(name);
}
std::string ApplicantStore::applicant_page_path(std::string_view name) const {
    return applicant_dir(name) + "/" + PAGE_FILE_NAME;
}
std::string ApplicantStore::erasures_dir() const {
    return root_ + "/" + ERASURES_FOLDER_NAME;
}

std::optional<Room> ApplicantStore::room() const {
    FileSystemSpace space;
    if (space_at_open_) {
        space = *std::exchange(space_at_open_, std::nullopt);
    } else if (!file_system_space(root_, &space)) {
        return std::nullopt;
    }
    Room room;
    room.free_bytes = space.available_bytes;
    room.free_inodes = space.available_inodes;
    const std::optional<std::uint64_t> setting = reserve_setting();
    if (setting == std::uint64_t{0}) return room;
    room.reserve = default_reserve(space.total_bytes, space.total_inodes);
    if (setting) room.reserve.bytes = *setting;
    // A file system without an inode count (it makes them as needed) reports none.
    room.ok = space.available_bytes >= room.reserve.bytes &&
              (space.total_inodes == 0 || space.available_inodes >= room.reserve.inodes);
    return room;
}

bool ApplicantStore::has_room() const {
    // A missing root is reported when filing fails.
    const std::optional<Room> room = this->room();
    return !room || room->ok;
}

StoreLock ApplicantStore::lock() const {
    return StoreLock(list_path());
}

// ---- Reading ----

std::vector<std::string> ApplicantStore::folder_names() const {
    std::vector<std::string> names;
    for (std::string& name : names_in(root_)) {
        if (!is_reserved_name(name) && exists(applicant_page_path(name)))
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<Applicant> ApplicantStore::read_folder(std::string_view name) const {
    Applicant applicant;
    applicant.folder_name = std::string(name);
    applicant.path = applicant_dir(name);
    if (is_reserved_name(name) || name.find('/') != std::string_view::npos ||
        !exists(applicant_page_path(name)))
        return std::nullopt;
    applicant.submissions.push_back(submission_in(applicant.path, ""));
    for (const std::string& stamp : earlier_stamps(applicant.path))
        applicant.submissions.push_back(submission_in(applicant.path + "/" + stamp, stamp));
    return applicant;
}

std::vector<std::string> earlier_stamps(const std::string& folder) {
    const std::uint64_t current_record = inode_of(folder + "/" + RECORD_FILE_NAME);
    const std::uint64_t current_page = inode_of(folder + "/" + PAGE_FILE_NAME);
    std::vector<std::string> stamps;
    for (std::string& name : names_in(folder)) {
        if (!is_stamp_name(name) || !is_folder(folder + "/" + name)) continue;
        // A folder holding the current files themselves is a move that a crash interrupted.
        const std::string inside = folder + "/" + name + "/";
        const std::uint64_t record = inode_of(inside + RECORD_FILE_NAME);
        const std::uint64_t page = inode_of(inside + PAGE_FILE_NAME);
        if ((record != 0 && record == current_record) || (page != 0 && page == current_page))
            continue;
        if (page == 0) continue;
        stamps.push_back(std::move(name));
    }
    newest_first(stamps);
    return stamps;
}

}  // namespace store
