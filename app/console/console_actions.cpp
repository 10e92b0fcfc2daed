// The staff console's changes, made on POST only and only from the console's own pages:
// erasure and export, each written to the audit log before it is reported done.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "app/admin/lifecycle.h"
#include "app/console/console.h"
#include "app/console/form_token.h"
#include "app/monitor/time_stamp.h"

namespace {

// The host part of an Origin header ("https://host:port" gives "host:port").
std::string origin_host(const std::string& origin) {
    std::size_t scheme = origin.find("://");
    return scheme == std::string::npos ? std::string() : origin.substr(scheme + 3);
}

}  // namespace

bool request_is_same_origin(Console& c, const std::string& action, const std::string& folder) {
    std::string method = env("REQUEST_METHOD");
    std::string fetch_site = env("HTTP_SEC_FETCH_SITE");
    std::string origin = env("HTTP_ORIGIN");
    const char* refusal = nullptr;
    if (method != "POST")
        refusal = "Changes are made with the console's buttons only.";
    else if (!fetch_site.empty() && fetch_site != "same-origin")
        refusal = "This form was sent from another site.";
    // A page sent with "Referrer-Policy: no-referrer" posts its forms with "Origin: null";
    // then the fetch metadata above, when the browser sends it, says where the form came from.
    else if (!origin.empty() && !(origin == "null" && fetch_site == "same-origin") &&
             origin_host(origin) != env("HTTP_HOST"))
        refusal = "This form was sent from another site.";
    else if (c.secret.empty() || c.audit_log.empty())
        refusal = "The console is not set up for changes (no form secret or audit log).";
    else if (!token_matches(c.value("token"), c.secret, c.user, c.store.root(), action, folder))
        refusal = "This form is not one the console gave you (or it was given to another user).";
    if (!refusal) return true;
    message_page(&c, "403 Forbidden", "Refused", refusal);
    return false;
}

void do_erase(Console& c) {
    std::string folder = c.value("a");
    if (!request_is_same_origin(c, "erase", folder)) return;
    std::string error;
    bool erased = c.store.erase(folder, error);
    bool logged = audit(c.audit_log, c.user, "erase", c.store.root(), folder,
                        erased ? "erased" : "failed: " + error);
    if (!erased) {
        message_page(&c, "500 Internal Server Error", "Not erased", error);
        std::fprintf(stderr, "%s staff.cgi: erase of %s failed: %s\n", monitor::iso_now().c_str(),
                     folder.c_str(), error.c_str());
    } else if (!logged) {
        message_page(&c, "500 Internal Server Error", "Erased, but not in the audit log",
                     "The applicant was erased, but the audit log " + c.audit_log +
                         " could not be written. Tell the administrator.");
        std::fprintf(stderr, "%s staff.cgi: audit log %s: %s\n", monitor::iso_now().c_str(),
                     c.audit_log.c_str(), std::strerror(errno));
    } else {
        message_page(&c, nullptr, "Erased", "Every submission of " + folder +
                                                " and their list line are erased.");
    }
}

void do_export(Console& c) {
    std::string folder = c.value("a");
    if (!request_is_same_origin(c, "export", folder)) return;
    auto applicant = requested_applicant(c, folder);
    if (!applicant) return;
    // The archive is made whole before anything is sent, so that a failure gets a page of its own
    // and the audit log names only exports that were handed out.
    const char* tmp = std::getenv("TMPDIR");
    platform::UniqueFd archive = platform::create_unnamed_file(tmp && *tmp ? tmp : "/tmp");
    std::string error = archive.valid() ? "" : "no temporary file for the archive";
    if (error.empty()) write_export(c.store, *applicant, archive.get(), error);
    if (!error.empty()) {
        message_page(&c, "500 Internal Server Error", "Not exported", error);
        return;
    }
    if (!audit(c.audit_log, c.user, "export", c.store.root(), folder, "downloaded")) {
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
