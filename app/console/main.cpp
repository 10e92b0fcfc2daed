// staff.cgi: the staff console over a store root: the applicants, one applicant's submissions,
// the store's figures, and erasure and export behind a confirmation and a per-form token.
#include <cstdlib>
#include <string>

#include "app/console/bulk_actions.h"
#include "app/console/console.h"
#include "app/console/form_token.h"

int main(int argc, char* argv[]) {
    cgi::CgiRequest request(argc, argv);
    const char* view_value = request.get_value("view");
    std::string view = view_value ? view_value : "";
    if (view == "style") {
        print_stylesheet(request);
        return 0;
    }
    // The server asks for the staff login; a console reached without one shows nothing.
    std::string user = env("REMOTE_USER");
    if (user.empty()) {
        message_page(request, "403 Forbidden", "Staff login required",
                     "The console is for staff only; the server must ask for a login.");
        return 0;
    }
    const char* root_value = request.get_value("root");
    std::string root = root_value && *root_value ? root_value : store::default_store_root();
    // /staff.cgi/health and /staff.cgi/metrics: addresses a monitoring system can be given.
    const std::string path_info = env("PATH_INFO");
    if (show_monitoring(request, path_info.empty() ? view : path_info.substr(1), root)) return 0;
    store::ApplicantStore::Refusal why = store::ApplicantStore::Refusal::none;
    auto opened = store::ApplicantStore::open(root, &why);
    if (!opened) {
        if (why == store::ApplicantStore::Refusal::unmounted)
            message_page(request, "503 Service Unavailable", "Store not mounted",
                         "The file system of the store " + root + " is not mounted.");
        else
            message_page(request, "404 Not Found", "No such store",
                         (why == store::ApplicantStore::Refusal::missing ? "no such store root: "
                                                                        : "not a store root: ") + root);
        return 0;
    }
    Console console{request, *opened, user, "", store::AuditLog(env("APPLY_AUDIT_LOG"), user), 0, 0, ""};
    console.retention_days = std::atoi(env("APPLY_RETENTION_DAYS").c_str());
    console.retention_closed_days = std::atoi(env("APPLY_RETENTION_CLOSED_DAYS").c_str());
    console.retention_run = env("APPLY_RETENTION_RUN");
    if (auto secret = console_secret(env("APPLY_CONSOLE_SECRET"))) console.secret = *secret;

    std::string action = console.value("action");
    if (action == "erase") do_erase(console);
    else if (action == "export") do_export(console);
    else if (action == "bulk-erase") do_bulk_erase(console);
    else if (action == "decision" || action == "note" || action == "keep") do_record(console, action);
    else if (action == "news") do_news(console);
    else if (!action.empty()) message_page(&console, "400 Bad Request", "Unknown action", action);
    else if (view == "applicant") show_applicant(console);
    else if (view == "figures") show_figures(console);
    else if (view == "news") show_news(console);
    else if (view == "erase") show_erase_confirmation(console);
    else if (view == "audit") show_audit(console);
    else if (view == "bulk") show_bulk_confirmation(console);
    else show_table(console);
    return 0;
}
