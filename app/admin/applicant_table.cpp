// Building, searching and sorting the staff table's rows.
#include "app/admin/applicant_table.h"

#include <algorithm>
#include <unordered_map>

namespace {

char fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool contains_folded(const std::string& text, const std::string& folded_query) {
    auto it = std::search(text.begin(), text.end(), folded_query.begin(), folded_query.end(),
                          [](char a, char b) { return fold(a) == b; });
    return it != text.end();
}

}  // namespace

std::vector<ApplicantRow> applicant_rows(std::vector<Submission> catalogue) {
    std::unordered_map<std::string_view, std::size_t> index;
    index.reserve(catalogue.size());
    std::vector<std::size_t> latest;  // for each row, the catalogue line of its latest submission
    std::vector<std::size_t> counts;
    for (std::size_t i = 0; i < catalogue.size(); ++i) {
        auto [it, added] = index.try_emplace(catalogue[i].folder, latest.size());
        if (added) {
            latest.push_back(i);
            counts.push_back(0);
        }
        ++counts[it->second];
        if (catalogue[i].filed >= catalogue[latest[it->second]].filed) latest[it->second] = i;
    }
    index.clear();  // its keys view the catalogue's strings, which move next
    std::vector<ApplicantRow> rows(latest.size());
    for (std::size_t r = 0; r < rows.size(); ++r)
        rows[r] = {std::move(catalogue[latest[r]]), counts[r]};
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
        const Submission &x = a.latest, &y = b.latest;
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
