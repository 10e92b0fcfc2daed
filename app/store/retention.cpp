// Retention runs: everyone whose newest submission is older than the period, erased under one
// hold of the lock.
#include "app/store/operations.h"

namespace store {

std::vector<ApplicantRow> due_for_retention(const Catalogue& catalogue, const std::string& cutoff) {
    return rows_filed_before(applicant_rows(catalogue), cutoff);
}

bool run_retention(const ApplicantStore& store, const std::string& cutoff, int days,
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
    const std::string period = std::to_string(days) + " days";
    if (!finish_erasures(store, lock, audit, error)) return false;
    std::vector<Applicant> due;
    {
        Catalogue catalogue = read_catalogue(store);
        for (const ApplicantRow& row : due_for_retention(catalogue, cutoff)) {
            Applicant a;
            a.folder_name = std::string(row.latest.folder);
            a.person = row.person;
            due.push_back(std::move(a));
        }
    }
    if (!audit.write("retention-run", store.store_root(), "-",
                     "begun: " + std::to_string(due.size()) + " due, " + period + ", newest submission before " + cutoff)) {
        error = "cannot write the audit log " + audit.path() + ": nothing erased";
        return false;
    }
    bool ok = erase_applicants(store, lock, due, audit, "retention-erase",
                               "newest submission before " + cutoff, erased, error);
    std::string summary = std::to_string(erased.size()) + " erased, " + period +
                          (ok ? "" : ", stopped: " + error);
    if (!audit.write("retention-run", store.store_root(), "-", "done: " + summary) && ok) {
        error = "cannot write the audit log " + audit.path();
        return false;
    }
    return ok;
}

}  // namespace store
