// The staff console's pages on GET: the applicant table, one applicant, the figures and the
// erasure's confirmation. Nothing here changes the store.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <unordered_set>

#include "app/console/bulk_actions.h"
#include "app/console/console.h"
#include "app/console/form_token.h"
#include "app/store/name_collation.h"
#include "app/store/possible_duplicates.h"
#include "app/shared/privacy_notice.h"
#include "app/store/decision_index.h"
#include "cgi/html_escape.h"

namespace {

// A link target escaped as the store's own links are.
std::string link_part(const std::string& text) {
    std::vector<char> out(3 * text.size() + 1);
    return cgi::link_target_to(out.data(), out.size(), text.c_str()) ? out.data() : "";
}

using store::ApplicantRow;
using store::RowOrder;

// The site path of a stored file: /<root>/<folder>/[<stamp>/]<file>, each part escaped.
std::string file_href(const Console& c, const std::string& folder, const std::string& stamp,
                      const std::string& file) {
    std::string href;
    std::string root = c.store.store_root();
    std::size_t start = 0;
    while (start <= root.size()) {
        std::size_t slash = std::min(root.find('/', start), root.size());
        href += "/" + link_part(root.substr(start, slash - start));
        start = slash + 1;
    }
    href += "/" + link_part(folder) + "/";
    if (!stamp.empty()) href += link_part(stamp) + "/";
    return href + link_part(file);
}


}  // namespace

std::string readable_time(const std::string& filed) {
    if (filed.size() < 16) return filed;
    return filed.substr(0, 10) + " " + filed.substr(11, 5) + " UTC";
}

void token_field(Console& c, const std::string& action, const store::Applicant& applicant) {
    const store::ApplicantRef ref = store::reference_of(applicant);
    const TokenSubject subject{c.user, c.store.store_root(), action, ref.folder, ref.person_id,
                               store::newest_filed(applicant)};
    std::printf("<input type=\"hidden\" name=\"root\" value=\"");
    html(c.store.store_root());
    std::printf("\"><input type=\"hidden\" name=\"a\" value=\"");
    html(ref.folder);
    std::printf("\"><input type=\"hidden\" name=\"p\" value=\"%s\">"
                "<input type=\"hidden\" name=\"action\" value=\"%s\">"
                "<input type=\"hidden\" name=\"token\" value=\"%s\">",
                ref.person_id.c_str(), action.c_str(),
                form_token(c.secret, subject, std::time(nullptr) + TOKEN_LIFETIME_SECONDS).c_str());
}

// The optional field naming the data subject's request the change answers.
void reference_field(const char* id) {
    std::printf("<label class=\"reference\" for=\"%s\">Request reference (optional)</label> "
                "<input id=\"%s\" name=\"reference\" maxlength=\"%zu\" "
                "placeholder=\"DSR-2026-0142\" autocomplete=\"off\">",
                id, id, store::MAX_REFERENCE_BYTES);
}
namespace {

RowOrder order_named(const std::string& sort) {
    if (sort == "oldest") return RowOrder::oldest;
    if (sort == "name") return RowOrder::name_ascending;
    if (sort == "name-desc") return RowOrder::name_descending;
    return RowOrder::newest;
}

// Whether a row's decision passes the table's filter: "" all, "open" every decision but hired,
// rejected and withdrawn, else that decision.
bool decision_passes(const std::string& filter, std::string_view decision) {
    if (filter == "open") return decision != "hired" && decision != "rejected" && decision != "withdrawn";
    return filter.empty() || filter == decision;
}

std::string_view decision_of(const store::DecisionIndex& index, const ApplicantRow& row) {
    const store::ApplicantStatus* status = index.empty() ? nullptr : index.find(row.latest.folder, row.person);
    return status ? std::string_view(status->decision) : std::string_view(store::DEFAULT_DECISION);
}

}  // namespace

