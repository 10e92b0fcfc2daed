// The table's selection and what is done with it: a decision set on all of them, or the
// confirmation page and the erasure of every selected applicant, each under one hold of the store
// lock with an audit line per applicant.
#include "app/console/bulk_actions.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <tuple>

#include "app/shared/time_stamp.h"
#include "app/store/history_changes.h"

namespace {

constexpr std::size_t PERSON_ID_DIGITS = 32;

bool is_person_id(std::string_view text) {
    return text.size() == PERSON_ID_DIGITS &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string selection_value(const store::ApplicantRef& ref) {
    return ref.person_id + "/" + ref.folder;
}

void hidden(const char* name, const std::string& value) {
    std::printf("<input type=\"hidden\" name=\"%s\" value=\"", name);
    html(value);
    std::printf("\">");
}

void refuse(Console& c, const std::string& message) {
    message_page(&c, "400 Bad Request", "Nothing done", message);
}

// The selected applicants who are still there; false after a refusal page when the selection is
// empty, too large or was cut by the request's limits.
bool resolve_selection(Console& c, std::vector<store::Applicant>& found, std::size_t& gone) {
    const std::vector<store::ApplicantRef> refs = selected_references(c);
    if (c.request.truncated(cgi::Limit::pairs) || refs.size() > MOST_SELECTED) {
        refuse(c, "Select at most " + std::to_string(MOST_SELECTED) + " applicants at a time.");
        return false;
    }
    if (refs.empty()) {
        refuse(c, "No applicant was selected: tick the rows first.");
        return false;
    }
    gone = 0;
    for (const store::ApplicantRef& ref : refs) {
        if (auto a = store::find_applicant(c.store, ref)) found.push_back(std::move(*a));
        else ++gone;
    }
    return true;
}

std::string count_of(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " applicant" : " applicants");
}

constexpr std::string_view DECISION_PREFIX = "decision:";
constexpr const char* BULK_DECISION_ACTION = "bulk-decision";

TokenSubject bar_subject(const Console& c) {
    return {c.user, c.store.store_root(), BULK_DECISION_ACTION, "", "", ""};
}

TableState requested_table(Console& c) {
    TableState state{c.value("q"), c.value("decision"), c.value("sort"), c.value("due") == "1", 1};
    if (state.decision != "open" && !store::is_decision(state.decision)) state.decision.clear();
    state.page = std::clamp(std::strtol(c.value("page").c_str(), nullptr, 10), 1L, 10'000'000L);
    return state;
}

// A decision for every selected applicant still filed, under one hold of the lock; those erased
// meanwhile are skipped and counted. No confirmation: it loses nothing and can be set again.
void set_decision(Console& c, const std::string& decision) {
    if (!store::is_decision(decision)) {
        refuse(c, "No such decision: " + decision);
        return;
    }
    if (!form_is_allowed(c, bar_subject(c))) return;
    const std::vector<store::ApplicantRef> refs = selected_references(c);
    if (c.request.truncated(cgi::Limit::pairs) || refs.size() > MOST_SELECTED) {
        refuse(c, "Select at most " + std::to_string(MOST_SELECTED) + " applicants at a time.");
        return;
    }
    if (refs.empty()) {
        refuse(c, "No applicant was selected: tick the rows first.");
        return;
    }
    store::HistoryEvent event;
    event.kind = "decision";
    event.decision = decision;
    std::vector<std::string> recorded;
    std::string error;
    // One applicant gone is an error to record_events; here she is one skipped, as in a longer list.
    const bool done = store::record_events(c.store, refs, event, c.audit, recorded, error) ||
                      (refs.size() == 1 && recorded.empty() && error.starts_with("no such applicant"));
    if (!done) {
        std::fprintf(stderr, "%s staff.cgi: decision for %zu selected failed: %s\n",
                     monitor::iso_now().c_str(), refs.size(), error.c_str());
        message_page(&c, "500 Internal Server Error", "Not all recorded",
                     error + " (" + count_of(recorded.size()) + " set before the failure)");
        return;
    }
    const std::string table =
        console_link(c, table_query(requested_table(c)) + "set=" + std::to_string(recorded.size()) +
                            "&skipped=" + std::to_string(refs.size() - recorded.size()) +
                            "&to=" + decision);
    redirect_after_post(c, table, "Back to the applicants");
}

void erase_confirmation(Console& c) {
    std::vector<store::Applicant> applicants;
    std::size_t gone = 0;
    if (!resolve_selection(c, applicants, gone)) return;
    if (applicants.empty()) {
        message_page(&c, "404 Not Found", "No such applicants",
                     "None of the selected applicants is filed any more (they may have been erased).");
        return;
    }
    begin_console_page(c, "Erase " + count_of(applicants.size()) + "?");
    std::printf("<p class=\"notice\">Every submission of these %s (records, pages and resumes) is "
                "erased for good; other applicants of the same names are kept. Backups taken "
                "before still hold them.</p>\n",
                count_of(applicants.size()).c_str());
    if (gone > 0)
        std::printf("<p class=\"muted\">%s of the selection %s no longer filed and left out.</p>\n",
                    count_of(gone).c_str(), gone == 1 ? "is" : "are");
    std::printf("<table class=\"selected\">\n<thead><tr><th>Name</th><th>E-mail</th>"
                "<th class=\"count\">Submissions</th></tr></thead>\n<tbody>\n");
    for (const store::Applicant& a : applicants) {
        const store::Record shown = store::shown_record(a, a.submissions.front());
        std::printf("<tr><td>");
        html(shown.name);
        std::printf("</td><td>");
        html(shown.mail);
        std::printf("</td><td class=\"count\">%zu</td></tr>\n", a.submissions.size());
    }
    std::printf("</tbody>\n</table>\n<div class=\"actions\"><form method=\"post\" action=\"staff.cgi\">");
    selection_fields(c, "bulk-erase", applicants);
    std::printf("<button class=\"danger\">Erase these %s for good</button></form>\n<a href=\"",
                count_of(applicants.size()).c_str());
    html(console_link(c, ""));
    std::printf("\">Cancel</a></div>\n");
    end_console_page();
}

}  // namespace

