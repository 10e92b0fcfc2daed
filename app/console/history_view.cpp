// An applicant's decision, keep and notes on her view, and retention in the figures.
#include <cstdio>
#include <ctime>

#include "app/console/console.h"
#include "app/store/decision_index.h"

namespace {

void decision_options(const std::string& current) {
    for (const char* d : store::DECISIONS) {
        std::printf("<option value=\"%s\"%s>", d, current == d ? " selected" : "");
        html(store::decision_label(d));
        std::printf("</option>");
    }
}

// The newest "done" line of a retention run of this store in the audit log: its time and text.
std::pair<std::string, std::string> last_retention_run(const Console& c) {
    const std::string log = c.audit.configured() ? c.audit.tail() : std::string();
    const std::string marker = "\tretention-run\t" + c.store.store_root() + "\t-\tdone: ";
    for (std::size_t at = log.rfind(marker); at != std::string::npos;
         at = at == 0 ? std::string::npos : log.rfind(marker, at - 1)) {
        const std::size_t start = log.rfind('\n', at);
        const std::size_t line = start == std::string::npos ? 0 : start + 1;
        const std::size_t end = log.find('\n', at);
        if (end == std::string::npos) continue;  // a line still being written
        return {log.substr(line, 20), log.substr(at + marker.size(), end - at - marker.size())};
    }
    return {};
}

std::time_t utc_seconds(const std::string& text) {
    std::tm t{};
    const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &t);
    return end && !*end ? timegm(&t) : 0;
}

}  // namespace

std::vector<store::DueApplicant> due_now(const Console& c, const store::Catalogue& catalogue) {
    const store::RetentionPeriods periods{c.retention_days, c.retention_closed_days};
    if (periods.days <= 0 && periods.closed_days <= 0) return {};
    return store::due_for_retention(catalogue, store::read_decision_index(c.store),
                                    store::lifecycle_now(), periods);
}

void show_history(Console& c, const store::Applicant& applicant) {
    const std::vector<store::HistoryEvent> history = store::read_history(store::history_path(applicant));
    const store::ApplicantStatus status = store::status_of(history);
    std::printf("<section class=\"history\"><h3>Decision</h3>\n<p>Now: <strong>");
    html(store::decision_label(status.decision));
    std::printf("</strong>");
    if (!status.decided_at.empty()) {
        std::printf(" <span class=\"muted\">(");
        for (auto it = history.rbegin(); it != history.rend(); ++it)
            if (it->kind == "decision") {
                html("by " + it->by + ", " + readable_time(it->at));
                break;
            }
        std::printf(")</span>");
    }
    std::printf("</p>\n<form class=\"inline decision\" method=\"post\" action=\"staff.cgi\">");
    token_field(c, "decision", applicant);
    std::printf("<label for=\"decision\">Set the decision</label> <select id=\"decision\" name=\"decision\">");
    decision_options(status.decision);
    std::printf("</select> <button>Save decision</button></form>\n");
    if (!status.keep_until.empty()) {
        std::printf("<p>Kept from retention through ");
        html(status.keep_until);
        std::printf(": ");
        html(status.keep_reason);
        std::printf("</p>\n");
    }
    std::printf("<form class=\"inline keep\" method=\"post\" action=\"staff.cgi\">");
    token_field(c, "keep", applicant);
    std::printf("<label for=\"until\">Keep until</label> <input type=\"date\" id=\"until\" name=\"until\" required> "
                "<label for=\"reason\">because</label> <input id=\"reason\" name=\"reason\" maxlength=\"%zu\" "
                "required placeholder=\"consent to the talent pool\"> <button>Keep</button></form>\n",
                store::KEEP_REASON_MAX_BYTES);
    std::printf("<h3>Notes</h3>\n<form class=\"note\" method=\"post\" action=\"staff.cgi\">");
    token_field(c, "note", applicant);
    std::printf("<label for=\"note\">New note</label><br><textarea id=\"note\" name=\"note\" rows=\"3\" cols=\"60\" "
                "maxlength=\"%zu\" required></textarea><br><button>Add note</button></form>\n",
                store::NOTE_MAX_BYTES);
    std::size_t notes = 0;
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
        if (it->kind != "note") continue;
        std::printf("%s<li><span class=\"muted\">", notes++ ? "" : "<ul class=\"notes\">\n");
        html(it->by + ", " + readable_time(it->at));
        std::printf("</span><div class=\"note\">");
        html(it->text);
        std::printf("</div></li>\n");
    }
    std::printf("%s</section>\n", notes ? "</ul>\n" : "<p class=\"muted\">No notes yet.</p>\n");
}

void show_retention_figures(Console& c, const store::Catalogue& catalogue) {
    std::printf("<dt>Retention</dt><dd>");
    if (c.retention_days <= 0 && c.retention_closed_days <= 0) {
        std::printf("off (no retention period configured)</dd>");
    } else {
        if (c.retention_closed_days > 0)
            std::printf("%d days after a rejection or withdrawal (newer than her latest submission); ",
                        c.retention_closed_days);
        if (c.retention_days > 0)
            std::printf("%d days after the latest submission%s", c.retention_days,
                        c.retention_closed_days > 0 ? " for everyone else" : "");
        else
            std::printf("applicants without such a decision are kept");
        std::printf("; a keep date holds both off through that day</dd>");
        const std::size_t due = due_now(c, catalogue).size();
        std::printf("<dt>Due for deletion</dt><dd>");
        link(console_link(c, "due=1"), std::to_string(due) + (due == 1 ? " applicant" : " applicants"));
        std::printf("</dd>");
    }
    std::printf("<dt>Retention run</dt>");
    if (c.retention_run.empty()) {
        std::printf("<dd class=\"notice\">No retention run is set up: nobody is erased until "
                    "<code>apply-admin retain</code> runs (the Debian package's timer runs it daily)."
                    "</dd>");
        return;
    }
    std::printf("<dd>");
    html(c.retention_run);
    const auto [at, outcome] = last_retention_run(c);
    if (at.empty()) {
        std::printf("; no run logged yet: the first is due within a day</dd>");
        return;
    }
    std::printf("; last run ");
    html(readable_time(at) + " (" + outcome + ")");
    const std::time_t next = utc_seconds(at) + 86400;
    html(std::string("; next ") + (next < std::time(nullptr) ? "overdue since " : "due by ") +
         readable_time(store::utc_text(next)));
    std::printf("</dd>");
}
