// The staff console's shared state for one request, its page frame and its views and actions.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "app/store/operations.h"
#include "cgi/cgi_request.h"

struct TokenSubject;  // form_token.h

// Rows per page of the applicant table.
inline constexpr std::size_t TABLE_PAGE_ROWS = 50;

struct Console {
    cgi::CgiRequest& request;
    const store::ApplicantStore& store;
    std::string user;        // REMOTE_USER, as the server's login checked it
    std::string secret;      // the form-token key ("" when none could be had: no changes then)
    store::AuditLog audit;   // APPLY_AUDIT_LOG, written as `user` (none: no changes then)
    int retention_days = 0;  // APPLY_RETENTION_DAYS (0: retention off)
    int retention_closed_days = 0;  // APPLY_RETENTION_CLOSED_DAYS (0: counted as undecided)
    std::string retention_run;      // APPLY_RETENTION_RUN: how the retention run is set up ("": none)

    // A form value, or "" when absent.
    std::string value(const char* name);
    // The applicant the request's `a` (folder) and `p` (person id) values name.
    store::ApplicantRef requested() { return {value("a"), value("p")}; }
};

// ---- Page frame (console_page.cpp) ----
// The response header of every console page through the library's response calls: the status
// ("CODE REASON", null for 200), UTF-8 HTML, the content policy, no caching.
void print_console_header(cgi::CgiRequest& request, const char* status = nullptr);
// Header, head with title, stylesheet and navigation for store `root`; the body is open after it.
void begin_console_page(Console& c, const std::string& title);
// Closes the page opened by begin_console_page and flushes it.
void end_console_page();
// A short page with a heading and one escaped message (answers to refused requests).
// With a console, the page links back to its applicants.
void message_page(Console* c, const char* status, const std::string& heading,
                  const std::string& message);
void message_page(cgi::CgiRequest& request, const char* status, const std::string& heading,
                  const std::string& message);
// The applicant the request names; nullopt after a 404 page when there is none.
std::optional<store::Applicant> requested_applicant(Console& c);
// The query part that names an applicant in the console's links: "a=<folder>&p=<person id>".
std::string applicant_query(const store::ApplicantRef& ref);
// The environment variable `name` (set by the server), or "" when it is not set.
std::string env(const char* name);
// Page text, escaped.
void html(std::string_view text);
// A link: `href` and `text` escaped.
void link(const std::string& href, const std::string& text);
// The answer to a change made by a POST: a 303 to `target` (a GET, so that reloading it changes
// nothing twice), with a page linking it as `back` for a client that does not follow it.
void redirect_after_post(Console& c, const std::string& target, const char* back);
// A link to a console view: "staff.cgi?root=...&" followed by `query` (already escaped).
std::string console_link(const Console& c, const std::string& query);
// A query-string value %-escaped (every byte outside A-Z a-z 0-9 - . _ ~).
std::string query_escape(const std::string& text);
// The stylesheet served at ?view=style.
void print_stylesheet(cgi::CgiRequest& request);

// ---- Monitoring, plain text (health_view.cpp) ----
// Answers `view` "health" (the health check of `root`; 503 when critical) or "metrics"
// (Prometheus text); false for any other view, with nothing written.
bool show_monitoring(cgi::CgiRequest& request, const std::string& view, const std::string& root);

// ---- Views, on GET (console_views.cpp) ----
void show_table(Console& c);
void show_applicant(Console& c);
void show_figures(Console& c);
void show_erase_confirmation(Console& c);
// The audit log, newest first, filtered and paged (audit_view.cpp).
void show_audit(Console& c);
// The applicants who may be `applicant` filed again (duplicates_view.cpp); nothing when none.
void show_possible_duplicates(Console& c, const store::Applicant& applicant);

// ---- An applicant's decision, keep and notes (history_view.cpp) ----
// The hidden fields of a form for `action` on `applicant`, with its token.
void token_field(Console& c, const std::string& action, const store::Applicant& applicant);
// A UTC time in the records' form as staff read it: "2026-12-08 16:20 UTC".
std::string readable_time(const std::string& filed);
// Her decision, keep and notes with the forms that change them, for her view.
void show_history(Console& c, const store::Applicant& applicant);
// The retention settings, what is due and the run, for the figures.
void show_retention_figures(Console& c, const store::Catalogue& catalogue);
// The applicants due under retention now.
std::vector<store::DueApplicant> due_now(const Console& c, const store::Catalogue& catalogue);

// ---- Changes, on POST only (console_actions.cpp, history_actions.cpp) ----
// Records a decision, note or keep (`action` "decision", "note" or "keep") from her view.
void do_record(Console& c, const std::string& action);
// Refuses a request another site could have made, or a form the console did not give this user
// for this applicant's current submissions within the last day: false after the refusal page.
bool request_is_allowed(Console& c, const std::string& action, const store::Applicant& applicant);
// The same for a form whose token is bound to `subject`; `stale` is the refusal of a token that
// does not match it.
struct TokenSubject;
bool request_is_allowed(Console& c, const TokenSubject& subject, const std::string& stale);
// The same for a form bound to `subject` alone (not to an applicant's submissions).
bool form_is_allowed(Console& c, const TokenSubject& subject);
void do_erase(Console& c);
void do_export(Console& c);
// The request reference the form names, trimmed; nullopt after a 400 page when it cannot go into
// the audit log.
std::optional<std::string> requested_reference(Console& c);

// ---- News of new applications (news_view.cpp) ----
// The staff member's own subscription on GET, its change on POST, its line in the figures.
void show_news(Console& c);
void do_news(Console& c);
void show_news_figure();