void show_table(Console& c) {
    std::string query = c.value("q"), sort = c.value("sort");
    std::string decision = c.value("decision");
    if (decision != "open" && !store::is_decision(decision)) decision.clear();
    bool due_only = c.value("due") == "1" && (c.retention_days > 0 || c.retention_closed_days > 0);
    // Clamped, so that no page number can overflow the row arithmetic below.
    long page = std::clamp(std::strtol(c.value("page").c_str(), nullptr, 10), 1L, 10'000'000L);
    store::Catalogue catalogue = store::read_catalogue(c.store);
    // Without a decision filter only the shown rows' decisions are needed.
    std::optional<store::DecisionIndex> index;
    if (!decision.empty()) index.emplace(store::read_decision_index(c.store));
    std::vector<ApplicantRow> rows;
    if (due_only)
        for (store::DueApplicant& d : due_now(c, catalogue)) rows.push_back(std::move(d.row));
    else
        rows = store::applicant_rows(catalogue);
    if (!decision.empty())
        std::erase_if(rows, [&](const ApplicantRow& r) { return !decision_passes(decision, decision_of(*index, r)); });
    store::filter_rows(catalogue, rows, query);
    // A page past the last shows the last.
    const long last_page = static_cast<long>(std::max<std::size_t>((rows.size() + TABLE_PAGE_ROWS - 1) / TABLE_PAGE_ROWS, 1));
    page = std::min(page, last_page);
    std::size_t first = static_cast<std::size_t>(page - 1) * TABLE_PAGE_ROWS;
    store::filter_and_sort(catalogue, rows, "", order_named(sort), first + TABLE_PAGE_ROWS,
                           store::collation_locale(env(store::COLLATION_LOCALE_VARIABLE)));
    const std::size_t shown = std::min(TABLE_PAGE_ROWS, rows.size() - std::min(first, rows.size()));
    const std::vector<store::DuplicateSigns> duplicates = store::duplicate_signs(
        catalogue, std::span<const ApplicantRow>(rows.data() + first, shown));
    if (!index) {
        std::unordered_set<std::string_view> shown_folders;
        for (std::size_t i = first; i < rows.size() && i < first + TABLE_PAGE_ROWS; ++i)
            shown_folders.insert(rows[i].latest.folder);
        index.emplace(store::read_decision_index(c.store, &shown_folders));
    }

    begin_console_page(c, due_only ? "Due for deletion" : "Applicants");
    std::printf("<form class=\"search\" method=\"get\" action=\"staff.cgi\">"
                "<input type=\"hidden\" name=\"root\" value=\"");
    html(c.store.store_root());
    std::printf("\"><input type=\"search\" name=\"q\" placeholder=\"Name, e-mail or interest\" "
                "aria-label=\"Search\" value=\"");
    html(query);
    std::printf("\"> <select name=\"decision\" aria-label=\"Decision\"><option value=\"\">Every decision</option>"
                "<option value=\"open\"%s>Open (not hired, rejected or withdrawn)</option>",
                decision == "open" ? " selected" : "");
    for (const char* d : store::DECISIONS) {
        std::printf("<option value=\"%s\"%s>", d, decision == d ? " selected" : "");
        html(store::decision_label(d));
        std::printf("</option>");
    }
    std::printf("</select>%s<button>Search</button></form>\n<p class=\"muted\">%zu applicant%s%s</p>\n",
                due_only ? "<input type=\"hidden\" name=\"due\" value=\"1\">" : "", rows.size(),
                rows.size() == 1 ? "" : "s", query.empty() && decision.empty() ? "" : " found");

    std::string keep = (query.empty() ? "" : "q=" + query_escape(query) + "&") +
                       (decision.empty() ? "" : "decision=" + decision + "&") +
                       (due_only ? "due=1&" : "");
    auto sort_link = [&](const char* text, const char* ascending, const char* descending) {
        bool is_ascending = (sort.empty() ? "newest" : sort) == ascending;
        link(console_link(c, keep + "sort=" + (is_ascending ? descending : ascending)), text);
    };
    if (const std::string notice = bulk_notice(c); !notice.empty()) {
        std::printf("<p class=\"notice\" role=\"status\">");
        html(notice);
        std::printf("</p>\n");
    }
    selection_bar(c, {query, decision, sort, due_only, page});
    std::printf("<table class=\"rows\">\n<thead><tr><th>Select</th><th>");
    sort_link("Name", "name", "name-desc");
    std::printf("</th><th>E-mail</th><th>");
    sort_link("Filed", "newest", "oldest");
    std::printf("</th><th>Decision</th><th class=\"count\">Submissions</th><th>Resume</th></tr></thead>\n<tbody>\n");
    for (std::size_t i = first; i < rows.size() && i < first + TABLE_PAGE_ROWS; ++i) {
        const store::CatalogueLine& s = rows[i].latest;
        const std::string folder(s.folder);
        const store::ApplicantRef ref{folder, store::person_id(rows[i].person)};
        std::printf("<tr><td data-label=\"Select\">");
        selection_checkbox(ref, std::string(s.name));
        std::printf("</td><td data-label=\"Name\">");
        link(console_link(c, "view=applicant&" + applicant_query(ref)), std::string(s.name));
        if (const store::DuplicateSigns signs = duplicates[i - first]; signs.any()) {
            // The filtered view that shows her with the others.
            const std::string_view by = signs.same_mail ? s.mail : s.name;
            std::printf(" ");
            link(console_link(c, "q=" + query_escape(std::string(by))), "possible duplicate");
        }
        std::printf("</td><td data-label=\"E-mail\">");
        html(s.mail);
        std::printf("</td><td data-label=\"Filed\">");
        html(readable_time(std::string(s.filed)));
        std::printf("</td><td data-label=\"Decision\">");
        html(store::decision_label(decision_of(*index, rows[i])));
        std::printf("</td><td class=\"count\" data-label=\"Submissions\">%zu</td>"
                    "<td data-label=\"Resume\">", rows[i].submissions());
        // The newest submission's resume: on top when it is the folder's latest, else in its
        // stamp folder (another applicant of the name filed later).
        if (auto a = store::find_applicant(c.store, {folder, store::person_id(rows[i].person)});
            a && a->submissions.front().record && !a->submissions.front().record->resume.empty()) {
            const std::string& resume = a->submissions.front().record->resume;
            link(file_href(c, folder, a->submissions.front().stamp, resume), resume);
        }
        std::printf("</td></tr>\n");
    }
    std::printf("</tbody>\n</table>\n<nav class=\"pages\">");
    std::string at = keep + (sort.empty() ? "" : "sort=" + query_escape(sort) + "&");
    if (page > 1) link(console_link(c, at + "page=" + std::to_string(page - 1)), "Newer");
    std::size_t pages = (rows.size() + TABLE_PAGE_ROWS - 1) / TABLE_PAGE_ROWS;
    std::printf(" <span class=\"muted\">Page %ld of %zu</span> ", page, std::max<std::size_t>(pages, 1));
    if (first + TABLE_PAGE_ROWS < rows.size())
        link(console_link(c, at + "page=" + std::to_string(page + 1)), "Older");
    std::printf("</nav>\n");
    end_console_page();
}