std::vector<store::ApplicantRef> selected_references(Console& c) {
    std::vector<store::ApplicantRef> refs;
    c.request.collect_pairs();
    for (std::int32_t i = 0; i < c.request.pair_count(); ++i) {
        const cgi::FormPair* pair = c.request.pair_at(i);
        // (An upload spooled to a file has no value in memory; no selection is one.)
        if (!pair || !pair->value || std::strcmp(pair->name, "sel") != 0) continue;
        const std::string_view value(pair->value, static_cast<std::size_t>(pair->value_len));
        const std::size_t slash = value.find('/');
        if (slash == std::string_view::npos || !is_person_id(value.substr(0, slash)) ||
            slash + 1 == value.size() || value.find('\0') != std::string_view::npos)
            continue;
        refs.push_back({std::string(value.substr(slash + 1)), std::string(value.substr(0, slash))});
    }
    auto key = [](const store::ApplicantRef& r) { return std::tie(r.folder, r.person_id); };
    std::sort(refs.begin(), refs.end(), [&](const auto& a, const auto& b) { return key(a) < key(b); });
    refs.erase(std::unique(refs.begin(), refs.end(),
                           [&](const auto& a, const auto& b) { return key(a) == key(b); }),
               refs.end());
    return refs;
}

TokenSubject selection_subject(const Console& c, const std::string& action,
                               const std::vector<store::Applicant>& applicants) {
    // Each part with its length before it: no two selections give one text.
    std::string selection;
    for (const store::Applicant& a : applicants) {
        const store::ApplicantRef ref = store::reference_of(a);
        const std::string newest = store::newest_filed(a);
        selection += std::to_string(ref.folder.size()) + ":" + ref.folder + ref.person_id +
                     std::to_string(newest.size()) + ":" + newest + ";";
    }
    return {c.user, c.store.store_root(), action, selection, "", ""};
}

void selection_fields(const Console& c, const std::string& action,
                      const std::vector<store::Applicant>& applicants) {
    hidden("root", c.store.store_root());
    hidden("action", action);
    for (const store::Applicant& a : applicants) hidden("sel", selection_value(store::reference_of(a)));
    hidden("token", form_token(c.secret, selection_subject(c, action, applicants),
                               std::time(nullptr) + TOKEN_LIFETIME_SECONDS));
}

void selection_checkbox(const store::ApplicantRef& ref, const std::string& label) {
    std::printf("<input type=\"checkbox\" name=\"sel\" form=\"selection\" value=\"");
    html(selection_value(ref));
    std::printf("\" aria-label=\"");
    html("Select " + label);
    std::printf("\">");
}

std::string table_query(const TableState& state) {
    return (state.query.empty() ? "" : "q=" + query_escape(state.query) + "&") +
           (state.decision.empty() ? "" : "decision=" + query_escape(state.decision) + "&") +
           (state.due_only ? "due=1&" : "") +
           (state.sort.empty() ? "" : "sort=" + query_escape(state.sort) + "&") +
           (state.page > 1 ? "page=" + std::to_string(state.page) + "&" : "");
}

