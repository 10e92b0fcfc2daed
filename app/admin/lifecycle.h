// What staff do with an applicant's data besides reading it: the clock retention counts by, the
// audit log, the export archive, retention runs, the consistency check and backups.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "app/admin/applicant_table.h"
#include "app/admin/staff_store.h"

// "Now" for retention: APPLY_NOW when set (a UTC time "2026-12-08T16:20:05Z" or seconds since
// 1970, for tests and dry runs), otherwise the system clock.
std::time_t lifecycle_now();
// A UTC time in the records' form.
std::string utc_text(std::time_t t);
// The records' form of `now` less `days` days: latest submissions before it are due.
std::string retention_cutoff(std::time_t now, int days);

// Appends one line to the audit log at `path` (outside the site) and flushes it to disk before
// returning true: "<UTC time>\t<user>\t<action>\t<store root>\t<applicant>\t<outcome>".
// Tabs and line ends in the texts become spaces, so that one line is one action.
bool audit(const std::string& path, const std::string& user, const std::string& action,
           const std::string& root, const std::string& applicant, const std::string& outcome);
// One audit line without writing it, for append_audit.
std::string audit_line(const std::string& user, const std::string& action, const std::string& root,
                       const std::string& applicant, const std::string& outcome);
// Appends `lines` (whole audit lines) with one write and one flush.
bool append_audit(const std::string& path, const std::string& lines);

// Writes every submission of `applicant` (record, page, resume; newest first, in folders named
// after the applicant and the submission) as a zip archive to `fd`. False with `error` when a
// file cannot be read or the archive not written.
bool write_export(const StaffStore& store, const Applicant& applicant, int fd, std::string& error);

// Erases every applicant whose latest submission was filed before `cutoff`, under one hold of
// the store lock. The names erased go to `erased`; false at the first failure.
bool run_retention(StaffStore& store, const std::string& cutoff, std::vector<std::string>& erased,
                   std::string& error);

// One finding of the consistency check.
struct StoreProblem {
    std::string what;    // "line without folder", "folder without line", ...
    std::string folder;
};
// Checks that every list line has its folder and page, every folder with a page its one line,
// and that the catalogue matches the records. With `repair`, under the lock, puts it right:
// lines without a folder and repeated or broken lines go, a listed folder's page stays, an
// unlisted applicant gets a line, the catalogue is rebuilt from the records.
std::vector<StoreProblem> check_store(StaffStore& store, bool repair, std::string& error);

// A copy of the store root at `destination` (a new folder), taken under the lock so that no
// filing or erasure happens half in it. Temporary files are left out.
bool backup_store(const StaffStore& store, const std::string& destination, std::string& error);
// Copies a backup into `root`, which must be missing or empty.
bool restore_store(const std::string& source, const std::string& root, std::string& error);
