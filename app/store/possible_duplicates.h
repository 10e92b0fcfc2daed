// Applicants who may be one person filed twice: the same e-mail address (any case) under another
// name, or the same name (folded as search folds it: "Muller" is "Müller") with another address.
// Shown to staff, never merged.
#pragma once

#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "app/store/applicant_index.h"

namespace store {

// Why a row may be another's duplicate.
struct DuplicateSigns {
    bool same_mail = false;  // her address is another row's, under another name
    bool same_name = false;  // her folded name is another row's, with another address
    bool any() const { return same_mail || same_name; }
};

// The signs of each of the `shown` rows (a page of the table), from one pass over the catalogue's
// lines that compares hashes of the person keys and the folded names, no copies of them.
std::vector<DuplicateSigns> duplicate_signs(const Catalogue& catalogue,
                                            std::span<const ApplicantRow> shown);

// The rows that may be duplicates of the applicant of `folder` and `person` (a person_key), with
// why, in the order of `rows`.
std::vector<std::pair<const ApplicantRow*, DuplicateSigns>> duplicates_of(
    const std::vector<ApplicantRow>& rows, std::string_view folder, std::string_view person);

}  // namespace store
