// An applicant's history: its codec, its reading and the checks of what staff write into it.
#include "app/store/applicant_history.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <utf8proc.h>

#include "app/store/applicants.h"
#include "app/store/store_files.h"
#include "platform/files.h"

namespace store {

namespace {

std::string text_of(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Whether `text` is UTF-8 without control characters but, where `newlines`, "\n".
bool is_clean_text(std::string_view text, bool newlines) {
    const auto* at = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t code = 0;
        const utf8proc_ssize_t n = utf8proc_iterate(at, left, &code);
        if (n <= 0) return false;
        if (utf8proc_category(code) == UTF8PROC_CATEGORY_CC && !(newlines && code == '\n'))
            return false;
        at += n;
        left -= n;
    }
    return true;
}

}  // namespace

bool is_decision(std::string_view value) {
    for (const char* d : DECISIONS)
        if (value == d) return true;
    return false;
}

bool is_closing_decision(std::string_view value) {
    return value == "rejected" || value == "withdrawn";
}

std::string decision_label(std::string_view value) {
    std::string label(value);
    for (char& c : label)
        if (c == '-') c = ' ';
    return label;
}

std::string history_path(const Applicant& applicant) {
    return applicant.path + "/" + history_file_name(person_id(applicant.person));
}

std::string history_json(const HistoryEvent& e) {
    nlohmann::json j = {{"at", e.at}, {"by", e.by}, {"kind", e.kind}};
    if (e.kind == "decision") j["decision"] = e.decision;
    if (e.kind == "note") j["text"] = e.text;
    if (e.kind == "keep") {
        j["until"] = e.until;
        j["reason"] = e.reason;
    }
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<HistoryEvent> parse_history_line(std::string_view line) {
    nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    HistoryEvent e{text_of(j, "at"), text_of(j, "by"), text_of(j, "kind"), text_of(j, "decision"),
                   text_of(j, "text"), text_of(j, "until"), text_of(j, "reason")};
    if (e.at.empty() || (e.kind == "decision" && !is_decision(e.decision)) ||
        (e.kind != "decision" && e.kind != "note" && e.kind != "keep"))
        return std::nullopt;
    return e;
}

std::vector<HistoryEvent> read_history(const std::string& path) {
    std::vector<HistoryEvent> events;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);)
        if (auto e = parse_history_line(line)) events.push_back(std::move(*e));
    return events;
}

void apply_event(ApplicantStatus& status, const HistoryEvent& e) {
    if (e.kind == "decision") {
        status.decision = e.decision;
        status.decided_at = e.at;
    } else if (e.kind == "keep") {
        status.keep_until = e.until;
        status.keep_reason = e.reason;
    }
}

ApplicantStatus status_of(const std::vector<HistoryEvent>& history) {
    ApplicantStatus status;
    for (const HistoryEvent& e : history) apply_event(status, e);
    return status;
}

std::optional<std::string> checked_note(std::string_view text, std::string& why) {
    std::string note;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) note += text[i];
    while (!note.empty() && (note.back() == '\n' || note.back() == ' ')) note.pop_back();
    if (note.empty()) why = "The note is empty.";
    else if (note.size() > NOTE_MAX_BYTES)
        why = "A note holds at most " + std::to_string(NOTE_MAX_BYTES) + " bytes.";
    else if (!is_clean_text(note, true))
        why = "A note is UTF-8 text without control characters (line ends are kept).";
    else
        return note;
    return std::nullopt;
}

bool keep_is_valid(std::string_view until, std::string_view reason, std::string_view today,
                   std::string& why) {
    std::tm day{};
    const std::string date(until);
    const char* end = date.size() == 10 ? strptime(date.c_str(), "%Y-%m-%d", &day) : nullptr;
    char again[16] = "";
    if (end && !*end) {
        // A day that does not exist (2027-02-30) comes back as another one.
        std::time_t t = timegm(&day);
        std::tm back{};
        gmtime_r(&t, &back);
        std::strftime(again, sizeof again, "%Y-%m-%d", &back);
    }
    const std::string latest = std::to_string(std::atoi(std::string(today.substr(0, 4)).c_str()) + 10) +
                               std::string(today.substr(4, 6));
    if (date != again) why = "The date is not a day of the form 2027-12-31.";
    else if (date <= today.substr(0, 10)) why = "The date must lie after today.";
    else if (date > latest) why = "The date lies more than ten years ahead.";
    else if (reason.empty()) why = "Say why she is kept (her consent to the talent pool, ...).";
    else if (reason.size() > KEEP_REASON_MAX_BYTES || !is_clean_text(reason, false))
        why = "The reason is one line of at most " + std::to_string(KEEP_REASON_MAX_BYTES) + " bytes.";
    else
        return true;
    return false;
}

bool append_flushed_line(const std::string& path, const std::string& line, std::string& error) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC));
    bool made = false;
    if (!fd.valid() && errno == ENOENT) {
        fd = platform::UniqueFd(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        made = fd.valid();
    }
    std::string text = line + "\n";
    const std::int64_t size = fd.valid() ? platform::file_size(fd.get()) : -1;
    char last = '\n';
    if (size > 0 && platform::read_at(fd.get(), &last, 1, size - 1) == 1 && last != '\n')
        text.insert(0, 1, '\n');
    const std::size_t slash = path.rfind('/');
    if (size < 0 || !platform::write_all(fd.get(), text.data(), text.size()) ||
        !platform::flush_file_data(fd.get()) || !fd.close() ||
        (made && !flush_directory(slash == std::string::npos ? "." : path.substr(0, slash)))) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace store
