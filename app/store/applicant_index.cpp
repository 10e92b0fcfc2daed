// Building, searching and sorting the staff table's rows.
#include "app/store/applicant_index.h"

#include <algorithm>
#include <unordered_map>

#include "app/store/name_collation.h"
#include "app/store/name_folding.h"

namespace store {

namespace {

bool matches_folded(const Catalogue& catalogue, const ApplicantRow& row, std::string_view folded) {
    for (std::size_t i : row.lines) {
        const CatalogueLine& line = catalogue.lines[i];
        if (contains_folded(line.name, folded) || contains_folded(line.mail, folded) ||
            contains_folded(line.interest, folded))
            return true;
    }
    return false;
}

// Puts the first `sorted` rows in the collation's order of their names (keys made once per row),
// ties by folder and person.
void sort_by_name(std::vector<ApplicantRow>& rows, bool descending, std::size_t sorted,
                  const std::string& locale) {
    const NameCollator collator(locale);
    std::string keys;
    keys.reserve(rows.size() * 32);
    struct Keyed {
        std::size_t start, length, row;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::size_t start = keys.size();
        keyed.push_back({start, collator.append_sort_key(rows[i].latest.name, keys), i});
    }
    const std::string_view all(keys);
    auto before = [&](const Keyed& a, const Keyed& b) {
        const int by_key = all.substr(a.start, a.length).compare(all.substr(b.start, b.length));
        if (by_key != 0) return descending ? by_key > 0 : by_key < 0;
        const ApplicantRow &x = rows[a.row], &y = rows[b.row];
        if (x.latest.folder != y.latest.folder)
            return descending ? x.latest.folder > y.latest.folder : x.latest.folder < y.latest.folder;
        return descending ? x.person > y.person : x.person < y.person;
    };
    std::partial_sort(keyed.begin(),
                      keyed.begin() + static_cast<std::ptrdiff_t>(std::min(sorted, keyed.size())),
                      keyed.end(), before);
    std::vector<ApplicantRow> ordered;
    ordered.reserve(rows.size());
    for (const Keyed& k : keyed) ordered.push_back(std::move(rows[k.row]));
    rows = std::move(ordered);
}

}  // namespace

std::vector<ApplicantRow> applicant_rows(const Catalogue& catalogue) {
    // Keyed by folder, then person: a folder's people are few.
    std::unordered_map<std::string_view, std::vector<std::size_t>> by_folder;
    by_folder.reserve(catalogue.lines.size());
    std::vector<ApplicantRow> rows;
    for (std::size_t i = 0; i < catalogue.lines.size(); ++i) {
        const CatalogueLine& line = catalogue.lines[i];
        std::string person = person_key(line.mail);
        std::vector<std::size_t>& of_folder = by_folder[line.folder];
        auto it = std::find_if(of_folder.begin(), of_folder.end(),
                               [&](std::size_t r) { return rows[r].person == person; });
        if (it == of_folder.end()) {
            of_folder.push_back(rows.size());
            rows.push_back({line, std::move(person), {}});
            it = of_folder.end() - 1;
        }
        ApplicantRow& row = rows[*it];
        row.lines.push_back(i);
        if (line.filed >= row.latest.filed) row.latest = line;
    }
    return rows;
}

bool row_matches(const Catalogue& catalogue, const ApplicantRow& row, const std::string& query) {
    return matches_folded(catalogue, row, folded_for_search(query));
}

void filter_rows(const Catalogue& catalogue, std::vector<ApplicantRow>& rows, const std::string& query) {
    if (query.empty()) return;
    // Folded once for every row.
    const std::string folded = folded_for_search(query);
    std::erase_if(rows, [&](const ApplicantRow& r) { return !matches_folded(catalogue, r, folded); });
}

void filter_and_sort(const Catalogue& catalogue, std::vector<ApplicantRow>& rows,
                     const std::string& query, RowOrder order, std::size_t sorted,
                     const std::string& collation) {
    filter_rows(catalogue, rows, query);
    if (order == RowOrder::name_ascending || order == RowOrder::name_descending) {
        sort_by_name(rows, order == RowOrder::name_descending, sorted, collation);
        return;
    }
    auto by = [order](const ApplicantRow& a, const ApplicantRow& b) {
        const CatalogueLine &x = a.latest, &y = b.latest;
        // Every order ends in the folder and the person, which are unique together: the result
        // is fully determined.
        auto tie = [&] { return x.folder != y.folder ? x.folder < y.folder : a.person < b.person; };
        if (order == RowOrder::oldest) return x.filed != y.filed ? x.filed < y.filed : tie();
        return x.filed != y.filed ? x.filed > y.filed : tie();
    };
    std::partial_sort(rows.begin(),
                      rows.begin() + static_cast<std::ptrdiff_t>(std::min(sorted, rows.size())),
                      rows.end(), by);
}

std::vector<ApplicantRow> rows_filed_before(const std::vector<ApplicantRow>& rows,
                                            const std::string& cutoff) {
    std::vector<ApplicantRow> due;
    for (const ApplicantRow& r : rows)
        if (r.latest.filed < cutoff) due.push_back(r);
    return due;
}

}  // namespace store
