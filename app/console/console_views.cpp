// The staff console's pages on GET: the applicant table, one applicant, the figures and the
// erasure's confirmation. Nothing here changes the store.
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "app/admin/lifecycle.h"
#include "app/console/console.h"
#include "app/console/form_token.h"
#include "app/privacy_notice.h"
#include "cgi/html_escape.h"

namespace {

// A link target escaped as the store's own links are.
std::string link_part(const std::string& text) {
    std::vector<char> out(3 * text.size() + 1);
    return cgi::link_target_to(out.data(), out.size(), text.c_str()) ? out.data() : "";
}

// The site path of a stored file: /<root>/<folder>/[<stamp>/]<file>, each part escaped.
std::string file_href(const Console& c, const Submission& s, const std::string& file) {
    std::string href;
    std::string root = c.store.root();
    std::size_t start = 0;
    while (start <= root.size()) {
        std::size_t slash = std::min(root.find('/', start), root.size());
        href += "/" + link_part(root.substr(start, slash - start));
        start = slash + 1;
    }
    href += "/" + link_part(s.folder) + "/";
    if (!s.stamp.empty()) href += link_part(s.stamp) + "/";
    return href + link_part(file);
}

void link(const std::string& href, const std::string& text) {
    std::printf("<a href=\"");
    html(href);
    std::printf("\">");
    html(text);
    std::printf("</a>");
}

// The filing time as staff read it: "2026-12-08 16:20 UTC".
std::string readable_time(const std::string& filed) {
    if (filed.size() < 16) return filed;
    return filed.substr(0, 10) + " " + filed.substr(11, 5) + " UTC";
}

void token_field(Console& c, const std::string& action, const std::string& folder) {
    std::printf("<input type=\"hidden\" name=\"root\" value=\"");
    html(c.store.root());
    std::printf("\"><input type=\"hidden\" name=\"a\" value=\"");
    html(folder);
    std::printf("\"><input type=\"hidden\" name=\"action\" value=\"%s\">"
                "<input type=\"hidden\" name=\"token\" value=\"%s\">",
                action.c_str(), form_token(c.secret, c.user, c.store.root(), action, folder).c_str());
}

RowOrder order_named(const std::string& sort) {
    if (sort == "oldest") return RowOrder::oldest;
    if (sort == "name") return RowOrder::name_ascending;
    if (sort == "name-desc") return RowOrder::name_descending;
    return RowOrder::newest;
}

std::string retention_cutoff_now(const Console& c) {
    return c.retention_days > 0 ? retention_cutoff(lifecycle_now(), c.retention_days) : "";
}

}  // namespace

