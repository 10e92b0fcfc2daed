// The clock retention counts by, and the audit log of every erasure, export and retention run.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "app/admin/lifecycle.h"

std::time_t lifecycle_now() {
    const char* fake = std::getenv("APPLY_NOW");
    if (fake && *fake) {
        std::tm t{};
        if (const char* end = strptime(fake, "%Y-%m-%dT%H:%M:%SZ", &t); end && !*end)
            return timegm(&t);
        char* end = nullptr;
        long long seconds = std::strtoll(fake, &end, 10);
        if (end && !*end) return static_cast<std::time_t>(seconds);
    }
    return std::time(nullptr);
}

std::string utc_text(std::time_t t) {
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string retention_cutoff(std::time_t now, int days) {
    return utc_text(now - static_cast<std::time_t>(days) * 86400);
}

namespace {

std::string one_field(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return text;
}

}  // namespace

std::string audit_line(const std::string& user, const std::string& action, const std::string& root,
                       const std::string& applicant, const std::string& outcome) {
    return utc_text(std::time(nullptr)) + "\t" + one_field(user.empty() ? "-" : user) + "\t" +
           action + "\t" + one_field(root) + "\t" + one_field(applicant) + "\t" +
           one_field(outcome) + "\n";
}

bool append_audit(const std::string& path, const std::string& lines) {
    if (path.empty()) return false;
    // O_APPEND keeps lines of concurrent writers whole; only the owner may read it.
    platform::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    return fd.valid() && platform::write_all(fd.get(), lines.data(), lines.size()) &&
           platform::flush_file_data(fd.get()) && fd.close();
}

bool audit(const std::string& path, const std::string& user, const std::string& action,
           const std::string& root, const std::string& applicant, const std::string& outcome) {
    return append_audit(path, audit_line(user, action, root, applicant, outcome));
}
