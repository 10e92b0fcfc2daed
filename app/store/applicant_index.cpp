// Building, searching and sorting the staff table's rows.
#include "app/store/applicant_index.h"

#include <algorithm>
#include <unordered_map>

namespace store {

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
    std::string folded(query);
    std::transform(folded.begin(), folded.end(), folded.begin(), fold);
    for (std::size_t i : row.lines) {
        const CatalogueLine& line = catalogue.lines[i];
        if (contains_folded(line.name, folded) || contains_folded(line.mail, folded) ||
            contains_folded(line.interest, folded))
            return true;
    }
    return false;
}

void filter_rows(const Catalogue& catalogue, std::vector<ApplicantRow>& rows, const std::string& query) {
    if (!query.empty())
        std::erase_if(rows, [&](const ApplicantRow& r) { return !row_matches(catalogue, r, query); });
}

void filter_and_sort(const Catalogue& catalogue, std::vector<ApplicantRow>& rows,
                     const std::string& query, RowOrder order, std::size_t sorted) {
    filter_rows(catalogue, rows, query);
    auto by = [order](const ApplicantRow& a, const ApplicantRow& b) {
        const CatalogueLine &x = a.latest, &y = b.latest;
        // Every order ends in the folder and the person, which are unique together: the result
        // is fully determined.
        auto tie = [&] { return x.folder != y.folder ? x.folder < y.folder : a.person < b.person; };
        auto tie_down = [&] { return x.folder != y.folder ? x.folder > y.folder : a.person > b.person; };
        switch (order) {
            case RowOrder::oldest: return x.filed != y.filed ? x.filed < y.filed : tie();
            case RowOrder::name_ascending: return x.name != y.name ? x.name < y.name : tie();
            case RowOrder::name_descending: return x.name != y.name ? x.name > y.name : tie_down();
            case RowOrder::newest: break;
        }
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
