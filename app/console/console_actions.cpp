// The staff console's changes, made on POST only and only from the console's own pages:
// erasure and export, each named in the audit log before it is made.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "app/console/console.h"
#include "app/console/form_token.h"
#include "app/console/request_origin.h"
#include "app/shared/time_stamp.h"

bool request_is_allowed(Console& c, const std::string& action, const store::Applicant& applicant) {
    const store::ApplicantRef ref = store::reference_of(applicant);
    const TokenSubject subject{c.user, c.store.store_root(), action, ref.folder, ref.person_id,
                               store::newest_filed(applicant)};
    return request_is_allowed(
        c, subject,
        "This form is not one the console gave you for this applicant as she is now (it is over "
        "a day old, she has filed again since, or it was given to another user). Open her page "
        "again.");
}

bool request_is_allowed(Console& c, const TokenSubject& subject, const std::string& stale) {
    std::string method = env("REQUEST_METHOD");
    std::string fetch_site = env("HTTP_SEC_FETCH_SITE");
    std::string origin = env("HTTP_ORIGIN");
    const Origin served = served_origin(env("HTTPS"), env("HTTP_HOST"), env("SERVER_PORT"));
    const char* refusal = nullptr;
    if (method != "POST")
        refusal = "Changes are made with the console's buttons only.";
    else if (!fetch_site.empty() && fetch_site != "same-origin")
        refusal = "This form was sent from another site.";
    // A page sent with "Referrer-Policy: no-referrer" posts its forms with "Origin: null";
    // then the fetch metadata above, when the browser sends it, says where the form came from.
    else if (!origin.empty() && !(origin == "null" && fetch_site == "same-origin") &&
             (served.port == 0 || !(parse_origin(origin) == served)))
        refusal = "This form was sent from another site.";
    else if (c.secret.empty() || !c.audit.configured())
        refusal = "The console is not set up for changes (no form secret or audit log).";
    else if (!token_matches(c.value("token"), c.secret, subject, std::time(nullptr)))
        refusal = stale.c_str();
    if (!refusal) return true;
    message_page(&c, "403 Forbidden", "Refused", refusal);
    return false;
}

bool form_is_allowed(Console& c, const TokenSubject& subject) {
    return request_is_allowed(
        c, subject, "This form is not one the console gave you in the last day. Open its page again.");
}

std::optional<std::string> requested_reference(Console& c) {
    std::string reference = store::trimmed_reference(c.value("reference"));
    const std::string why = store::reference_problem(reference);
    if (why.empty()) return reference;
    message_page(&c, "400 Bad Request", "Refused", why + " Nothing was done.");
    return std::nullopt;
}

void do_erase(Console& c) {
    auto applicant = requested_applicant(c);
    if (!applicant || !request_is_allowed(c, "erase", *applicant)) return;
    const auto reference = requested_reference(c);
    if (!reference) return;
    std::string error;
    if (!store::erase_applicant(c.store, *applicant, c.audit, error, *reference)) {
        message_page(&c, "500 Internal Server Error", "Not erased", error);
        std::fprintf(stderr, "%s staff.cgi: erase of %s failed: %s\n", monitor::iso_now().c_str(),
                     applicant->folder_name.c_str(), error.c_str());
        return;
    }
    message_page(&c, nullptr, "Erased",
                 "Every submission of this applicant of the name " + applicant->folder_name +
                     " is erased" +
                     (store::applicants_in(c.store, applicant->folder_name).empty()
                          ? ", and the name's list line with them."
                          : "; the name's other applicants are kept."));
}

void do_export(Console& c) {
    auto applicant = requested_applicant(c);
    if (!applicant || !request_is_allowed(c, "export", *applicant)) return;
    const auto reference = requested_reference(c);
    if (!reference) return;
    // The archive is made whole before anything is sent, so that a failure gets a page of its own,
    // and named in the audit log before a byte of it is handed out.
    const char* tmp = std::getenv("TMPDIR");
    platform::UniqueFd archive = platform::create_unnamed_file(tmp && *tmp ? tmp : "/tmp");
    std::string error = archive.valid() ? "" : "no temporary file for the archive";
    if (error.empty()) store::write_export(*applicant, archive.get(), error);
    if (!error.empty()) {
        message_page(&c, "500 Internal Server Error", "Not exported", error);
        return;
    }
    const std::string folder = applicant->folder_name;
    if (!c.audit.write("export", c.store.store_root(), folder,
                       "handed out: " + std::to_string(applicant->submissions.size()) +
                           " submissions",
                       {store::reference_of(*applicant).person_id, *reference})) {
        message_page(&c, "500 Internal Server Error", "Not exported",
                     "The audit log could not be written; nothing was exported.");
        return;
    }
    std::int64_t size = platform::file_size(archive.get());
    const std::string length = std::to_string(size);
    const std::string disposition = "attachment; filename=\"applicant.zip\"; filename*=UTF-8''" +
                                    query_escape(folder) + ".zip";
    c.request.set_content_type("application/zip");
    c.request.add_header("Content-Length", length.c_str());
    c.request.add_header("Content-Disposition", disposition.c_str());
    c.request.add_header("Cache-Control", "no-store");
    c.request.add_header("X-Content-Type-Options", "nosniff");
    c.request.print_header();
    std::fflush(stdout);
    char chunk[1 << 16];
    std::int64_t offset = 0, n;
    while ((n = platform::read_at(archive.get(), chunk, sizeof chunk, offset)) > 0) {
        std::fwrite(chunk, 1, static_cast<std::size_t>(n), stdout);
        offset += n;
    }
    std::fflush(stdout);
}
