// What staff do with stored data besides reading it: erasure, retention, the consistency check,
// backups and export. Every change is named in the audit log before its first step and again
// when it is done; an erasure cut short is finished (and its second line written) by whoever
// takes the store lock for an operation next.
#pragma once

#include <string>
#include <vector>

#include "app/store/applicant_index.h"
#include "app/store/applicants.h"
#include "app/store/audit_log.h"
#include "app/store/decision_index.h"

namespace store {

// Erases each applicant under the held lock: her submissions (records, pages, resumes), her
// catalogue lines and, when nobody else filed under her name, the folder and its list line;
// otherwise the folder's page shows the latest submission left. The audit lines naming every
// erasure go first ("<action>" with "begun: ..."), the lines saying each done last. `erased`
// gets the folders of those erased; false at the first failure, after which the next operation
// finishes what was begun. A `reference` (a data subject's request, checked by the caller with
// reference_problem) goes into every audit line of these erasures, also when another finishes them.
bool erase_applicants(const ApplicantStore& store, const StoreLock& held,
                      const std::vector<Applicant>& applicants, const AuditLog& audit,
                      const std::string& action, const std::string& reason,
                      std::vector<std::string>& erased, std::string& error,
                      const std::string& reference = {});
// Takes the lock and erases one applicant.
bool erase_applicant(const ApplicantStore& store, const Applicant& applicant,
                     const AuditLog& audit, std::string& error, const std::string& reference = {});
// Finishes the erasures a crash or kill cut short, under the held lock, and writes their second
// audit line. Without an audit log it leaves them (false, with `error` saying so).
bool finish_erasures(const ApplicantStore& store, const StoreLock& held, const AuditLog& audit,
                     std::string& error);

// The periods retention counts, in days: after her latest submission (0: never), and after a
// rejection or withdrawal newer than it (0: such applicants count as undecided)
// (APPLY_RETENTION_DAYS and APPLY_RETENTION_CLOSED_DAYS).
struct RetentionPeriods {
    int days = 0;
    int closed_days = 0;
};
// One applicant due, and why: "rejected 2026-06-01, 180 days", "last submission 2026-01-03,
// 365 days".
struct DueApplicant {
    ApplicantRow row;
    std::string reason;
};
// Who is due at `now`: a rejected or withdrawn applicant (the decision newer than her latest
// submission) `closed_days` after the decision, anyone else `days` after her latest submission;
// none while a "keep until" date has not passed.
std::vector<DueApplicant> due_for_retention(const Catalogue& catalogue, const DecisionIndex& index,
                                            std::time_t now, const RetentionPeriods& periods);
// Erases, under one hold of the lock, everyone due at `now` (decided under the lock: a
// submission filed meanwhile makes its applicant current again), with the audit lines of a
// retention run ("retention-run") around them. `erased` gets their folders.
bool run_retention(const ApplicantStore& store, std::time_t now, const RetentionPeriods& periods,
                   const AuditLog& audit, std::vector<std::string>& erased, std::string& error);

// One finding of the consistency check.
struct StoreProblem {
    std::string what;  // "list line without applicant folder", ...
    std::string folder;
    bool repairable = true;  // false: reported only, whatever --repair says
};
// Checks, under the lock, the list against the folders and the catalogue against the records.
// What a filing in progress explains is not reported. With `repair`: repeated and broken list
// lines go, an applicant folder without its line gets one, the catalogue is rebuilt from the
// records, erasures cut short are finished; a list line whose folder is missing stays (the
// folder may be restored from a backup) and is reported only.
std::vector<StoreProblem> check_store(const ApplicantStore& store, bool repair,
                                      const AuditLog& audit, std::string& error);

// A copy of the store root at `destination` (a new folder) with its manifest, taken under the
// lock so that no filing or erasure happens half in it: folders and regular files only, modes
// 0750 and 0640.
bool backup_store(const ApplicantStore& store, const std::string& destination, std::string& error);
// Checks a backup against its manifest; the findings go to `problems`.
bool verify_store_backup(const std::string& backup, std::vector<std::string>& problems,
                         std::string& error);
// Puts a verified backup into `root` (missing or empty), through a staging folder moved into
// place whole, with the audit lines around it.
bool restore_store(const std::string& backup, const std::string& root, const AuditLog& audit,
                   std::string& error);

// Writes every submission of `applicant` (record, page, resume; newest first, in folders named
// after the folder and the submission) as a zip archive to `fd`.
bool write_export(const Applicant& applicant, int fd, std::string& error);

}  // namespace store