void selection_bar(const Console& c, const TableState& state) {
    // The checkboxes in the table name this form, which stands apart from the search form.
    std::printf("<form id=\"selection\" class=\"selection\" method=\"post\" action=\"staff.cgi\">");
    hidden("root", c.store.store_root());
    hidden("view", "bulk");
    // The rows are chosen in the browser, so the token is bound to the user and the action alone.
    hidden("token", form_token(c.secret, bar_subject(c), std::time(nullptr) + TOKEN_LIFETIME_SECONDS));
    if (!state.query.empty()) hidden("q", state.query);
    if (!state.decision.empty()) hidden("decision", state.decision);
    if (state.due_only) hidden("due", "1");
    if (!state.sort.empty()) hidden("sort", state.sort);
    if (state.page > 1) hidden("page", std::to_string(state.page));
    // Nothing chosen first: an Apply pressed by mistake changes nothing.
    std::printf("<label>With the selected: <select name=\"bulk\">"
                "<option value=\"\">Choose an action</option>");
    for (const char* d : store::DECISIONS) {
        std::printf("<option value=\"%.*s%s\">Set decision: ", static_cast<int>(DECISION_PREFIX.size()),
                    DECISION_PREFIX.data(), d);
        html(store::decision_label(d));
        std::printf("</option>");
    }
    std::printf("<option value=\"erase\">Erase&hellip;</option></select></label> "
                "<button>Apply</button></form>\n");
}

std::string bulk_notice(Console& c) {
    const std::string to = c.value("to");
    if (c.value("set").empty() || !store::is_decision(to)) return {};
    const long set = std::clamp(std::strtol(c.value("set").c_str(), nullptr, 10), 0L, 1'000'000L);
    const long skipped = std::clamp(std::strtol(c.value("skipped").c_str(), nullptr, 10), 0L, 1'000'000L);
    std::string notice = "Decision \u201c" + store::decision_label(to) + "\u201d set for " +
                         count_of(static_cast<std::size_t>(set)) + ".";
    if (skipped > 0)
        notice += " " + count_of(static_cast<std::size_t>(skipped)) + " of the selection " +
                  (skipped == 1 ? "was" : "were") + " no longer filed and skipped.";
    return notice;
}

void show_bulk_confirmation(Console& c) {
    const std::string bulk = c.value("bulk");
    if (bulk == "erase") erase_confirmation(c);
    else if (bulk.starts_with(DECISION_PREFIX)) set_decision(c, bulk.substr(DECISION_PREFIX.size()));
    else if (bulk.empty()) refuse(c, "Choose what to do with the selected applicants.");
    else refuse(c, "Unknown action for the selected applicants: " + bulk);
}

void do_bulk_erase(Console& c) {
    std::vector<store::Applicant> applicants;
    std::vector<std::string> erased;
    std::string error;
    std::size_t gone = 0;
    {
        // Resolved, checked against the token and erased under one hold of the lock: what the
        // confirmation listed is what goes, or nothing does.
        store::StoreLock lock = c.store.lock();
        if (!resolve_selection(c, applicants, gone)) return;
        const TokenSubject subject = selection_subject(c, "bulk-erase", applicants);
        if (!request_is_allowed(c, subject,
                                "This form is not one the console gave you for these applicants "
                                "as they are now (it is over a day old, one of them has filed "
                                "again or is gone since, or it was given to another user). Select "
                                "them again."))
            return;
        if (gone > 0 || applicants.empty()) {
            message_page(&c, "409 Conflict", "Nothing erased",
                         "Some of the selected applicants are no longer filed. Select them again.");
            return;
        }
        store::erase_applicants(c.store, lock, applicants, c.audit, "erase",
                                "one of " + count_of(applicants.size()) + " selected", erased, error);
    }
    std::string names;
    for (const store::Applicant& a : applicants)
        if (std::find(erased.begin(), erased.end(), a.folder_name) != erased.end())
            names += (names.empty() ? "" : ", ") + a.folder_name;
    if (!error.empty()) {
        std::fprintf(stderr, "%s staff.cgi: erasure of %zu selected failed: %s\n",
                     monitor::iso_now().c_str(), applicants.size(), error.c_str());
        message_page(&c, "500 Internal Server Error", "Not all erased",
                     error + (names.empty() ? "" : " (erased before the failure: " + names + ")"));
        return;
    }
    if (erased.empty())
        message_page(&c, "409 Conflict", "Nothing erased",
                     "None of the selected applicants was still filed.");
    else
        message_page(&c, nullptr, "Erased", "Erased " + count_of(erased.size()) + ": " + names + ".");
}
