// Erasing applicants: every step named in the audit log first, then planned on disk, then made
// in an order that a crash at any point leaves for the next operation to finish.
//
// Under the store lock, for each applicant:
// 1. her plan is written to <root>/.tmp-erasures/<id>.json and flushed (from here filing leaves
//    the folder alone, and the next operation finishes the erasure);
// 2. what goes is moved into <root>/.tmp-erasures/<id>/: the whole folder when every submission
//    in it is hers (one rename: the name is then free for a new applicant); otherwise her stamp
//    folders and, when the folder's latest submission is hers, her latest record, resume and
//    page are replaced by the newest submission of the others, whose page is written anew
//    without links to what went;
//    (her history, index.history-<person id>.jsonl, goes with her submissions);
// 3. the list loses the lines of folders that went, the catalogue and the decision index her
//    lines, all flushed;
// 4. what was moved is removed, then the plan; the audit log gets the line saying it is done.
// Each step looks at the disk before it acts, so running the plan again finishes it.
#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "app/store/applicant_page.h"
#include "app/store/applicants.h"
#include "app/store/catalogue.h"
#include "app/store/decision_index.h"
#include "app/store/erasure_marks.h"
#include "app/store/list_line.h"
#include "app/store/operations.h"
#include "app/store/record.h"
#include "app/store/staged_file.h"
#include "app/store/store_files.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace store {

