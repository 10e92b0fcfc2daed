// The applicants of a store as the staff table shows them: one row per applicant (a folder and a
// person_key) from the catalogue, searched over every submission, sorted and cut into pages.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/store/catalogue.h"

namespace store {

// One applicant: views into the Catalogue it was built from, valid as long as that lives.
struct ApplicantRow {
    CatalogueLine latest;            // her newest submission's catalogue line
    std::string person;              // person_key of her mail
    std::vector<std::size_t> lines;  // her lines' indices in the catalogue, in filing order
    std::size_t submissions() const { return lines.size(); }
};

enum class RowOrder { newest, oldest, name_ascending, name_descending };

// One row per applicant, from catalogue lines in filing order.
std::vector<ApplicantRow> applicant_rows(const Catalogue& catalogue);

// True when `query` occurs, folded as folded_for_search does (case and accents ignored), in the
// name, mail or interest of any of the applicant's submissions.
bool row_matches(const Catalogue& catalogue, const ApplicantRow& row, const std::string& query);

// Keeps the rows that match `query` (all for an empty one).
void filter_rows(const Catalogue& catalogue, std::vector<ApplicantRow>& rows, const std::string& query);
// filter_rows, then the rows sorted by `order`, names in the collation of the locale `collation`
// (name_collation.h); only the first `sorted` rows are put in order (a page of the table needs
// no more).
void filter_and_sort(const Catalogue& catalogue, std::vector<ApplicantRow>& rows,
                     const std::string& query, RowOrder order,
                     std::size_t sorted = static_cast<std::size_t>(-1),
                     const std::string& collation = "en");

// Rows whose newest submission was filed before `cutoff` (a UTC time in the records' form).
std::vector<ApplicantRow> rows_filed_before(const std::vector<ApplicantRow>& rows,
                                            const std::string& cutoff);

}  // namespace store
