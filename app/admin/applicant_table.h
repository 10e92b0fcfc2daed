// The applicants of a store as the staff table shows them: one row per applicant folder from the
// catalogue, searched, sorted and cut into pages.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/admin/staff_store.h"

// One applicant: views into the Catalogue it was built from, valid as long as that lives.
struct ApplicantRow {
    CatalogueLine latest;  // the newest submission's catalogue line
    std::size_t submissions = 0;
};

enum class RowOrder { newest, oldest, name_ascending, name_descending };

// One row per applicant folder, from catalogue lines in filing order.
std::vector<ApplicantRow> applicant_rows(const Catalogue& catalogue);

// True when `query` occurs, ignoring ASCII case, in the name, mail or interest of the
// applicant's latest submission.
bool row_matches(const ApplicantRow& row, const std::string& query);

// Keeps the rows that match `query` (all for an empty one), sorted by `order`; only the first
// `sorted` rows are put in order (a page of the table needs no more).
void filter_and_sort(std::vector<ApplicantRow>& rows, const std::string& query, RowOrder order,
                     std::size_t sorted = static_cast<std::size_t>(-1));

// Rows whose latest submission was filed before `cutoff` (a UTC time in the records' form).
std::vector<ApplicantRow> rows_filed_before(const std::vector<ApplicantRow>& rows,
                                            const std::string& cutoff);
