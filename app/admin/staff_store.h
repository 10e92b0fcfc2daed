// The staff's view of one store root: the catalogue, applicants and their submissions, the list
// lock, and erasure in an order that a crash cannot turn into a dead link or an unlisted folder.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/store/applicant_store.h"
#include "platform/file_lock.h"
#include "platform/files.h"

// One submission as its record describes it. `stamp` is empty for an applicant's latest
// submission and names the history folder of an earlier one.
struct Submission {
    std::string folder;  // the applicant folder's name
    std::string stamp;
    std::string name, mail, interest, resume, filed;
    std::int64_t resume_size = 0;
};

// One catalogue line: its fields as views into the Catalogue that holds it, and the line itself.
struct CatalogueLine {
    std::string_view folder, stamp, name, mail, interest, resume, filed;
    std::int64_t resume_size = 0;
    std::string_view text;  // the whole JSON line, without its line end
    Submission submission() const;
};

// The catalogue read whole. Its lines view one buffer it owns (no allocation per field: the console
// reads 100,000 lines for a page); they live as long as the Catalogue.
class Catalogue {
  public:
    std::vector<CatalogueLine> lines;

  private:
    friend class StaffStore;
    std::unique_ptr<char[]> buffer_;
    std::deque<std::string> owned_;  // texts of lines rebuilt from records
};

// An applicant with every submission found on disk, newest first.
struct Applicant {
    std::string folder;
    std::vector<Submission> submissions;
};

// Holds the store lock (the fcntl lock on the list page) for as long as it lives.
class StoreLock {
  public:
    explicit StoreLock(const std::string& list_path);
    bool held() const { return lock_ && lock_->held(); }
    int list_fd() const { return list_.get(); }

  private:
    platform::UniqueFd list_;
    std::optional<platform::ExclusiveFileLock> lock_;
};

class StaffStore {
  public:
    // A store root as the store class opens it (declared in APPLY_STORE_ROOTS or by its
    // descriptor, never inside another, never leaving the site). Null with `error` set otherwise.
    static std::optional<StaffStore> open(const std::string& root, std::string& error);

    const std::string& root() const { return root_; }
    std::string list_path() const { return root_ + "/index.html"; }
    std::string catalogue_path() const { return root_ + "/index.jsonl"; }
    std::string folder_path(const std::string& folder) const { return root_ + "/" + folder; }

    // Every line of the catalogue, one per filed submission, in filing order. Lines that are
    // not a whole record are skipped. Without a catalogue, it is rebuilt from the records.
    Catalogue read_catalogue() const;
    // Every applicant folder's name (reserved names and temporary files left out).
    std::vector<std::string> applicant_folders() const;
    // The applicant in `folder` with every submission, or nothing when the folder holds none.
    std::optional<Applicant> read_applicant(const std::string& folder) const;
    // The files of one submission, relative to the applicant folder (record, page, resume).
    static std::vector<std::string> submission_files(const Submission& s);

    StoreLock lock() const { return StoreLock(list_path()); }

    // Erases the applicant in `folder`: every submission and the list and catalogue lines, all
    // flushed. Takes the store lock unless the caller passes the one it holds. False with
    // `error` when the applicant is not there or a step fails; a failed erasure is finished
    // by the next one (finish_interrupted_erasures).
    bool erase(const std::string& folder, std::string& error, const StoreLock* held = nullptr);
    // Erases several applicants under the held lock in one pass: every folder hidden first, then
    // one rewrite of the list and the catalogue, then the files. The folders not found (erased
    // meanwhile) are skipped and left out of `erased`.
    bool erase_all(const std::vector<std::string>& folders, const StoreLock& held,
                   std::vector<std::string>& erased, std::string& error);
    // Finishes erasures a crash cut short (a hidden .tmp-erase- folder is left): removes what
    // they left and puts the list right. Call under the lock, with its descriptor: fcntl locks
    // belong to the process, and closing any other descriptor of the list would drop it.
    bool finish_interrupted_erasures(int list_fd, std::string& error) const;

    // The list's lines, parsed: each line's applicant folder ("" for a line not of the form).
    struct ListLine {
        std::string text;    // the whole line with its line end
        std::string folder;  // the link target decoded
    };
    std::vector<ListLine> read_list(int list_fd) const;
    // Rewrites the list in place (its file is the lock: it is never replaced) and flushes it.
    bool write_list(int list_fd, const std::vector<ListLine>& lines) const;
    // Rewrites the catalogue in place with `text` (whole lines) under the held lock, and flushes it.
    bool write_catalogue(const std::string& text) const;
    // The list line filing writes for an applicant folder.
    static std::string list_line_for(const std::string& folder);

  private:
    StaffStore(std::string root, store::ApplicantStore opened)
        : root_(std::move(root)), store_(std::move(opened)) {}
    std::string root_;
    store::ApplicantStore store_;
};

// The record of a submission as JSON text (one catalogue line without its line end).
std::string catalogue_line(const Submission& s);
// True for names the store reserves: ".", "..", "index.*", ".tmp-*".
bool is_reserved_name(const std::string& name);
