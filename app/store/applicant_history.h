// What staff record about an applicant: her decision, their notes and a "keep until" date, as an
// append-only history in her folder, one JSON line per event:
//   <root>/<name>/index.history-<person id>.jsonl
//   {"at":"2026-12-09T10:00:00Z","by":"staff","kind":"decision","decision":"rejected"}
//   {"at":...,"by":...,"kind":"note","text":"Called her; starts in March."}
//   {"at":...,"by":...,"kind":"keep","until":"2027-12-31","reason":"consent to the talent pool"}
// The history is erased and exported with her. Its newest decision and keep are indexed at the
// root (decision_index.h), so that the table never opens the histories.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/store/applicant_store.h"

namespace store {

// The decisions staff can record, in the order the console offers them; "new" until one is.
inline constexpr const char* DECISIONS[] = {"new",   "in-review", "interview", "offer",
                                            "hired", "rejected",  "withdrawn"};
inline constexpr char DEFAULT_DECISION[] = "new";
// The longest note and keep reason, in bytes.
inline constexpr std::size_t NOTE_MAX_BYTES = 2000;
inline constexpr std::size_t KEEP_REASON_MAX_BYTES = 200;

bool is_decision(std::string_view value);
// Rejected and withdrawn close an application: retention counts from them.
bool is_closing_decision(std::string_view value);
// The decision as staff read it: "in review" for "in-review".
std::string decision_label(std::string_view value);

struct HistoryEvent {
    std::string at;    // UTC, the records' form
    std::string by;    // the staff member
    std::string kind;  // "decision", "note" or "keep"
    std::string decision;       // kind "decision"
    std::string text;           // kind "note"
    std::string until, reason;  // kind "keep": a date "2027-12-31" and why
};

// The file name of the history of the person with `person_id` (applicants.h), in her folder.
inline std::string history_file_name(std::string_view person_id) {
    return "index.history-" + std::string(person_id) + ".jsonl";
}
// Whether `name` is a history file's name (filing leaves them where they are).
inline bool is_history_file_name(std::string_view name) {
    return name.starts_with("index.history-") && name.ends_with(".jsonl");
}
// The path of an applicant's history.
std::string history_path(const Applicant& applicant);

std::string history_json(const HistoryEvent& event);
std::optional<HistoryEvent> parse_history_line(std::string_view line);
// Every whole event of the history file at `path`, oldest first (none when it is missing; a line
// a crash cut short is skipped).
std::vector<HistoryEvent> read_history(const std::string& path);

// What the history comes to: the newest decision and the newest keep.
struct ApplicantStatus {
    std::string decision = DEFAULT_DECISION;
    std::string decided_at;  // "" while she is new
    std::string keep_until, keep_reason;
};
// `e` applied to `status`: a decision or a keep replaces the one before; a note changes nothing.
void apply_event(ApplicantStatus& status, const HistoryEvent& e);
ApplicantStatus status_of(const std::vector<HistoryEvent>& history);

// A note as it is kept: line ends made "\n"; nullopt with `why` set when it is empty, too long,
// not UTF-8 or holds a control character other than a line end.
std::optional<std::string> checked_note(std::string_view text, std::string& why);
// A keep reason (one line, at most KEEP_REASON_MAX_BYTES) and date (YYYY-MM-DD, a real day, after
// `today` and at most ten years on); false with `why` set otherwise.
bool keep_is_valid(std::string_view until, std::string_view reason, std::string_view today,
                   std::string& why);

// Appends `line` and its line end to the file at `path` (made when missing) and flushes it; the
// folder's entry is flushed too when the file is new. A line a crash cut short before is ended
// first, so that it never runs into this one.
bool append_flushed_line(const std::string& path, const std::string& line, std::string& error);

}  // namespace store
