// Applicants who may be one person filed twice: the same e-mail address (any case) under another
// name, or the same name (folded as search folds it: "Muller" is "Müller") with another address.
// Shown to staff, never merged.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/store/applicant_index.h"

namespace store {

// Why a row may be another's duplicate.
struct DuplicateSigns {
    bool same_mail = false;  // her address is another row's, under another name
    bool same_name = false;  // her folded name is another row's, with another address
    bool any() const { return same_mail || same_name; }
};

// Counted over every row once (hashes of the keys, no copies of them), then asked per row.
class PossibleDuplicates {
  public:
    explicit PossibleDuplicates(const std::vector<ApplicantRow>& rows);
    DuplicateSigns of(const ApplicantRow& row) const;

  private:
    struct Seen {
        std::uint64_t first = 0;  // the first row's folder (by mail) or person (by name)
        bool another = false;     // a later row differed in it
    };
    std::unordered_map<std::uint64_t, Seen> by_mail_, by_name_;
};

// The rows that may be duplicates of the applicant of `folder` and `person` (a person_key), with
// why, in the order of `rows`.
std::vector<std::pair<const ApplicantRow*, DuplicateSigns>> duplicates_of(
    const std::vector<ApplicantRow>& rows, std::string_view folder, std::string_view person);

}  // namespace store
