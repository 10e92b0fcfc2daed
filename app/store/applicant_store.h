// The applicant store: one store root that apply.cgi files submissions into and that the staff
// console and the admin command open for everything else they do with stored data (the
// operations are declared in operations.h). Every path of the store is composed here and
// nowhere else.
//
// Layout of a store root <root> (relative to the working directory, the site folder):
//   <root>/index.html     the list page, one line per applicant; its whole-file fcntl lock is the
//                         store lock (StoreLock) that filing a new applicant, erasure, retention
//                         and backup hold
//   <root>/index.jsonl    the catalogue: one JSON object per filed submission (the record plus
//                         "folder" and "stamp"); derived data, rebuilt from the records
//   <root>/index.json     the descriptor {"store_root": 1} of a root made by the admin command
//   <root>/.tmp-*         files and folders being written; never served, cleared when stale
//   <root>/.tmp-runs/     the register of runs in progress (store_files.h, RunEntry), made by the
//                         first run and kept
//   <root>/.tmp-erasures/ erasures in progress: for each, its plan (<id>.json) and what it took
//                         out of the store (<id>/), until it is finished
//   <root>/<name>/        an applicant folder: index.html (the latest submission's page),
//                         index.json (its record), its resume, and one folder <stamp>/ per
//                         earlier submission holding that submission's three files
// A folder is a store root when APPLY_STORE_ROOTS names it or it holds the descriptor; store
// roots never nest, so an applicant folder, or anything inside one, is never a store root.
// A person is not a name: within a name's folder, submissions with different e-mail addresses
// (compared after NFC and case folding, person_key) belong to different applicants.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/store/reserve_default.h"
#include "app/store/store_files.h"
#include "platform/file_lock.h"
#include "platform/files.h"

namespace store {

// The server's list of store roots besides those holding a descriptor: paths relative to the
// site folder, separated by ':'. Unset: DEFAULT_STORE_ROOT.
inline constexpr char STORE_ROOTS_VARIABLE[] = "APPLY_STORE_ROOTS";
inline constexpr char DEFAULT_STORE_ROOT[] = "people";
// Store roots that are file systems of their own (a shared store mounted there), ':'-separated.
// Such a root that is missing, or is the bare mount point (the same device as the folder it lies
// in), is not opened: applications pause rather than land on the local disk.
inline constexpr char STORE_MOUNTS_VARIABLE[] = "APPLY_STORE_MOUNTS";
// The server's setting of the free-space reserve in bytes (0 turns the reserve off).
inline constexpr char RESERVE_VARIABLE[] = "APPLY_FREE_SPACE_RESERVE";
// The file names the store gives its own files, in the root and in every submission's folder.
inline constexpr char PAGE_FILE_NAME[] = "index.html";
inline constexpr char RECORD_FILE_NAME[] = "index.json";
inline constexpr char CATALOGUE_FILE_NAME[] = "index.jsonl";
// The folder of erasures in progress, in the root.
inline constexpr char ERASURES_FOLDER_NAME[] = ".tmp-erasures";

// The root the programs use when none is asked for: the first of APPLY_STORE_ROOTS, or
// DEFAULT_STORE_ROOT.
std::string default_store_root();
// True for names the store keeps for itself and never gives an applicant folder or a resume:
// "", ".", "..", "index.*" and temporary names ".tmp-*".
bool is_reserved_name(std::string_view name);
// The key that tells two applicants of one name apart: the e-mail address in NFC, case-folded
// (ASCII and Unicode alike); "" for none.
std::string person_key(std::string_view mail);

// The record kept beside every submission (index.json; UTF-8 JSON with these keys).
struct Record {
    std::string name;
    std::string mail;
    std::string interest;
    std::string resume;  // the resume's file name, in the submission's own folder
    std::uint64_t resume_size = 0;
    std::string filed;  // UTC filing time, "2026-12-08T16:20:05Z"
};

// A submission to file: the checked fields (name and resume name already in their stored form,
// see submission_checks.h) and the resume's content.
struct Submission {
    std::string name;
    std::string mail;
    std::string interest;
    std::string resume_name;
    // An unnamed file holding the resume (the request's spool file), or -1. Linked into place
    // when it lies on the store's file system; otherwise resume_bytes() is copied.
    int resume_fd = -1;
    std::function<std::string_view()> resume_bytes;
    // The resume's length in bytes when the caller knows it, else -1 (then asked of the file).
    std::int64_t resume_size = -1;
};

// One stored submission of an applicant.
struct StoredSubmission {
    std::string stamp;        // "" for the latest; else its folder's name, YYYYMMDDTHHMMSSZ[-n]
    std::string folder;       // path of the folder that holds its files
    std::string page_path;    // folder + "/index.html"
    std::string record_path;  // folder + "/index.json"
    std::string resume_path;  // folder + "/" + record->resume; empty without a record
    // Absent when the record cannot be read (a page filed before records were kept).
    std::optional<Record> record;
};

// The submissions found in a folder of the store root that holds a page: every one (read_folder)
// or one applicant's (operations.h, applicants_in).
struct Applicant {
    std::string folder_name;  // the name as filed (NFC), the folder's name below the root
    std::string path;         // root + "/" + folder_name
    std::string person;       // person_key of the submissions' mail ("" for a whole folder)
    // Newest first; the folder's latest submission (stamp "") first when it is among them.
    std::vector<StoredSubmission> submissions;
};

// How filing ended. Anything but `filed` means nothing new is acknowledged; whatever was filed
// before stays whole.
enum class Outcome { filed, cant_create, paused };

struct FilingResult {
    Outcome outcome = Outcome::cant_create;
    // cant_create: the path the answer names. filed: the applicant page.
    std::string path;
    // What failed, for the one standard-error line: the operation, the path and the system's
    // error text (empty when filed).
    std::string failure;
};

// The store lock: the whole-file fcntl lock on the list page, held from construction until
// destruction (or release()). fcntl locks belong to the process and a close of ANY descriptor
// of the list in the process drops them: while holding one, reach the list only through fd().
class StoreLock {
  public:
    StoreLock() = default;
    // Opens (creating when missing) and locks `list_path`, waiting for the lock. On a file
    // system in user space it never queues for it (see store_lock.cpp). `before_waiting` runs
    // when the lock is found taken, before the wait.
    explicit StoreLock(const std::string& list_path,
                       const std::function<void()>& before_waiting = {});
    StoreLock(StoreLock&&) noexcept;
    StoreLock& operator=(StoreLock&&) noexcept;
    ~StoreLock();

