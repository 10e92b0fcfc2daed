// Recording history events under the store lock, audit line first.
#include "app/store/history_changes.h"

#include "app/store/decision_index.h"
#include "app/store/operations.h"

namespace store {

std::string audit_outcome(const HistoryEvent& e) {
    if (e.kind == "decision") return "set: " + decision_label(e.decision);
    if (e.kind == "keep") return "keep until " + e.until;
    return "note added: " + std::to_string(e.text.size()) + " bytes";
}

bool record_events(const ApplicantStore& store, const std::vector<ApplicantRef>& who,
                   HistoryEvent event, const AuditLog& audit, std::vector<std::string>& recorded,
                   std::string& error) {
    if (!audit.configured()) {
        error = "no audit log: nothing is recorded without one";
        return false;
    }
    StoreLock lock = store.lock();
    if (!lock.held()) {
        error = "cannot lock " + store.list_path();
        return false;
    }
    if (!finish_erasures(store, lock, audit, error)) return false;
    event.at = utc_text(lifecycle_now());
    event.by = audit.user();
    // Found under the lock: an applicant erased meanwhile is left out.
    std::vector<Applicant> found;
    std::string lines;
    for (const ApplicantRef& ref : who) {
        auto a = find_applicant(store, ref);
        if (!a) {
            if (who.size() == 1) error = "no such applicant: " + ref.folder;
            continue;
        }
        lines += audit.line(event.kind, store.store_root(), a->folder_name,
                            audit_outcome(event), {}, {ref.person_id, {}});
        found.push_back(std::move(*a));
    }
    if (found.empty()) return error.empty();
    if (!audit.write_lines(lines)) {
        error = "cannot write the audit log " + audit.path() + ": nothing recorded";
        return false;
    }
    const std::string event_line = history_json(event);
    for (const Applicant& a : found) {
        const std::string index_line =
            decision_index_line(a.folder_name, person_id(a.person), event);
        if (!append_flushed_line(history_path(a), event_line, error) ||
            (!index_line.empty() &&
             !append_flushed_line(decision_index_path(store), index_line, error)))
            return false;
        recorded.push_back(a.folder_name);
    }
    return true;
}

}  // namespace store
