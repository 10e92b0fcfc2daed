// Recording a decision, a note or a keep from an applicant's view: a POST with the form's token
// and the origin checks, named in the audit log first, then answered with a redirect to her view.
#include <cstdio>

#include "app/console/console.h"
#include "app/shared/time_stamp.h"
#include "app/store/history_changes.h"

namespace {

// The event the form asks for; nullopt after a 400 page when its values are refused.
std::optional<store::HistoryEvent> requested_event(Console& c, const std::string& action) {
    store::HistoryEvent event;
    event.kind = action;
    std::string why;
    if (action == "decision") {
        event.decision = c.value("decision");
        if (!store::is_decision(event.decision)) why = "No such decision: " + event.decision;
    } else if (action == "note") {
        if (auto note = store::checked_note(c.value("note"), why)) event.text = *note;
    } else {
        event.until = c.value("until");
        event.reason = c.value("reason");
        store::keep_is_valid(event.until, event.reason, store::utc_text(store::lifecycle_now()), why);
    }
    if (why.empty()) return event;
    message_page(&c, "400 Bad Request", "Not recorded", why);
    return std::nullopt;
}

}  // namespace

void do_record(Console& c, const std::string& action) {
    auto applicant = requested_applicant(c);
    if (!applicant || !request_is_allowed(c, action, *applicant)) return;
    auto event = requested_event(c, action);
    if (!event) return;
    const store::ApplicantRef ref = store::reference_of(*applicant);
    std::vector<std::string> recorded;
    std::string error;
    if (!store::record_events(c.store, {ref}, *event, c.audit, recorded, error) || recorded.empty()) {
        message_page(&c, "500 Internal Server Error", "Not recorded", error);
        std::fprintf(stderr, "%s staff.cgi: %s for %s failed: %s\n", monitor::iso_now().c_str(),
                     action.c_str(), applicant->folder_name.c_str(), error.c_str());
        return;
    }
    redirect_after_post(c, console_link(c, "view=applicant&" + applicant_query(ref)), "Back to her page");
}
