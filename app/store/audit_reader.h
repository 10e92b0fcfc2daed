// Reading the audit log back, newest line first, in blocks from its end: a log of hundreds of MiB
// is never held in memory, only one block, the line it cuts and the page of lines asked for.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace store {

// One line of the log in its fields (see audit_log.h). A line of fewer than six fields is kept
// whole in `outcome`, with `whole` false; lines without a person id or request reference have
// them empty.
struct AuditEntry {
    std::string time, user, action, root, applicant, outcome, person_id, reference;
    bool whole = true;
};
AuditEntry parse_audit_line(std::string_view line);

// Calls `each` with every line of the log at `path`, newest (last) first, until it returns false.
// A line longer than 1 MiB is passed over. False, with `error`, when the log cannot be read.
bool for_each_audit_line_newest_first(const std::string& path,
                                      const std::function<bool(std::string_view)>& each,
                                      std::string& error);

// Which lines to show; empty fields match everything. Days are "YYYY-MM-DD" (UTC), both included.
// A person id matches only the lines that name one.
struct AuditFilter {
    std::string applicant, person_id, action, user, reference, from_day, to_day;
    bool matches(const AuditEntry& entry) const;
};

// One page of the matching lines, newest first; a page number past the last gives the last.
struct AuditPage {
    std::vector<AuditEntry> entries;
    std::size_t matching = 0;  // lines that match, on every page
    std::size_t page = 1, pages = 1;
};
bool read_audit_page(const std::string& path, const AuditFilter& filter, std::size_t page,
                     std::size_t rows_per_page, AuditPage& out, std::string& error);

}  // namespace store
