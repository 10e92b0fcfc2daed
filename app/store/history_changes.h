// Recording decisions, notes and keeps: each named in the audit log first, then appended to the
// applicant's history and (decisions and keeps) to the decision index, under the store lock.
#pragma once

#include <string>
#include <vector>

#include "app/store/applicant_history.h"
#include "app/store/applicants.h"
#include "app/store/audit_log.h"

namespace store {

// Records `event` (kind and its fields set; "at" and "by" are filled in: lifecycle_now() and the
// audit log's user) for each applicant of `who` under one hold of the lock, with one audit line
// each, all written before the first history line. An applicant no longer there is left out
// (with `error` set when she is the only one). `recorded` gets the folders of those recorded;
// false at the first failure, when what was appended before it stays.
bool record_events(const ApplicantStore& store, const std::vector<ApplicantRef>& who,
                   HistoryEvent event, const AuditLog& audit, std::vector<std::string>& recorded,
                   std::string& error);

// The audit line's outcome for an event: what was recorded, never the note's text. Her person id
// goes into the line's own field, as erasures and exports write it.
std::string audit_outcome(const HistoryEvent& event);

}  // namespace store
