// Retention runs: who is due, and their erasure under one hold of the lock. A rejected or
// withdrawn applicant is due `closed_days` after that decision, when it is newer than her latest
// submission (a new application reopens her); anyone else `days` after her latest submission; a
// "keep until" date holds both off through that day.
#include <algorithm>

#include "app/store/decision_index.h"
#include "app/store/operations.h"

namespace store {

namespace {

std::string day_of(std::string_view time) {
    return std::string(time.substr(0, 10));
}

std::string periods_text(const RetentionPeriods& p) {
    std::string text;
    if (p.days > 0) text = std::to_string(p.days) + " days after the latest submission";
    if (p.closed_days > 0)
        text += (text.empty() ? "" : ", ") + std::to_string(p.closed_days) +
                " days after a rejection or withdrawal";
    return text;
}

}  // namespace

std::vector<DueApplicant> due_for_retention(const Catalogue& catalogue, const DecisionIndex& index,
                                            std::time_t now, const RetentionPeriods& periods) {
    std::vector<DueApplicant> due;
    const std::string today = day_of(utc_text(now));
    const std::string filed_cutoff = periods.days > 0 ? retention_cutoff(now, periods.days) : "";
    const std::string closed_cutoff =
        periods.closed_days > 0 ? retention_cutoff(now, periods.closed_days) : "";
    for (ApplicantRow& row : applicant_rows(catalogue)) {
        const ApplicantStatus* status = index.empty() ? nullptr : index.find(row.latest.folder, row.person);
        if (status && !status->keep_until.empty() && status->keep_until >= today) continue;
        // Without a period for closed applications, they count as undecided.
        const bool closed = !closed_cutoff.empty() && status && is_closing_decision(status->decision) &&
                            status->decided_at > row.latest.filed;
        std::string reason;
        if (closed) {
            if (status->decided_at < closed_cutoff)
                reason = status->decision + " " + day_of(status->decided_at) + ", " +
                         std::to_string(periods.closed_days) + " days";
        } else if (!filed_cutoff.empty() && row.latest.filed < filed_cutoff) {
            reason = "last submission " + day_of(row.latest.filed) + ", " +
                     std::to_string(periods.days) + " days";
        }
        if (!reason.empty()) due.push_back({std::move(row), std::move(reason)});
    }
    return due;
}

bool run_retention(const ApplicantStore& store, std::time_t now, const RetentionPeriods& periods,
                   const AuditLog& audit, std::vector<std::string>& erased, std::string& error) {
    if (!audit.configured()) {
        error = "no audit log: nothing is erased without one";
        return false;
    }
    StoreLock lock = store.lock();
    if (!lock.held()) {
        error = "cannot lock " + store.list_path();
        return false;
    }
    const std::string period = periods_text(periods);
    if (!finish_erasures(store, lock, audit, error)) return false;
    // Decided under the lock: a submission filed meanwhile makes its applicant current again.
    std::vector<Applicant> closed, undecided;
    {
        Catalogue catalogue = read_catalogue(store);
        for (const DueApplicant& d : due_for_retention(catalogue, read_decision_index(store), now, periods)) {
            Applicant a;
            a.folder_name = std::string(d.row.latest.folder);
            a.person = d.row.person;
            (d.reason.starts_with("last submission") ? undecided : closed).push_back(std::move(a));
        }
    }
    if (!audit.write("retention-run", store.store_root(), "-",
                     "begun: " + std::to_string(closed.size() + undecided.size()) + " due, " + period)) {
        error = "cannot write the audit log " + audit.path() + ": nothing erased";
        return false;
    }
    bool ok = erase_applicants(store, lock, closed, audit, "retention-erase",
                               "rejected or withdrawn before " +
                                   (periods.closed_days > 0 ? retention_cutoff(now, periods.closed_days) : ""),
                               erased, error) &&
              erase_applicants(store, lock, undecided, audit, "retention-erase",
                               "newest submission before " +
                                   (periods.days > 0 ? retention_cutoff(now, periods.days) : ""),
                               erased, error);
    std::string summary = std::to_string(erased.size()) + " erased, " + period +
                          (ok ? "" : ", stopped: " + error);
    if (!audit.write("retention-run", store.store_root(), "-", "done: " + summary) && ok) {
        error = "cannot write the audit log " + audit.path();
        return false;
    }
    return ok;
}

}  // namespace store
