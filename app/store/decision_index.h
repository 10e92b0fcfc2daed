// The decision index at the store root, index.decisions.jsonl: one JSON line per recorded
// decision or keep, naming the applicant by folder and person id,
//   {"folder":"Anna Schmidt","person":"<32 hex>","kind":"decision","at":"...","decision":"offer"}
//   {"folder":...,"person":...,"kind":"keep","at":"...","until":"2027-12-31","reason":"..."}
// appended under the store lock after the history line it repeats; the last line per applicant
// and kind wins. Derived data: the check rebuilds it from the histories. It lets the table and
// retention know every applicant's decision without opening 100,000 files.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "app/store/applicant_history.h"

namespace store {

inline constexpr char DECISION_INDEX_FILE_NAME[] = "index.decisions.jsonl";

std::string decision_index_path(const ApplicantStore& store);
// The index line for an event of the applicant `person_id` of `folder`; "" for a note (notes are
// not indexed).
std::string decision_index_line(std::string_view folder, std::string_view person_id,
                                const HistoryEvent& event);

// One line of the index as read.
struct DecisionIndexLine {
    std::string folder, person;
    HistoryEvent event;
    std::string text;  // the line itself
};
// Every whole line, in order (a line a crash cut short is skipped); with `folders`, only the lines
// of those folders (the others are passed over without being parsed).
std::vector<DecisionIndexLine> read_decision_index_lines(
    const ApplicantStore& store, const std::unordered_set<std::string_view>* folders = nullptr);

// The statuses the index holds, by folder and person id.
class DecisionIndex {
  public:
    explicit DecisionIndex(const std::vector<DecisionIndexLine>& lines);
    // The status of the applicant of `folder` whose person_key is `person_key`; null for one
    // without a recorded decision or keep (she is new).
    const ApplicantStatus* find(std::string_view folder, const std::string& person_key) const;
    bool empty() const { return by_folder_.empty(); }
    // Every status, by folder, then person id.
    const std::unordered_map<std::string, std::vector<std::pair<std::string, ApplicantStatus>>>&
    by_folder() const { return by_folder_; }

  private:
    std::unordered_map<std::string, std::vector<std::pair<std::string, ApplicantStatus>>> by_folder_;
};
DecisionIndex read_decision_index(const ApplicantStore& store,
                                  const std::unordered_set<std::string_view>* folders = nullptr);

// The index's lines as the histories of the applicants of `folders` give them, and their text.
std::vector<DecisionIndexLine> decision_index_from_histories(const ApplicantStore& store,
                                                             const std::vector<std::string>& folders);
std::string decision_index_text(const std::vector<DecisionIndexLine>& lines);
// Replaces the index with `text` (whole lines) in one step, under the held lock.
bool write_decision_index(const ApplicantStore& store, const std::string& text, std::string& error);

}  // namespace store