void show_applicant(Console& c) {
    auto applicant = requested_applicant(c);
    if (!applicant) return;
    const std::size_t total = applicant->submissions.size();
    begin_console_page(c, store::shown_record(*applicant, applicant->submissions.front()).name);
    std::printf("<div class=\"actions\"><form method=\"post\" action=\"staff.cgi\">");
    token_field(c, "export", *applicant);
    reference_field("export-reference");
    std::printf(" <button>Export all data (zip)</button></form>\n<a href=\"");
    html(console_link(c, "view=erase&" + applicant_query(store::reference_of(*applicant))));
    std::printf("\">Erase this applicant&hellip;</a> <a href=\"");
    html(console_link(c, "view=audit&" + applicant_query(store::reference_of(*applicant))));
    std::printf("\">Audit log of this applicant</a></div>\n");
    const std::size_t others = store::applicants_in(c.store, applicant->folder_name).size() - 1;
    if (others > 0)
        std::printf("<p class=\"muted\">%zu other applicant%s filed under the same name with "
                    "another e-mail address; they are listed apart.</p>\n",
                    others, others == 1 ? "" : "s");
    show_possible_duplicates(c, *applicant);
    show_history(c, *applicant);
    std::size_t n = total;
    for (const store::StoredSubmission& s : applicant->submissions) {
        const store::Record r = store::shown_record(*applicant, s);
        std::printf("<section class=\"submission\"><h3>Submission %zu of %zu, filed ", n--, total);
        html(readable_time(r.filed));
        std::printf("</h3>\n<p>Name: ");
        html(r.name);
        std::printf("<br>E-mail: ");
        html(r.mail);
        std::printf("<br>Resume: ");
        if (!r.resume.empty()) link(file_href(c, applicant->folder_name, s.stamp, r.resume), r.resume);
        std::printf(" <span class=\"muted\">(%llu bytes)</span> &middot; ",
                    static_cast<unsigned long long>(r.resume_size));
        link(file_href(c, applicant->folder_name, s.stamp, "index.html"), "page as filed");
        std::printf("</p>\n<div class=\"interest\">");
        html(r.interest);
        std::printf("</div></section>\n");
    }
    end_console_page();
}

