// Reading (with simdjson: the table reads it on every page), writing and rebuilding the decision
// index.
#include "app/store/decision_index.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <nlohmann/json.hpp>
#include <simdjson.h>

#include "app/store/applicants.h"
#include "app/store/staged_file.h"
#include "app/store/store_files.h"
#include "platform/files.h"

namespace store {

namespace {

// The folder's JSON text as the line holds it, found without parsing the line: inside a string
// a quote is escaped, so `"folder"` followed by a colon is the key. Nullopt when it is not plain
// (escapes in it) or not found.
std::optional<std::string_view> plain_folder(std::string_view line) {
    constexpr std::string_view key = "\"folder\"";
    const auto blank = [&](std::size_t i) {
        return line.find_first_not_of(" \t", i) == std::string_view::npos ? line.size() : line.find_first_not_of(" \t", i);
    };
    for (std::size_t at = line.find(key); at != std::string_view::npos; at = line.find(key, at + 1)) {
        std::size_t i = blank(at + key.size());
        if (i >= line.size() || line[i] != ':') continue;
        i = blank(i + 1);
        if (i >= line.size() || line[i] != '"') continue;
        const std::size_t end = line.find_first_of("\"\\", i + 1);
        if (end == std::string_view::npos || line[end] != '"') return std::nullopt;
        return line.substr(i + 1, end - i - 1);
    }
    return std::nullopt;
}

}  // namespace

std::string decision_index_path(const ApplicantStore& store) {
    return store.store_root() + "/" + DECISION_INDEX_FILE_NAME;
}

std::string decision_index_line(std::string_view folder, std::string_view person_id,
                                const HistoryEvent& e) {
    if (e.kind != "decision" && e.kind != "keep") return "";
    nlohmann::json j = {{"folder", folder}, {"person", person_id}, {"kind", e.kind}, {"at", e.at}};
    if (e.kind == "decision") j["decision"] = e.decision;
    else {
        j["until"] = e.until;
        j["reason"] = e.reason;
    }
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<DecisionIndexLine> read_decision_index_lines(
    const ApplicantStore& store, const std::unordered_set<std::string_view>* folders) {
    std::vector<DecisionIndexLine> lines;
    simdjson::padded_string text;
    if (simdjson::padded_string::load(decision_index_path(store)).get(text)) return lines;
    simdjson::dom::parser parser;
    const std::string_view all(text.data(), text.size());
    for (std::size_t start = 0; start < all.size();) {
        const std::size_t end = std::min(all.find('\n', start), all.size());
        const std::string_view one = all.substr(start, end - start);
        start = end + 1;
        if (folders) {
            const auto folder = plain_folder(one);
            if (folder && !folders->count(*folder)) continue;
        }
        // Parsed where it lies: what follows (the next lines, then the padding) is readable.
        simdjson::dom::object object;
        if (one.empty() || parser.parse(one.data(), one.size(), false).get(object)) continue;
        DecisionIndexLine line;
        for (auto [key, value] : object) {
            std::string_view field;
            if (value.get(field)) continue;
            std::string* target = key == "folder" ? &line.folder : key == "person" ? &line.person
                                : key == "kind" ? &line.event.kind : key == "at" ? &line.event.at
                                : key == "decision" ? &line.event.decision
                                : key == "until" ? &line.event.until
                                : key == "reason" ? &line.event.reason : nullptr;
            if (target) target->assign(field);
        }
        const bool whole = !line.folder.empty() && !line.person.empty() &&
                           ((line.event.kind == "decision" && is_decision(line.event.decision)) ||
                            (line.event.kind == "keep" && !line.event.until.empty()));
        if (!whole) continue;
        line.text.assign(one);
        lines.push_back(std::move(line));
    }
    return lines;
}

DecisionIndex::DecisionIndex(const std::vector<DecisionIndexLine>& lines) {
    by_folder_.reserve(lines.size());
    for (const DecisionIndexLine& line : lines) {
        auto& people = by_folder_[line.folder];
        auto it = std::find_if(people.begin(), people.end(),
                               [&](const auto& p) { return p.first == line.person; });
        if (it == people.end()) it = people.insert(people.end(), {line.person, ApplicantStatus{}});
        apply_event(it->second, line.event);
    }
}

const ApplicantStatus* DecisionIndex::find(std::string_view folder, const std::string& person_key) const {
    auto it = by_folder_.find(std::string(folder));
    if (it == by_folder_.end()) return nullptr;
    const std::string id = person_id(person_key);
    for (const auto& [person, status] : it->second)
        if (person == id) return &status;
    return nullptr;
}

DecisionIndex read_decision_index(const ApplicantStore& store,
                                  const std::unordered_set<std::string_view>* folders) {
    return DecisionIndex(read_decision_index_lines(store, folders));
}

std::vector<DecisionIndexLine> decision_index_from_histories(const ApplicantStore& store,
                                                             const std::vector<std::string>& folders) {
    // Each applicant's lines in her history's order: the last per kind is her newest.
    std::vector<DecisionIndexLine> lines;
    for (const std::string& folder : folders)
        for (const Applicant& a : applicants_in(store, folder)) {
            const std::string id = person_id(a.person);
            for (HistoryEvent& e : read_history(history_path(a))) {
                std::string text = decision_index_line(folder, id, e);
                if (!text.empty()) lines.push_back({folder, id, std::move(e), std::move(text)});
            }
        }
    return lines;
}

std::string decision_index_text(const std::vector<DecisionIndexLine>& lines) {
    std::string text;
    for (const DecisionIndexLine& line : lines) (text += line.text) += '\n';
    return text;
}

bool write_decision_index(const ApplicantStore& store, const std::string& text, std::string& error) {
    const std::string path = decision_index_path(store);
    if (text.empty() && !exists(path)) return true;
    StagedFile staged;
    if (!staged.create(store.store_root()) ||
        !platform::write_all(staged.fd(), text.data(), text.size()) || !staged.finish() ||
        !staged.commit(path) || !flush_directory(store.store_root())) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace store
