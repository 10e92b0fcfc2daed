// The audit log for staff: its lines newest first, a page at a time, filtered by applicant,
// action, staff member, request reference and days. The log is read from its end in blocks.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

#include "app/console/console.h"
#include "app/store/audit_reader.h"

namespace {

// Lines per page of the audit view.
constexpr std::size_t AUDIT_PAGE_ROWS = 100;

// The actions the store writes, offered as the filter's suggestions.
constexpr const char* KNOWN_ACTIONS[] = {"erase",   "export",   "retention-erase", "retention-run",
                                         "restore", "decision", "note",            "keep"};


void text_field(const char* name, const char* label, const std::string& value,
                const char* type = "text", const char* extra = "") {
    std::printf("<label>%s <input type=\"%s\" name=\"%s\" value=\"", label, type, name);
    html(value);
    std::printf("\"%s></label>", extra);
}

void cell(const char* label, const std::string& text) {
    std::printf("<td data-label=\"%s\">", label);
    html(text);
    std::printf("</td>");
}

}  // namespace

void show_audit(Console& c) {
    store::AuditFilter filter{c.value("a"), c.value("p"), c.value("what"), c.value("by"),
                              store::trimmed_reference(c.value("ref")), c.value("from"), c.value("to")};
    const std::size_t asked = static_cast<std::size_t>(
        std::clamp(std::strtol(c.value("page").c_str(), nullptr, 10), 1L, 10'000'000L));
    store::AuditPage page;
    std::string error;
    struct stat st{};
    const bool configured = c.audit.configured();
    const bool absent = configured && ::stat(c.audit.path().c_str(), &st) != 0 && errno == ENOENT;
    const bool read = configured && !absent &&
                      store::read_audit_page(c.audit.path(), filter, asked, AUDIT_PAGE_ROWS, page, error);

    begin_console_page(c, "Audit log");
    std::printf("<form class=\"filters\" method=\"get\" action=\"staff.cgi\">"
                "<input type=\"hidden\" name=\"root\" value=\"");
    html(c.store.store_root());
    std::printf("\"><input type=\"hidden\" name=\"view\" value=\"audit\">");
    text_field("a", "Applicant", filter.applicant);
    text_field("p", "Person id", filter.person_id);
    text_field("what", "Action", filter.action, "text", " list=\"actions\"");
    std::printf("<datalist id=\"actions\">");
    for (const char* action : KNOWN_ACTIONS) std::printf("<option value=\"%s\">", action);
    std::printf("</datalist>");
    text_field("by", "Staff member", filter.user);
    text_field("ref", "Request reference", filter.reference);
    text_field("from", "From", filter.from_day, "date");
    text_field("to", "To", filter.to_day, "date");
    std::printf("<button>Show</button></form>\n");
    if (!configured) {
        std::printf("<p class=\"notice\">No audit log is configured (APPLY_AUDIT_LOG).</p>\n");
        end_console_page();
        return;
    }
    if (!absent && !read) {
        std::printf("<p class=\"notice\">");
        html(error);
        std::printf("</p>\n");
        end_console_page();
        return;
    }
    std::printf("<p class=\"muted\">%zu line%s</p>\n", page.matching, page.matching == 1 ? "" : "s");
    const std::string keep = "view=audit&" +
        std::string(filter.applicant.empty() ? "" : "a=" + query_escape(filter.applicant) + "&") +
        (filter.person_id.empty() ? "" : "p=" + query_escape(filter.person_id) + "&") +
        (filter.action.empty() ? "" : "what=" + query_escape(filter.action) + "&") +
        (filter.user.empty() ? "" : "by=" + query_escape(filter.user) + "&") +
        (filter.reference.empty() ? "" : "ref=" + query_escape(filter.reference) + "&") +
        (filter.from_day.empty() ? "" : "from=" + query_escape(filter.from_day) + "&") +
        (filter.to_day.empty() ? "" : "to=" + query_escape(filter.to_day) + "&");
    std::printf("<table class=\"rows audit\">\n<thead><tr><th>Time (UTC)</th><th>Staff member</th>"
                "<th>Action</th><th>Store</th><th>Applicant</th><th>Outcome</th>"
                "<th>Request</th></tr></thead>\n<tbody>\n");
    for (const store::AuditEntry& e : page.entries) {
        std::printf("<tr>");
        cell("Time (UTC)", e.time);
        cell("Staff member", e.user);
        cell("Action", e.action);
        cell("Store", e.root);
        std::printf("<td data-label=\"Applicant\">");
        // Her name filters by the folder; the person id beside it, by her alone.
        if (!e.applicant.empty() && e.applicant != "-")
            link(console_link(c, "view=audit&a=" + query_escape(e.applicant)), e.applicant);
        if (!e.person_id.empty()) {
            std::printf(" <span class=\"muted\">(");
            link(console_link(c, "view=audit&" + applicant_query({e.applicant, e.person_id})),
                       "person " + e.person_id.substr(0, 8));
            std::printf(")</span>");
        }
        std::printf("</td>");
        cell("Outcome", e.outcome);
        std::printf("<td data-label=\"Request\">");
        if (!e.reference.empty())
            link(console_link(c, "view=audit&ref=" + query_escape(e.reference)), e.reference);
        std::printf("</td></tr>\n");
    }
    std::printf("</tbody>\n</table>\n<nav class=\"pages\">");
    if (page.page > 1) link(console_link(c, keep + "page=" + std::to_string(page.page - 1)), "Newer");
    std::printf(" <span class=\"muted\">Page %zu of %zu</span> ", page.page, page.pages);
    if (page.page < page.pages)
        link(console_link(c, keep + "page=" + std::to_string(page.page + 1)), "Older");
    std::printf("</nav>\n");
    end_console_page();
}
