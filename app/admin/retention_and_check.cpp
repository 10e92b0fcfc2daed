// Retention runs and the store's consistency check.
#include <algorithm>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "app/admin/lifecycle.h"

namespace fs = std::filesystem;

namespace {

std::string catalogue_text(const std::vector<Submission>& lines) {
    std::string text;
    for (const Submission& s : lines) (text += catalogue_line(s)) += '\n';
    return text;
}

}  // namespace

bool run_retention(StaffStore& store, const std::string& cutoff, std::vector<std::string>& erased,
                   std::string& error) {
    StoreLock lock = store.lock();
    if (!lock.held()) {
        error = "cannot lock " + store.list_path();
        return false;
    }
    // Decided under the lock: a submission filed meanwhile makes its applicant current again.
    std::vector<std::string> due;
    Catalogue catalogue = store.read_catalogue();
    for (const ApplicantRow& row : rows_filed_before(applicant_rows(catalogue), cutoff))
        due.push_back(std::string(row.latest.folder));
    return store.erase_all(due, lock, erased, error);
}

std::vector<StoreProblem> check_store(StaffStore& store, bool repair, std::string& error) {
    std::vector<StoreProblem> problems;
    StoreLock lock = store.lock();
    if (!lock.held()) {
        error = "cannot lock " + store.list_path();
        return problems;
    }
    if (!store.finish_interrupted_erasures(lock.list_fd(), error)) return problems;
    auto has_page = [&](const std::string& folder) {
        return fs::exists(store.folder_path(folder) + "/index.html");
    };
    std::vector<StaffStore::ListLine> kept;
    std::unordered_set<std::string> listed;
    for (StaffStore::ListLine& line : store.read_list(lock.list_fd())) {
        if (line.folder.empty())
            problems.push_back({"broken list line", line.text.substr(0, 80)});
        else if (!has_page(line.folder))
            problems.push_back({"list line without applicant page", line.folder});
        else if (!listed.insert(line.folder).second)
            problems.push_back({"repeated list line", line.folder});
        else
            kept.push_back(std::move(line));
    }
    std::vector<std::string> folders = store.applicant_folders();
    for (const std::string& folder : folders) {
        if (listed.count(folder)) continue;
        if (!has_page(folder)) {
            problems.push_back({"folder without applicant page", folder});
            continue;
        }
        problems.push_back({"applicant folder without list line", folder});
        kept.push_back({StaffStore::list_line_for(folder), folder});
    }
    // The catalogue against the records: one line per submission found on disk.
    std::vector<Submission> rebuilt;
    for (const std::string& folder : folders)
        if (auto a = store.read_applicant(folder))
            for (auto it = a->submissions.rbegin(); it != a->submissions.rend(); ++it)
                rebuilt.push_back(*it);
    std::stable_sort(rebuilt.begin(), rebuilt.end(),
                     [](const Submission& a, const Submission& b) { return a.filed < b.filed; });
    std::unordered_map<std::string, std::size_t> on_disk, catalogued;
    for (const Submission& s : rebuilt) ++on_disk[s.folder];
    Catalogue catalogue = store.read_catalogue();
    for (const CatalogueLine& line : catalogue.lines) ++catalogued[std::string(line.folder)];
    for (const auto& [folder, count] : on_disk)
        if (catalogued[folder] != count) problems.push_back({"catalogue out of step", folder});
    for (const auto& [folder, count] : catalogued)
        if (!on_disk.count(folder)) problems.push_back({"catalogue names a missing applicant", folder});

    if (repair && !problems.empty() &&
        !(store.write_list(lock.list_fd(), kept) && store.write_catalogue(catalogue_text(rebuilt))))
        error = "cannot rewrite the list or catalogue of " + store.root();
    return problems;
}
