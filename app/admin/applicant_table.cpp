// Building, searching and sorting the staff table's rows.
#include "app/admin/applicant_table.h"

#include <algorithm>
#include <unordered_map>

namespace {

char fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool contains_folded(std::string_view text, const std::string& folded_query) {
    auto it = std::search(text.begin(), text.end(), folded_query.begin(), folded_query.end(),
                          [](char a, char b) { return fold(a) == b; });
    return it != text.end();
}

}  // namespace

std::vector<ApplicantRow> applicant_rows(const Catalogue& catalogue) {
    std::unordered_map<std::string_view, std::size_t> index;
    index.reserve(catalogue.lines.size());
    std::vector<ApplicantRow> rows;
    for (const CatalogueLine& line : catalogue.lines) {
        auto [it, added] = index.try_emplace(line.folder, rows.size());
        if (added) rows.push_back({line, 0});
        ApplicantRow& row = rows[it->second];
        ++row.submissions;
        if (line.filed >= row.latest.filed) row.latest = line;
    }
    return rows;
}

bool row_matches(const ApplicantRow& row, const std::string& query) {
    std::string folded(query);
    std::transform(folded.begin(), folded.end(), folded.begin(), fold);
    return contains_folded(row.latest.name, folded) || contains_folded(row.latest.mail, folded) ||
           contains_folded(row.latest.interest, folded);
}

void filter_and_sort(std::vector<ApplicantRow>& rows, const std::string& query, RowOrder order,
                     std::size_t sorted) {
    if (!query.empty())
        std::erase_if(rows, [&](const ApplicantRow& r) { return !row_matches(r, query); });
    auto by = [order](const ApplicantRow& a, const ApplicantRow& b) {
        const CatalogueLine &x = a.latest, &y = b.latest;
        switch (order) {
            case RowOrder::oldest: return x.filed != y.filed ? x.filed < y.filed : x.folder < y.folder;
            case RowOrder::name_ascending: return x.name != y.name ? x.name < y.name : x.folder < y.folder;
            case RowOrder::name_descending: return x.name != y.name ? x.name > y.name : x.folder > y.folder;
            case RowOrder::newest: break;
        }
        return x.filed != y.filed ? x.filed > y.filed : x.folder < y.folder;
    };
    // Every order ends in the folder name, which is unique: the result is fully determined.
    std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(std::min(sorted, rows.size())),
                      rows.end(), by);
}

std::vector<ApplicantRow> rows_filed_before(const std::vector<ApplicantRow>& rows,
                                            const std::string& cutoff) {
    std::vector<ApplicantRow> due;
    for (const ApplicantRow& r : rows)
        if (r.latest.filed < cutoff) due.push_back(r);
    return due;
}