void show_table(Console& c) {
    std::string query = c.value("q"), sort = c.value("sort");
    bool due_only = c.value("due") == "1" && c.retention_days > 0;
    // Clamped, so that no page number can overflow the row arithmetic below.
    long page = std::clamp(std::strtol(c.value("page").c_str(), nullptr, 10), 1L, 10'000'000L);
    Catalogue catalogue = c.store.read_catalogue();
    std::vector<ApplicantRow> rows = applicant_rows(catalogue);
    if (due_only) rows = rows_filed_before(rows, retention_cutoff_now(c));
    std::size_t first = static_cast<std::size_t>(page - 1) * TABLE_PAGE_ROWS;
    filter_and_sort(rows, query, order_named(sort), first + TABLE_PAGE_ROWS);

    begin_console_page(c, due_only ? "Due for deletion" : "Applicants");
    std::printf("<form class=\"search\" method=\"get\" action=\"staff.cgi\">"
                "<input type=\"hidden\" name=\"root\" value=\"");
    html(c.store.root());
    std::printf("\"><input type=\"search\" name=\"q\" placeholder=\"Name, e-mail or interest\" "
                "aria-label=\"Search\" value=\"");
    html(query);
    std::printf("\"><button>Search</button></form>\n<p class=\"muted\">%zu applicant%s%s</p>\n",
                rows.size(), rows.size() == 1 ? "" : "s", query.empty() ? "" : " found");

    std::string keep = (query.empty() ? "" : "q=" + query_escape(query) + "&") +
                       (due_only ? "due=1&" : "");
    auto sort_link = [&](const char* text, const char* ascending, const char* descending) {
        bool is_ascending = (sort.empty() ? "newest" : sort) == ascending;
        link(console_link(c, keep + "sort=" + (is_ascending ? descending : ascending)), text);
    };
    std::printf("<table>\n<thead><tr><th>");
    sort_link("Name", "name", "name-desc");
    std::printf("</th><th>E-mail</th><th>");
    sort_link("Filed", "newest", "oldest");
    std::printf("</th><th class=\"count\">Submissions</th><th>Resume</th></tr></thead>\n<tbody>\n");
    for (std::size_t i = first; i < rows.size() && i < first + TABLE_PAGE_ROWS; ++i) {
        Submission s = rows[i].latest.submission();
        std::printf("<tr><td>");
        link(console_link(c, "view=applicant&a=" + query_escape(s.folder)), s.name);
        std::printf("</td><td>");
        html(s.mail);
        std::printf("</td><td>");
        html(readable_time(s.filed));
        std::printf("</td><td class=\"count\">%zu</td><td>", rows[i].submissions);
        Submission latest = s;  // a catalogue line may carry its filing stamp; the files are on top
        latest.stamp.clear();
        if (!s.resume.empty()) link(file_href(c, latest, s.resume), s.resume);
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
    std::string folder = c.value("a");
    auto applicant = requested_applicant(c, folder);
    if (!applicant) return;
    begin_console_page(c, applicant->submissions.front().name);
    std::printf("<div class=\"actions\"><form method=\"post\" action=\"staff.cgi\">");
    token_field(c, "export", folder);
    std::printf("<button>Export all data (zip)</button></form>\n<a href=\"");
    html(console_link(c, "view=erase&a=" + query_escape(folder)));
    std::printf("\">Erase this applicant&hellip;</a></div>\n");
    std::size_t n = applicant->submissions.size();
    for (const Submission& s : applicant->submissions) {
        std::printf("<section class=\"submission\"><h3>Submission %zu of %zu, filed ", n--,
                    applicant->submissions.size());
        html(readable_time(s.filed));
        std::printf("</h3>\n<p>Name: ");
        html(s.name);
        std::printf("<br>E-mail: ");
        html(s.mail);
        std::printf("<br>Resume: ");
        if (!s.resume.empty()) link(file_href(c, s, s.resume), s.resume);
        std::printf(" <span class=\"muted\">(%lld bytes)</span> &middot; ",
                    static_cast<long long>(s.resume_size));
        link(file_href(c, s, "index.html"), "page as filed");
        std::printf("</p>\n<div class=\"interest\">");
        html(s.interest);
        std::printf("</div></section>\n");
    }
    end_console_page();
}

void show_figures(Console& c) {
    Catalogue catalogue = c.store.read_catalogue();
    std::vector<ApplicantRow> rows = applicant_rows(catalogue);
    std::uintmax_t bytes = 0;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(c.store.root(), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file(ec)) bytes += it->file_size(ec);
    begin_console_page(c, "Figures");
    std::printf("<dl class=\"figures\"><dt>Applicants</dt><dd>%zu</dd><dt>Submissions</dt><dd>%zu</dd>"
                "<dt>Size on disk</dt><dd>%.1f MiB</dd>", rows.size(), catalogue.lines.size(),
                static_cast<double>(bytes) / (1024.0 * 1024.0));
    if (c.retention_days > 0) {
        std::string cutoff = retention_cutoff_now(c);
        std::size_t due = rows_filed_before(rows, cutoff).size();
        std::printf("<dt>Retention</dt><dd>%d days: applicants whose latest submission was filed "
                    "before ", c.retention_days);
        html(readable_time(cutoff));
        std::printf(" are erased by the next daily run</dd><dt>Due for deletion</dt><dd>");
        link(console_link(c, "due=1"), std::to_string(due) + (due == 1 ? " applicant" : " applicants"));
        std::printf("</dd>");
    } else {
        std::printf("<dt>Retention</dt><dd>off (no retention period configured)</dd>");
    }
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
    std::printf("</dl>\n");
    end_console_page();
}

void show_erase_confirmation(Console& c) {
    std::string folder = c.value("a");
    auto applicant = requested_applicant(c, folder);
    if (!applicant) return;
    begin_console_page(c, "Erase " + applicant->submissions.front().name + "?");
    std::printf("<p class=\"notice\">All %zu submission%s of this applicant (records, pages and "
                "resumes) and their line in the list are erased for good. Backups taken before "
                "still hold them.</p>\n<div class=\"actions\"><form method=\"post\" action=\"staff.cgi\">",
                applicant->submissions.size(), applicant->submissions.size() == 1 ? "" : "s");
    token_field(c, "erase", folder);
    std::printf("<button class=\"danger\">Erase for good</button></form>\n");
    link(console_link(c, "view=applicant&a=" + query_escape(folder)), "Cancel");
    std::printf("</div>\n");
    end_console_page();
}