    bool held() const { return held_; }
    // The list page, open for reading and writing (append with a write at its size).
    int fd() const { return list_.get(); }
    // The list's length when the lock was granted (-1 when it is not held), asked of the
    // system then anyway; what is written through fd() since is not counted.
    std::int64_t size_when_locked() const { return held_ ? size_when_locked_ : -1; }
    // Replaces the whole list with `content` in one step: written to a temporary file, flushed,
    // locked, renamed over the list, the root flushed. Runs waiting for the old list's lock find
    // it replaced and lock the new one, so the lock stays held throughout. False with `error`
    // set when a step fails; the list is then unchanged.
    bool replace_list(const std::string& content, std::string* error);
    // Releases the lock by closing the list; false when the close reports a delayed write error.
    bool release();

  private:
    std::string list_path_;
    platform::UniqueFd list_;
    bool held_ = false;
    std::int64_t size_when_locked_ = -1;
};

class ApplicantStore {
  public:
    // Why open() refused a root.
    enum class Refusal { none, malformed, not_declared, nested, missing, unmounted };

    // Opens the store root `root` (a relative path, as the form's `directory` field carries it):
    // refused when it is malformed (empty, absolute, with an empty, "." or ".." component, a
    // '\' or a control byte), not declared (neither named in APPLY_STORE_ROOTS nor holding a
    // descriptor), inside another store root (the folder of an applicant, or below one),
    // missing, or, for a root of APPLY_STORE_MOUNTS, not its own mounted file system
    // (`unmounted`). Reads the environment once, here.
    static std::optional<ApplicantStore> open(std::string_view root, Refusal* why = nullptr);

    // Makes `root` (the folder must exist) a store root by writing its descriptor; for the admin
    // command. False with `error` set when it is refused (nested in a store root, or already
    // holding applicant data of another kind) or cannot be written.
    static bool declare_root(std::string_view root, std::string* error);

    // Whether the folder `path` is declared a store root (named or holding a descriptor),
    // wherever it lies.
    static bool is_store_root(const std::string& path);

    // ---- Paths, composed once ----
    // The page an applicant `name` gets in the store root `root`, opened or not.
    static std::string page_path_in(std::string_view root, std::string_view name);
    const std::string& store_root() const { return root_; }
    std::string list_path() const;       // <root>/index.html
    std::string catalogue_path() const;  // <root>/index.jsonl
    std::string applicant_dir(std::string_view name) const;        // <root>/<name>
    std::string applicant_page_path(std::string_view name) const;  // <root>/<name>/index.html
    std::string erasures_dir() const;                               // <root>/.tmp-erasures

    // The longest name (and resume file name) the root's file system allows, in bytes.
    std::size_t longest_name() const { return longest_name_; }
    // False when the root's file system has less free space or fewer free inodes than the
    // reserve (APPLY_FREE_SPACE_RESERVE, bytes up to 2^64-1; default scaled to the file system,
    // see reserve_default.h). A malformed reserve setting is ignored with a line on standard
    // error.
    bool has_room() const;
    // The free space and inodes of the root's file system against the reserve; nullopt when
    // the file system cannot be asked (the root is missing).
    std::optional<Room> room() const;

    // ---- Filing (apply.cgi) ----
    // Files a checked submission: the first one of a name as a new applicant with a list line,
    // a later one with the earlier submission moved whole into a <stamp>/ folder first. Takes
    // the store lock itself, for as short a time as the order of durable filing allows; the
    // answer is acknowledged only when everything is on stable storage.
    FilingResult file(const Submission& submission) const;

    // ---- Reading (the operations build on these) ----
    // The names of the folders that hold a page, sorted (reserved names left out).
    std::vector<std::string> folder_names() const;
    // Every stored submission in the folder `name`; nullopt when it holds no page.
    std::optional<Applicant> read_folder(std::string_view name) const;
    // Takes the store lock (waits); check held().
    StoreLock lock() const;

  private:
    explicit ApplicantStore(std::string root);

    std::string root_;
    std::size_t longest_name_ = 255;
    // What the file system told when the store was opened, for the first look at its room.
    mutable std::optional<FileSystemSpace> space_at_open_;
};

}  // namespace store