namespace {

std::string failure(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

std::string plan_path(const ApplicantStore& store, const ErasurePlan& plan) {
    return store.erasures_dir() + "/" + plan.id + ".json";
}
std::string taken_dir(const ApplicantStore& store, const ErasurePlan& plan) {
    return store.erasures_dir() + "/" + plan.id;
}

std::string describe(const ErasurePlan& plan, std::size_t count) {
    return plan.whole ? "all " + std::to_string(count) + " submissions and the list line"
                      : std::to_string(count) + " submissions of one of the name's applicants";
}

// The plan for one applicant, as the disk holds her now; `count` gets her submissions.
std::optional<ErasurePlan> make_plan(const ApplicantStore& store, const Applicant& applicant,
                                     const std::string& id, std::size_t& count, std::string& error) {
    auto folder = store.read_folder(applicant.folder_name);
    if (!folder) {
        error = "no such applicant: " + applicant.folder_name;
        return std::nullopt;
    }
    ErasurePlan plan;
    plan.id = id;
    plan.folder = applicant.folder_name;
    plan.person = applicant.person;
    plan.whole = true;
    const StoredSubmission* newest_kept = nullptr;
    count = 0;
    for (const StoredSubmission& s : folder->submissions) {
        const std::string key = s.record ? person_key(s.record->mail) : std::string();
        count += key == applicant.person;
        if (key != applicant.person) {
            plan.whole = false;
            if (!newest_kept && !s.stamp.empty()) newest_kept = &s;
        } else if (s.stamp.empty()) {
            plan.latest = true;
            plan.old_resume = s.record ? s.record->resume : std::string();
        } else {
            plan.stamps.push_back(s.stamp);
        }
    }
    if (count == 0) {
        error = "no such applicant: " + applicant.folder_name;
        return std::nullopt;
    }
    if (plan.whole) {
        plan.stamps.clear();
        plan.latest = false;
        plan.old_resume.clear();
    } else if (plan.latest) {
        if (!newest_kept || !newest_kept->record) {
            error = "cannot erase one applicant of " + plan.folder +
                    ": the page that would be left was filed before records were kept";
            return std::nullopt;
        }
        plan.promote = newest_kept->stamp;
    }
    return plan;
}

bool write_plan(const ApplicantStore& store, const ErasurePlan& plan, std::string& error) {
    const std::string dir = store.erasures_dir();
    const bool made = platform::make_directory(dir.c_str()) == 0;
    if (!made && errno != EEXIST) {
        error = failure("cannot make", dir);
        return false;
    }
    const std::string text = plan_json(plan);
    StagedFile staged;
    if (!staged.create(dir) || !platform::write_all(staged.fd(), text.data(), text.size()) ||
        !staged.finish() || !staged.commit(plan_path(store, plan)) || !flush_directory(dir) ||
        (made && !flush_directory(store.store_root()))) {
        error = failure("cannot write", plan_path(store, plan));
        return false;
    }
    return true;
}

// Moves `from` to `to` unless it has gone already.
bool move_if_there(const std::string& from, const std::string& to, std::string& error) {
    if (!exists(from)) return true;
    if (rename_file(from, to)) return true;
    error = failure("cannot move", from);
    return false;
}

// Writes the folder's page anew from its latest record, with links to the stamps left.
bool rewrite_page(const std::string& dir, std::string& error) {
    auto record = read_record(dir + "/" + RECORD_FILE_NAME);
    if (!record) {
        error = "no record in " + dir;
        return false;
    }
    StagedFile staged;
    std::FILE* out = staged.create(dir) ? staged.stream() : nullptr;
    if (!out ||
        !write_applicant_page(out, record->name.c_str(), record->mail.c_str(),
                              record->interest.c_str(), record->resume.c_str(), earlier_stamps(dir)) ||
        !staged.finish() || !staged.commit(dir + "/" + PAGE_FILE_NAME)) {
        error = failure("cannot write", dir + "/" + PAGE_FILE_NAME);
        return false;
    }
    return true;
}

// Step 2 of one plan: what goes moved out of the folder.
bool take_out(const ApplicantStore& store, const ErasurePlan& plan, std::string& error) {
    const std::string taken = taken_dir(store, plan);
    if (platform::make_directory(taken.c_str()) != 0 && errno != EEXIST) {
        error = failure("cannot make", taken);
        return false;
    }
    const std::string dir = store.applicant_dir(plan.folder);
    if (plan.whole) {
        if (!move_if_there(dir, taken + "/folder", error)) return false;
        if (!flush_directory(store.store_root())) {
            error = failure("cannot flush", store.store_root());
            return false;
        }
        return true;
    }
    // Her history (decisions and notes) goes with her.
    if (!move_if_there(dir + "/" + history_file_name(person_id(plan.person)), taken + "/history",
                       error))
        return false;
    if (!exists(dir + "/" + PAGE_FILE_NAME) && !exists(dir + "/" + RECORD_FILE_NAME)) return true;
    for (const std::string& stamp : plan.stamps)
        if (!move_if_there(dir + "/" + stamp, taken + "/" + stamp, error)) return false;
    if (plan.latest) {
        const std::string kept = dir + "/" + plan.promote;
        // The other applicant's record replaces hers in one step; from then on the folder's
        // latest submission is the other's.
        if (!move_if_there(kept + "/" + RECORD_FILE_NAME, dir + "/" + RECORD_FILE_NAME, error))
            return false;
        auto latest = read_record(dir + "/" + RECORD_FILE_NAME);
        const std::string resume = latest ? latest->resume : std::string();
        if (!resume.empty() && !is_reserved_name(resume) &&
            !move_if_there(kept + "/" + resume, dir + "/" + resume, error))
            return false;
        if (!plan.old_resume.empty() && plan.old_resume != resume &&
            !move_if_there(dir + "/" + plan.old_resume, taken + "/latest-resume", error))
            return false;
        // What is left of the stamp folder is the other's page as it was filed.
        if (!move_if_there(kept, taken + "/promoted", error)) return false;
    }
    if (!rewrite_page(dir, error)) return false;
    if (!flush_directory(dir) || !flush_directory(taken)) {
        error = failure("cannot flush", dir);
        return false;
    }
    return true;
}

// Step 3 for the decision index: her lines go, and those of folders that went.
bool rewrite_decision_index(const ApplicantStore& store, const std::vector<ErasurePlan>& plans,
                            std::string& error) {
    if (!exists(decision_index_path(store))) return true;
    std::set<std::pair<std::string, std::string>> erased;
    for (const ErasurePlan& p : plans) erased.insert({p.folder, person_id(p.person)});
    std::unordered_map<std::string, bool> has_page;
    std::string text;
    for (const DecisionIndexLine& line : read_decision_index_lines(store)) {
        auto [it, fresh] = has_page.try_emplace(line.folder, false);
        if (fresh) it->second = exists(store.applicant_page_path(line.folder));
        if (it->second && !erased.count({line.folder, line.person})) (text += line.text) += '\n';
    }
    return write_decision_index(store, text, error);
}

// Step 3 for the plans: the list and the catalogue rewritten without what went.
bool rewrite_list_and_catalogue(const ApplicantStore& store, const StoreLock& held,
                                const std::vector<ErasurePlan>& plans, std::string& error) {
    std::set<std::pair<std::string, std::string>> erased_people;
    for (const ErasurePlan& p : plans) erased_people.insert({p.folder, p.person});
    auto has_page = [&](const std::string& folder) {
        return exists(store.applicant_page_path(folder));
    };
    // The list keeps, in its order, each line whose folder has a page, once; a line cut by a
    // crash in an earlier rewrite goes, and a folder left without its line gets one again, so
    // that nobody is hidden.
    std::vector<ListEntry> kept;
    std::unordered_set<std::string> listed;
    for (ListEntry& e : read_list(held.fd()))
        if (!e.folder.empty() && has_page(e.folder) && listed.insert(e.folder).second)
            kept.push_back(std::move(e));
    for (const ErasurePlan& p : plans)
        if (!p.whole && has_page(p.folder) && listed.insert(p.folder).second)
            kept.push_back({list_line(p.folder), p.folder});
    // The catalogue keeps every other line byte for byte, once each (a rewrite cut short by a
    // crash may have left a line twice).
    std::string catalogue;
    std::unordered_set<std::string_view> seen;
    Catalogue old = read_catalogue(store);
    for (const CatalogueLine& line : old.lines) {
        const std::string folder(line.folder);
        if (!has_page(folder) || erased_people.count({folder, person_key(line.mail)})) continue;
        if (seen.insert(line.text).second) (catalogue += line.text) += '\n';
    }
    if (!write_list(held.fd(), kept) || !write_catalogue(store, catalogue)) {
        error = failure("cannot rewrite the list and catalogue of", store.store_root());
        return false;
    }
    return rewrite_decision_index(store, plans, error);
}

// Whom an erasure's audit lines name besides the folder, and on whose request.
AuditExtras extras_of(const ErasurePlan& plan) {
    return {person_id(plan.person), plan.reference};
}

// The tag that ties an erasure's audit lines together.
std::string tag(const ErasurePlan& plan) {
    return " [erasure " + plan.id + "]";
}

// Whether the audit log's text holds the line that says the erasure is done.
bool logged_done(const std::string& logged, const ErasurePlan& plan) {
    const std::string t = tag(plan);
    for (std::size_t at = logged.find(t); at != std::string::npos; at = logged.find(t, at + 1)) {
        const std::size_t field = logged.rfind('\t', at);
        if (field != std::string::npos && logged.compare(field + 1, 6, "erased") == 0) return true;
    }
    return false;
}

// Step 4: what was moved removed, the audit line, the plan removed. When `finishing` another
// run's plans, one killed between its audit line and the plan's removal has its line already: it
// is not written twice.
bool clear_plans(const ApplicantStore& store, const std::vector<ErasurePlan>& plans,
                 const AuditLog& audit, const std::string& done, bool finishing,
                 std::string& error) {
    const std::string logged = finishing ? audit.tail() : std::string();
    std::string lines;
    for (const ErasurePlan& p : plans) {
        std::error_code ec;
        fs::remove_all(taken_dir(store, p), ec);
        if (ec) {
            error = "cannot remove " + taken_dir(store, p) + ": " + ec.message();
            return false;
        }
        if (finishing && logged_done(logged, p)) continue;
        lines += audit.line(p.action, store.store_root(), p.folder, done + tag(p), p.user,
                            extras_of(p));
    }
    if (!flush_directory(store.erasures_dir()) || (!lines.empty() && !audit.write_lines(lines))) {
        error = "cannot write the audit log " + audit.path();
        return false;
    }
    for (const ErasurePlan& p : plans) remove_file(plan_path(store, p));
    // The folder goes with its last plan, so that filing finds nothing to look at.
    ::rmdir(store.erasures_dir().c_str());
    flush_directory(store.store_root());
    return true;
}

std::string new_plan_id(std::size_t n) {
    return std::to_string(::getpid()) + "-" + std::to_string(n) + "-" +
           stamp_text(std::time(nullptr));
}

}  // namespace

bool finish_erasures(const ApplicantStore& store, const StoreLock& held, const AuditLog& audit,
                     std::string& error) {
    if (!exists(store.erasures_dir())) return true;
    std::vector<ErasurePlan> plans = pending_erasures(store);
    if (plans.empty()) {
        ::rmdir(store.erasures_dir().c_str());
        return true;
    }
    if (!audit.configured()) {
        error = std::to_string(plans.size()) +
                " erasures were cut short; an operation with the audit log finishes them";
        return false;
    }
    for (const ErasurePlan& p : plans)
        if (!take_out(store, p, error)) return false;
    return rewrite_list_and_catalogue(store, held, plans, error) &&
           clear_plans(store, plans, audit, "erased, finished after it was cut short", true, error);
}

bool erase_applicants(const ApplicantStore& store, const StoreLock& held,
                      const std::vector<Applicant>& applicants, const AuditLog& audit,
                      const std::string& action, const std::string& reason,
                      std::vector<std::string>& erased, std::string& error,
                      const std::string& reference) {
    if (!held.held()) {
        error = "cannot lock " + store.list_path();
        return false;
    }
    if (!audit.configured()) {
        error = "no audit log: nothing is erased without one";
        return false;
    }
    if (!finish_erasures(store, held, audit, error)) return false;
    // Planned from the disk under the lock: an applicant erased meanwhile is left out.
    std::vector<ErasurePlan> plans;
    std::string begun;
    for (const Applicant& a : applicants) {
        std::string why;
        std::size_t count = 0;
        auto plan = make_plan(store, a, new_plan_id(plans.size()), count, why);
        if (!plan) {
            if (applicants.size() == 1) error = why;
            continue;
        }
        plan->user = audit.user();
        plan->action = action;
        plan->reference = reference;
        begun += audit.line(action, store.store_root(), a.folder_name,
                            "begun: " + describe(*plan, count) + (reason.empty() ? "" : "; " + reason) +
                                tag(*plan), {}, extras_of(*plan));
        plans.push_back(std::move(*plan));
    }
    if (plans.empty()) return error.empty();
    // 1. Named in the audit log before anything changes.
    if (!audit.write_lines(begun)) {
        error = "cannot write the audit log " + audit.path() + ": nothing erased";
        return false;
    }
    for (const ErasurePlan& p : plans)
        if (!write_plan(store, p, error)) return false;
    // 2.
    for (const ErasurePlan& p : plans) {
        if (!take_out(store, p, error)) return false;
        erased.push_back(p.folder);
    }
    // 3. and 4.
    return rewrite_list_and_catalogue(store, held, plans, error) &&
           clear_plans(store, plans, audit, "erased", false, error);
}

bool erase_applicant(const ApplicantStore& store, const Applicant& applicant, const AuditLog& audit,
                     std::string& error, const std::string& reference) {
    StoreLock lock = store.lock();
    std::vector<std::string> erased;
    if (!erase_applicants(store, lock, {applicant}, audit, "erase", "", erased, error, reference))
        return false;
    if (erased.empty() && error.empty()) error = "no such applicant: " + applicant.folder_name;
    return !erased.empty();
}

}  // namespace store
