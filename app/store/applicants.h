// Applicants as staff see them: a name's folder split into the people who filed under it (by
// person_key), each with her own submissions, and the reference that names one of them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/store/applicant_store.h"

namespace store {

// What names one applicant outside the store (the console's links and forms, the tokens): her
// folder and the first 32 hex digits of the SHA-256 of her person_key.
struct ApplicantRef {
    std::string folder;
    std::string person_id;
};
std::string person_id(std::string_view key);
ApplicantRef reference_of(const Applicant& applicant);

// The applicants of the folder `name`: the one whose submission is the folder's latest first,
// then the others by their newest submission. Empty when the folder holds no page.
std::vector<Applicant> applicants_in(const ApplicantStore& store, std::string_view name);
// The applicant `ref` names; nullopt when she is not (or no longer) there.
std::optional<Applicant> find_applicant(const ApplicantStore& store, const ApplicantRef& ref);
// The applicant of the folder `name` with the e-mail address `mail` (any case), or the folder's
// only applicant when `mail` is empty; nullopt with `error` set otherwise.
std::optional<Applicant> find_applicant(const ApplicantStore& store, std::string_view name,
                                        std::string_view mail, std::string& error);

// A submission's record as staff see it: a page filed before records were kept shows under the
// folder's name, undated.
Record shown_record(const Applicant& applicant, const StoredSubmission& submission);
// The filing time of the applicant's newest submission ("" when undated).
std::string newest_filed(const Applicant& applicant);
// The files of one submission relative to the applicant's folder (record, page, resume).
std::vector<std::string> submission_files(const StoredSubmission& submission);

}  // namespace store