void show_figures(Console& c) {
    store::Catalogue catalogue = store::read_catalogue(c.store);
    std::vector<ApplicantRow> rows = store::applicant_rows(catalogue);
    std::uintmax_t bytes = 0;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(c.store.store_root(), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file(ec)) bytes += it->file_size(ec);
    begin_console_page(c, "Figures");
    std::printf("<dl class=\"figures\"><dt>Applicants</dt><dd>%zu</dd><dt>Submissions</dt><dd>%zu</dd>"
                "<dt>Size on disk</dt><dd>%.1f MiB</dd>", rows.size(), catalogue.lines.size(),
                static_cast<double>(bytes) / (1024.0 * 1024.0));
    show_retention_figures(c, catalogue);
    // Applicants are owed the notice when their data are collected: say so while there is none.
    if (const char* notice = privacy_notice_address()) {
        std::printf("<dt>Privacy notice</dt><dd>");
        link(std::string(notice), std::string(notice));  // not link(2), which takes two char*
        std::printf("</dd>");
    } else {
        std::printf("<dt>Privacy notice</dt><dd class=\"notice\">Not set: the form links no "
                    "privacy notice, so applicants are not told what happens to their data. Set "
                    "%s to the notice's address (an https:// address, or a path on this site "
                    "such as /privacy.html).</dd>",
                    PRIVACY_NOTICE_VARIABLE);
    }
    show_news_figure();
    std::printf("</dl>\n");
    end_console_page();
}

void show_erase_confirmation(Console& c) {
    auto applicant = requested_applicant(c);
    if (!applicant) return;
    const std::size_t count = applicant->submissions.size();
    const bool alone = store::applicants_in(c.store, applicant->folder_name).size() == 1;
    begin_console_page(c, "Erase " + store::shown_record(*applicant, applicant->submissions.front()).name + "?");
    std::printf("<p class=\"notice\">All %zu submission%s of this applicant (records, pages and "
                "resumes)%s are erased for good. Backups taken before still hold them.</p>\n",
                count, count == 1 ? "" : "s",
                alone ? " and her line in the list"
                      : "; the other applicants of the same name and the name's list line are kept");
    std::printf("<div class=\"actions\"><form method=\"post\" action=\"staff.cgi\">");
    token_field(c, "erase", *applicant);
    reference_field("erase-reference");
    std::printf(" <button class=\"danger\">Erase for good</button></form>\n");
    link(console_link(c, "view=applicant&" + applicant_query(store::reference_of(*applicant))), "Cancel");
    std::printf("</div>\n");
    end_console_page();
}
