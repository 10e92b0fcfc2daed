// Erasures in progress: each writes its plan into the root's erasures folder before its first
// change and removes it when done, so that whoever takes the store lock next can finish it (and
// write its audit line), and filing never files into a folder an erasure is working on.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/store/applicant_store.h"

namespace store {

struct ErasurePlan {
    std::string id;      // names <erasures>/<id>.json and the folder <erasures>/<id>/
    std::string folder;  // the name's folder
    std::string person;  // person_key of the applicant erased
    // Every submission of the folder is the applicant's: the folder goes whole.
    bool whole = false;
    // Otherwise: the applicant's earlier submissions (stamp folders) ...
    std::vector<std::string> stamps;
    // ... and, when the folder's latest submission is hers, the stamp of the other applicant's
    // submission that becomes the latest, and the resume name the erased latest had.
    bool latest = false;
    std::string promote;
    std::string old_resume;
    // For the audit line of the one who finishes it (reference: the data subject's request, if
    // any; plans written before there were references have none).
    std::string user, action, reference;
};

// The plan as one JSON object, and back; nullopt for a file that is not a whole plan.
std::string plan_json(const ErasurePlan& plan);
std::optional<ErasurePlan> parse_plan(std::string_view json);

// The plans left in the root's erasures folder, oldest first.
std::vector<ErasurePlan> pending_erasures(const ApplicantStore& store);
// Whether an erasure of the folder `name` is in progress. One failed stat when none is.
bool erasure_pending_for(const ApplicantStore& store, std::string_view name);

}  // namespace store
