// The clock retention counts by, and the audit log.
#include "app/store/audit_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/store/store_files.h"
#include "platform/files.h"

namespace store {

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

std::string AuditLog::line(const std::string& action, const std::string& root,
                           const std::string& applicant, const std::string& outcome,
                           const std::string& user, const AuditExtras& extras) const {
    const std::string& who = user.empty() ? user_ : user;
    return utc_text(std::time(nullptr)) + "\t" + one_field(who.empty() ? "-" : who) + "\t" +
           one_field(action) + "\t" + one_field(root) + "\t" + one_field(applicant) + "\t" +
           one_field(outcome) +
           (extras.person_id.empty() ? "" : "\tperson " + one_field(extras.person_id)) +
           (extras.reference.empty() ? "" : "\trequest " + one_field(extras.reference)) + "\n";
}

std::string trimmed_reference(const std::string& typed) {
    const std::size_t first = typed.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return typed.substr(first, typed.find_last_not_of(' ') - first + 1);
}

std::string reference_problem(const std::string& reference) {
    if (reference.size() > MAX_REFERENCE_BYTES)
        return "The request reference is " + std::to_string(reference.size()) +
               " bytes long; at most " + std::to_string(MAX_REFERENCE_BYTES) + " are kept.";
    for (unsigned char ch : reference)
        if (ch < 0x20 || ch > 0x7e)
            return ch == '\t' || ch == '\n' || ch == '\r'
                       ? "The request reference holds a tab or a line break; it must be one line."
                       : "The request reference may hold only letters, digits, punctuation and "
                         "spaces (printable ASCII).";
    return {};
}

bool AuditLog::write_lines(const std::string& lines) const {
    if (path_.empty()) return false;
    // O_APPEND keeps lines of concurrent writers whole; only the owner may read it.
    platform::UniqueFd fd(::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    bool made = false;
    if (!fd.valid() && errno == ENOENT) {
        fd = platform::UniqueFd(::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
        made = fd.valid();
    }
    if (!fd.valid() || !platform::write_all(fd.get(), lines.data(), lines.size()) ||
        !platform::flush_file_data(fd.get()) || !fd.close())
        return false;
    // A log made now is only there after a crash once its folder's entry is flushed too.
    const std::size_t slash = path_.rfind('/');
    return !made || flush_directory(slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash));
}

std::string AuditLog::tail() const {
    constexpr std::int64_t kTail = 1 << 20;
    platform::UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    const std::int64_t size = fd.valid() ? platform::file_size(fd.get()) : -1;
    if (size <= 0) return {};
    const std::int64_t from = size > kTail ? size - kTail : 0;
    std::string text(static_cast<std::size_t>(size - from), '\0');
    const std::int64_t n = platform::read_at(fd.get(), text.data(), text.size(), from);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

}  // namespace store
