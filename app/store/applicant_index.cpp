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
    // Only the first `sorted` places are filled by swaps; the rest stay in any order.
    std::vector<std::size_t> where(rows.size()), at(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) where[i] = at[i] = i;
    for (std::size_t k = 0; k < std::min(sorted, keyed.size()); ++k) {
        const std::size_t from = where[keyed[k].row];
        std::swap(rows[k], rows[from]);
        std::swap(at[k], at[from]);
        where[at[k]] = k;
        where[at[from]] = from;
    }
}

}  // namespace

std::vector<ApplicantRow> applicant_rows(const Catalogue& catalogue) {
    // The first row of each folder, and the folder's further rows chained from it: a folder's
    // people are few, and no list is allocated per folder.
    constexpr std::size_t NONE = static_cast<std::size_t>(-1);
    std::unordered_map<std::string_view, std::size_t> first_of_folder;
    first_of_folder.reserve(catalogue.lines.size());
    std::vector<std::size_t> next_in_folder;
    std::vector<ApplicantRow> rows;
    for (std::size_t i = 0; i < catalogue.lines.size(); ++i) {
        const CatalogueLine& line = catalogue.lines[i];
        std::string person = person_key(line.mail);
        auto [first, fresh] = first_of_folder.try_emplace(line.folder, rows.size());
        std::size_t r = first->second, last = NONE;
        if (!fresh)
            while (r != NONE && rows[r].person != person) last = r, r = next_in_folder[r];
        if (fresh || r == NONE) {
            r = rows.size();
            if (last != NONE) next_in_folder[last] = r;
            rows.push_back({line, std::move(person), {}});
            next_in_folder.push_back(NONE);
        }
        ApplicantRow& row = rows[r];
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
