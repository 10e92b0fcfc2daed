// The audit log: one line per step of every erasure, retention run, export and restore,
// "<UTC time>\t<user>\t<action>\t<store root>\t<applicant>\t<outcome>", flushed before the step
// it names goes on. Erasures and exports add "person <person id>" (which of the name's applicants)
// and, when made on a data subject's request, "request <reference>" as the last field; lines
// written before have six fields. Tabs and line ends in the texts become spaces: one line is one
// step.
#pragma once

#include <ctime>
#include <string>

namespace store {

// The fields after the sixth, each left out when empty.
struct AuditExtras {
    std::string person_id;  // the applicant's (applicants.h)
    std::string reference;  // the data subject's request (reference_problem says none)
};

class AuditLog {
  public:
    AuditLog() = default;
    AuditLog(std::string path, std::string user) : path_(std::move(path)), user_(std::move(user)) {}

    bool configured() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    const std::string& user() const { return user_; }

    // One line without writing it (for write_lines), by `user` ("" : this log's user).
    std::string line(const std::string& action, const std::string& root,
                     const std::string& applicant, const std::string& outcome,
                     const std::string& user = {}, const AuditExtras& extras = {}) const;
    // Appends whole lines with one write and flushes them; false when that fails.
    bool write_lines(const std::string& lines) const;
    // The log's last 1 MiB (for what an operation finishing another's may have logged already).
    std::string tail() const;
    bool write(const std::string& action, const std::string& root, const std::string& applicant,
               const std::string& outcome, const AuditExtras& extras = {}) const {
        return write_lines(line(action, root, applicant, outcome, {}, extras));
    }

  private:
    std::string path_, user_;
};

// "Now" for retention: APPLY_NOW when set (a UTC time "2026-12-08T16:20:05Z" or seconds since
// 1970, for tests and dry runs), otherwise the system clock.
std::time_t lifecycle_now();
// A UTC time in the records' form.
std::string utc_text(std::time_t t);
// The records' form of `now` less `days` days: latest submissions before it are due.
std::string retention_cutoff(std::time_t now, int days);

// A data subject's request reference ("DSR-2026-0142") as typed, without the spaces around it.
std::string trimmed_reference(const std::string& typed);
// Why `reference` (trimmed) cannot go into an audit line, or "" when it can: at most
// MAX_REFERENCE_BYTES printable ASCII characters, so no tab or line end.
inline constexpr std::size_t MAX_REFERENCE_BYTES = 80;
std::string reference_problem(const std::string& reference);
}  // namespace store
