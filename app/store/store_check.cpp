// The store's consistency check: the list against the folders, the catalogue against the
// records, the decision index against the histories, erasures cut short.
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <set>
#include <unordered_set>

#include "app/store/applicants.h"
#include "app/store/catalogue.h"
#include "app/store/decision_index.h"
#include "app/store/erasure_marks.h"
#include "app/store/list_line.h"
#include "app/store/operations.h"
#include "app/store/store_files.h"

namespace store {

namespace {

// A folder without a page that a filing in progress explains: it holds nothing but temporary
// files and changed in the last 15 minutes (filing makes the folder, then stages its files).
bool filing_in_progress(const std::string& dir) {
    for (const std::string& name : names_in(dir))
        if (name.rfind(platform::TEMP_NAME_PREFIX, 0) != 0) return false;
    const std::int64_t changed = modified_time(dir);
    return changed >= 0 && std::time(nullptr) - changed < 15 * 60;
}

std::string catalogue_text(const ApplicantStore& store, const std::vector<std::string>& folders) {
    std::vector<std::pair<std::string, std::string>> lines;  // filed, line
    for (const std::string& folder : folders)
        if (auto a = store.read_folder(folder))
            for (const StoredSubmission& s : a->submissions)
                if (s.record) lines.emplace_back(s.record->filed, catalogue_line(*s.record, folder));
    std::stable_sort(lines.begin(), lines.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string text;
    for (const auto& [filed, line] : lines) (text += line) += '\n';
    return text;
}

}  // namespace

std::vector<StoreProblem> check_store(const ApplicantStore& store, bool repair,
                                      const AuditLog& audit, std::string& error) {
    std::vector<StoreProblem> problems;
    StoreLock lock = store.lock();
    if (!lock.held()) {
        error = "cannot lock " + store.list_path();
        return problems;
    }
    if (exists(store.erasures_dir())) {
        if (!repair) {
            for (const ErasurePlan& p : pending_erasures(store))
                problems.push_back({"erasure cut short", p.folder});
        } else if (!finish_erasures(store, lock, audit, error)) {
            return problems;
        }
    }
    auto has_page = [&](const std::string& folder) {
        return exists(store.applicant_page_path(folder));
    };
    std::vector<ListEntry> kept;
    std::unordered_set<std::string> listed;
    for (ListEntry& e : read_list(lock.fd())) {
        if (e.folder.empty()) {
            problems.push_back({"broken list line", e.text.substr(0, 80)});
        } else if (!listed.insert(e.folder).second) {
            problems.push_back({"repeated list line", e.folder});
        } else {
            // A line whose folder is missing or has no page stays: the folder may come back
            // from a backup, and only the admin can tell.
            if (!is_folder(store.applicant_dir(e.folder)))
                problems.push_back({"list line without applicant folder (kept: restore the "
                                    "folder from a backup, or erase the line by hand)",
                                    e.folder, false});
            else if (!has_page(e.folder))
                problems.push_back({"list line without applicant page (kept)", e.folder, false});
            kept.push_back(std::move(e));
        }
    }
    std::vector<std::string> all_folders;
    for (const std::string& name : names_in(store.store_root()))
        if (!is_reserved_name(name) && is_folder(store.applicant_dir(name))) all_folders.push_back(name);
    std::sort(all_folders.begin(), all_folders.end());
    std::vector<std::string> folders;
    for (const std::string& folder : all_folders) {
        if (has_page(folder)) {
            folders.push_back(folder);
            if (!listed.count(folder)) {
                problems.push_back({"applicant folder without list line", folder});
                kept.push_back({list_line(folder), folder});
            }
        } else if (!listed.count(folder) && !filing_in_progress(store.applicant_dir(folder))) {
            problems.push_back({"folder without applicant page", folder, false});
        }
    }
    // The catalogue against the records: one line per submission found on disk.
    std::map<std::string, std::size_t> on_disk, catalogued;
    for (const std::string& folder : folders)
        if (auto a = store.read_folder(folder))
            for (const StoredSubmission& s : a->submissions) on_disk[folder] += s.record ? 1 : 0;
    Catalogue catalogue = read_catalogue(store);
    for (const CatalogueLine& line : catalogue.lines) ++catalogued[std::string(line.folder)];
    for (const auto& [folder, count] : on_disk)
        if (catalogued[folder] != count) problems.push_back({"catalogue out of step", folder});
    for (const auto& [folder, count] : catalogued)
        if (!on_disk.count(folder) && count)
            problems.push_back({"catalogue names a missing applicant", folder});

    // The decision index against the histories: what it says of each applicant, and nothing of
    // anyone without a history.
    const std::vector<DecisionIndexLine> rebuilt = decision_index_from_histories(store, folders);
    {
        // Each applicant's status as the index says it and as her history does.
        auto fold = [](const std::vector<DecisionIndexLine>& lines) {
            std::map<std::pair<std::string, std::string>, ApplicantStatus> status;
            for (const DecisionIndexLine& l : lines) {
                ApplicantStatus& s = status[{l.folder, l.person}];
                if (l.event.kind == "decision") {
                    s.decision = l.event.decision;
                    s.decided_at = l.event.at;
                } else {
                    s.keep_until = l.event.until;
                    s.keep_reason = l.event.reason;
                }
            }
            return status;
        };
        auto same = [](const ApplicantStatus& a, const ApplicantStatus& b) {
            return a.decision == b.decision && a.decided_at == b.decided_at &&
                   a.keep_until == b.keep_until && a.keep_reason == b.keep_reason;
        };
        const auto expected = fold(rebuilt), found = fold(read_decision_index_lines(store));
        std::set<std::string> out_of_step;
        for (const auto& [who, s] : expected)
            if (auto it = found.find(who); it == found.end() || !same(it->second, s))
                out_of_step.insert(who.first);
        for (const auto& [who, s] : found)
            if (!expected.count(who)) out_of_step.insert(who.first);
        for (const std::string& folder : out_of_step)
            problems.push_back({"decision index out of step", folder});
        // A history nobody of the folder filed: an erasure's leftover, for the admin to look at.
        for (const std::string& folder : folders) {
            std::set<std::string> people;
            for (const Applicant& a : applicants_in(store, folder))
                people.insert(history_file_name(person_id(a.person)));
            for (const std::string& name : names_in(store.applicant_dir(folder)))
                if (is_history_file_name(name) && !people.count(name))
                    problems.push_back({"history of nobody filed here (kept): " + name, folder, false});
        }
    }

    const bool to_repair = std::any_of(problems.begin(), problems.end(),
                                       [](const StoreProblem& p) { return p.repairable; });
    if (repair && to_repair &&
        !(write_list(lock.fd(), kept) && write_catalogue(store, catalogue_text(store, folders)) &&
          write_decision_index(store, decision_index_text(rebuilt), error)))
        error = "cannot rewrite the list, catalogue or decision index of " + store.store_root();
    return problems;
}

}  // namespace store
