// The audit log read backwards in blocks, its lines parsed, filtered and paged.
#include "app/store/audit_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace store {

AuditEntry parse_audit_line(std::string_view line) {
    AuditEntry e;
    std::string* const fields[] = {&e.time, &e.user, &e.action, &e.root, &e.applicant, &e.outcome};
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        parts.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    if (parts.size() < 6) {
        e.outcome = std::string(line);
        e.whole = false;
        return e;
    }
    for (std::size_t i = 0; i < 6; ++i) *fields[i] = std::string(parts[i]);
    // Fields after the sixth: the person id, the request reference, and whatever later versions add.
    constexpr std::string_view kPerson = "person ", kRequest = "request ";
    for (std::size_t i = 6; i < parts.size(); ++i)
        if (parts[i].substr(0, kPerson.size()) == kPerson)
            e.person_id = std::string(parts[i].substr(kPerson.size()));
        else if (parts[i].substr(0, kRequest.size()) == kRequest)
            e.reference = std::string(parts[i].substr(kRequest.size()));
    // Decisions, notes and keeps first named her at the end of the outcome: "... [person <id>]".
    constexpr std::string_view kOldPerson = " [person ";
    constexpr std::size_t kOldLength = kOldPerson.size() + 32 + 1;
    if (e.person_id.empty() && e.outcome.size() >= kOldLength && e.outcome.back() == ']' &&
        std::string_view(e.outcome).substr(e.outcome.size() - kOldLength, kOldPerson.size()) ==
            kOldPerson)
        e.person_id = e.outcome.substr(e.outcome.size() - kOldLength + kOldPerson.size(), 32);
    return e;
}

bool for_each_audit_line_newest_first(const std::string& path,
                                      const std::function<bool(std::string_view)>& each,
                                      std::string& error) {
    constexpr std::size_t kBlock = 1 << 16, kLongest = 1 << 20;
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const std::int64_t size = fd.valid() ? platform::file_size(fd.get()) : -1;
    if (size < 0) {
        error = "cannot read the audit log " + path + ": " + std::strerror(errno);
        return false;
    }
    // `text` is the block just read followed by the start of the line the blocks after it began.
    std::string text, cut;
    bool overlong = false;  // the line being gathered in `cut` is too long and is passed over
    std::vector<char> block(kBlock);
    for (std::int64_t at = size; at > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(at, kBlock));
        at -= static_cast<std::int64_t>(n);
        if (platform::read_at(fd.get(), block.data(), n, at) != static_cast<std::int64_t>(n)) {
            error = "cannot read the audit log " + path;
            return false;
        }
        text.assign(block.data(), n);
        text += cut;
        std::size_t end = text.size();
        for (std::size_t nl = text.rfind('\n', end ? end - 1 : 0); nl != std::string::npos && end > 0;
             nl = nl ? text.rfind('\n', nl - 1) : std::string::npos) {
            const std::string_view line(text.data() + nl + 1, end - nl - 1);
            if (overlong) overlong = false;
            else if (!line.empty() && !each(line)) return true;
            end = nl;
            if (nl == 0) break;
        }
        // What is left before the block's first line end belongs to a line an earlier block ends.
        cut.assign(text, 0, std::min(end, text.size()));
        if (cut.size() > kLongest) cut.clear(), overlong = true;
    }
    if (!overlong && !cut.empty()) each(cut);
    return true;
}

namespace {

bool is_day(const std::string& day) {
    return day.size() == 10 && day[4] == '-' && day[7] == '-' &&
           std::all_of(day.begin(), day.end(), [](char c) { return c == '-' || (c >= '0' && c <= '9'); });
}

}  // namespace

bool AuditFilter::matches(const AuditEntry& e) const {
    const std::string day = e.time.substr(0, 10);
    return (applicant.empty() || e.applicant == applicant) &&
           (person_id.empty() || e.person_id == person_id) && (action.empty() || e.action == action) &&
           (user.empty() || e.user == user) && (reference.empty() || e.reference == reference) &&
           (!is_day(from_day) || day >= from_day) && (!is_day(to_day) || day <= to_day);
}

bool read_audit_page(const std::string& path, const AuditFilter& filter, std::size_t page,
                     std::size_t rows_per_page, AuditPage& out, std::string& error) {
    out = AuditPage{};
    page = std::max<std::size_t>(page, 1);
    rows_per_page = std::max<std::size_t>(rows_per_page, 1);
    // The page asked for, and the page being filled (the last one, should the log end first).
    std::vector<AuditEntry> wanted, current;
    const bool read = for_each_audit_line_newest_first(path, [&](std::string_view line) {
        AuditEntry e = parse_audit_line(line);
        if (!filter.matches(e)) return true;
        if (out.matching % rows_per_page == 0) current.clear();
        ++out.matching;
        current.push_back(std::move(e));
        if (out.matching == page * rows_per_page) wanted = current;
        return true;
    }, error);
    if (!read) return false;
    out.pages = std::max<std::size_t>((out.matching + rows_per_page - 1) / rows_per_page, 1);
    out.page = std::min(page, out.pages);
    out.entries = out.page == page && !wanted.empty() ? std::move(wanted) : std::move(current);
    return true;
}

}  // namespace store
