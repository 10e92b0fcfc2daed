// apply-admin: the store's command-line tool for admins (list, show, export, erase, retain,
// decide, note, keep, fsck, backup, verify, restore, init-root), over the store's operations.
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/store/operations.h"
#include "app/store/catalogue.h"
#include "app/store/history_changes.h"
#include "app/admin/monitor_commands.h"
#include "app/admin/news_command.h"
#include "app/shared/time_stamp.h"

namespace {

constexpr char USAGE[] =
    "usage: apply-admin [--site DIR] [--root ROOT] [--audit FILE] [--user NAME] COMMAND\n"
    "  list [SEARCH]          applicants, newest first: folder, name, mail, filed, submissions\n"
    "  show NAME [--mail M]   every submission of an applicant, newest first\n"
    "  export NAME FILE.zip [--mail M] [--reference R]  every submission's record and files as\n"
    "                         one archive\n"
    "  erase NAME [--mail M] [--reference R]  every file and line of an applicant\n"
    "  retain [--days N] [--closed-days N] [--dry-run]  erase those due: N days after her latest\n"
    "                         submission, or after a rejection or withdrawal newer than it\n"
    "                         (--closed-days); a keep date holds both off. Defaults:\n"
    "                         APPLY_RETENTION_DAYS, APPLY_RETENTION_CLOSED_DAYS (0: rule off)\n"
    "  decide NAME DECISION [--mail M]  new, in-review, interview, offer, hired, rejected, withdrawn\n"
    "  note NAME TEXT [--mail M]        a note by --user (an edit is a new note)\n"
    "  keep NAME YYYY-MM-DD REASON [--mail M]  kept from retention through that day\n"
    "  fsck [--repair]        list lines against folders and the catalogue against the records\n"
    "  backup DEST            a copy of the store root with its manifest, under the store lock\n"
    "  verify BACKUP          a backup checked against its manifest\n"
    "  restore SRC            a verified backup put into the store root, which must be empty\n"
    "  init-root DIR          makes DIR (new or empty) a store root of its own\n"
    "  check [--lock-timeout S]  whether the store accepts a submission (a probe, no applicant):\n"
    "                         one line; exit 0 OK, 1 WARNING (low space, news mail failing),\n"
    "                         2 CRITICAL, 3 UNKNOWN (health: the same)\n"
    "  metrics [--check] [--output FILE]  Prometheus text: filing counters, space, applicants\n"
    "  news [--status]        mails the staff who asked how many applications arrived (never\n"
    "                         who); --status: when mail last went and last failed\n"
    "Applicants of one name with different e-mail addresses are different applicants: --mail\n"
    "says which one (needed when the name has several). --reference names the data subject's\n"
    "request (\"DSR-2026-0142\": at most 80 printable ASCII characters) in the audit lines.\n"
    "Defaults: --site . (the site folder), --root the first of APPLY_STORE_ROOTS or people,\n"
    "--audit APPLY_AUDIT_LOG (needed by export, erase, retain and restore), --user SUDO_USER or\n"
    "the login. APPLY_NOW fakes the clock for retain and what decide, note and keep record\n"
    "(\"2026-12-08T16:20:05Z\" or seconds).\n";

struct Options {
    std::string root, audit_log, user, mail, reference;
    std::vector<std::string> words;
};

std::string env_or(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

std::string login_name() {
    std::string user = env_or("SUDO_USER", env_or("USER", ""));
    if (user.empty())
        if (const passwd* p = getpwuid(getuid())) user = p->pw_name;
    return user;
}

int fail(const std::string& text) {
    std::fprintf(stderr, "%s apply-admin: %s\n", monitor::iso_now().c_str(), text.c_str());
    return 1;
}

void print_submission(const store::Applicant& a, const store::StoredSubmission& s) {
    const store::Record r = store::shown_record(a, s);
    std::printf("%s%s\n  name: %s\n  mail: %s\n  resume: %s (%llu bytes)\n  interest: %s\n",
                r.filed.c_str(), s.stamp.empty() ? " (latest)" : (" in " + s.stamp).c_str(),
                r.name.c_str(), r.mail.c_str(), r.resume.c_str(),
                static_cast<unsigned long long>(r.resume_size), r.interest.c_str());
}

int init_root(const std::string& dir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(dir) && !fs::is_empty(dir, ec)) return fail(dir + " is not empty");
    fs::create_directories(dir, ec);
    std::string error;
    if (!store::ApplicantStore::declare_root(dir, &error)) return fail(error);
    std::ofstream(dir + "/" + store::PAGE_FILE_NAME, std::ios::app);
    return 0;
}

int fsck(const store::ApplicantStore& s, const store::AuditLog& audit, bool repair) {
    std::string error;
    std::vector<store::StoreProblem> problems = store::check_store(s, repair, audit, error);
    std::size_t left = 0;
    for (const store::StoreProblem& p : problems) {
        std::printf("%s: %s\n", p.what.c_str(), p.folder.c_str());
        left += !repair || !p.repairable;
    }
    if (!error.empty()) return fail(error);
    if (problems.empty()) std::printf("store %s is consistent\n", s.store_root().c_str());
    else if (repair) std::printf("repaired %zu problems, %zu left for the admin\n",
                                 problems.size() - left, left);
    return left ? 3 : 0;
}

int run(const store::ApplicantStore& s, const Options& o) {
    const std::vector<std::string>& w = o.words;
    const std::string& command = w[0];
    const store::AuditLog audit(o.audit_log, o.user);
    std::string error;
    auto needs_audit = [&]() {
        return audit.configured() ? 0 : fail("no audit log: set APPLY_AUDIT_LOG or --audit");
    };
    auto applicant = [&](const std::string& name) {
        return store::find_applicant(s, name, o.mail, error);
    };
    const std::string reference = store::trimmed_reference(o.reference);
    if (std::string why = store::reference_problem(reference); !why.empty()) return fail(why);

    if (command == "list" && w.size() <= 2) {
        store::Catalogue catalogue = store::read_catalogue(s);
        std::vector<store::ApplicantRow> rows = store::applicant_rows(catalogue);
        store::filter_and_sort(catalogue, rows, w.size() > 1 ? w[1] : "", store::RowOrder::newest);
        for (const store::ApplicantRow& r : rows) {
            const store::CatalogueLine& l = r.latest;
            std::printf("%.*s\t%.*s\t%.*s\t%.*s\t%zu\n", int(l.folder.size()), l.folder.data(),
                        int(l.name.size()), l.name.data(), int(l.mail.size()), l.mail.data(),
                        int(l.filed.size()), l.filed.data(), r.submissions());
        }
        return 0;
    }
    if (command == "show" && w.size() == 2) {
        auto a = applicant(w[1]);
        if (!a) return fail(error);
        for (const store::StoredSubmission& sub : a->submissions) print_submission(*a, sub);
        for (const store::HistoryEvent& e : store::read_history(store::history_path(*a)))
            std::printf("%s %s by %s: %s\n", e.at.c_str(), e.kind.c_str(), e.by.c_str(),
                        e.kind == "decision" ? e.decision.c_str()
                        : e.kind == "keep"   ? (e.until + ", " + e.reason).c_str()
                                             : e.text.c_str());
        return 0;
    }
    if (command == "export" && w.size() == 3) {
        if (int r = needs_audit()) return r;
        auto a = applicant(w[1]);
        if (!a) return fail(error);
        // Named in the audit log before the archive exists: a run cut short leaves the line.
        const store::AuditExtras extras{store::reference_of(*a).person_id, reference};
        if (!audit.write("export", s.store_root(), w[1], "begun: to " + w[2], extras))
            return fail("cannot write the audit log: nothing exported");
        platform::UniqueFd out(::open(w[2].c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!out.valid()) error = "cannot create " + w[2] + ": " + std::strerror(errno);
        else if (!store::write_export(*a, out.get(), error) || !platform::flush_file_data(out.get()) ||
                 !out.close()) {
            std::remove(w[2].c_str());
            if (error.empty()) error = "cannot write " + w[2];
        }
        if (!audit.write("export", s.store_root(), w[1],
                         error.empty() ? "written to " + w[2] : "failed: " + error, extras))
            return fail("cannot write the audit log");
        return error.empty() ? 0 : fail(error);
    }
    if (command == "erase" && w.size() == 2) {
        if (int r = needs_audit()) return r;
        auto a = applicant(w[1]);
        if (!a) return fail(error);
        return store::erase_applicant(s, *a, audit, error, reference) ? 0 : fail(error);
    }
    if (command == "retain") {
        store::RetentionPeriods periods{std::atoi(env_or("APPLY_RETENTION_DAYS", "0").c_str()),
                                        std::atoi(env_or("APPLY_RETENTION_CLOSED_DAYS", "0").c_str())};
        bool dry_run = false;
        for (std::size_t i = 1; i < w.size(); ++i) {
            int* period = w[i] == "--days" ? &periods.days : w[i] == "--closed-days" ? &periods.closed_days : nullptr;
            if (w[i] == "--dry-run") {
                dry_run = true;
                continue;
            }
            char* end = nullptr;
            const long days = period && i + 1 < w.size() ? std::strtol(w[++i].c_str(), &end, 10) : -1;
            if (!end || *end || days < 0 || days > 36500)
                return fail("retain [--days N] [--closed-days N] [--dry-run]: periods of 0 to 36500 days");
            *period = static_cast<int>(days);
        }
        if (periods.days < 0 || periods.days > 36500 || periods.closed_days < 0 || periods.closed_days > 36500)
            return fail("APPLY_RETENTION_DAYS and APPLY_RETENTION_CLOSED_DAYS take 0 to 36500");
        if (periods.days == 0 && periods.closed_days == 0) {
            std::printf("retention: off (no period set: APPLY_RETENTION_DAYS, APPLY_RETENTION_CLOSED_DAYS)\n");
            return 0;
        }
        const std::time_t now = store::lifecycle_now();
        if (dry_run) {
            store::Catalogue catalogue = store::read_catalogue(s);
            for (const store::DueApplicant& d :
                 store::due_for_retention(catalogue, store::read_decision_index(s), now, periods))
                std::printf("due\t%.*s\t%.*s\t%s\n", int(d.row.latest.name.size()), d.row.latest.name.data(),
                            int(d.row.latest.mail.size()), d.row.latest.mail.data(), d.reason.c_str());
            return 0;
        }
        if (int r = needs_audit()) return r;
        std::vector<std::string> erased;
        bool ok = store::run_retention(s, now, periods, audit, erased, error);
        std::printf("retention: %zu erased\n", erased.size());
        return ok ? 0 : fail(error);
    }
    if ((command == "decide" && w.size() == 3) || (command == "note" && w.size() == 3) ||
        (command == "keep" && w.size() == 4)) {
        if (int r = needs_audit()) return r;
        auto a = applicant(w[1]);
        if (!a) return fail(error);
        store::HistoryEvent event;
        event.kind = command == "decide" ? "decision" : command;
        if (command == "decide" && !store::is_decision(w[2]))
            return fail("a decision is one of new, in-review, interview, offer, hired, rejected, withdrawn");
        event.decision = w[2];
        if (command == "note") {
            auto note = store::checked_note(w[2], error);
            if (!note) return fail(error);
            event.text = *note;
        }
        if (command == "keep") {
            if (!store::keep_is_valid(w[2], w[3], store::utc_text(store::lifecycle_now()), error))
                return fail(error);
            event.until = w[2];
            event.reason = w[3];
        }
        std::vector<std::string> recorded;
        return store::record_events(s, {store::reference_of(*a)}, event, audit, recorded, error) ? 0 : fail(error);
    }
    if (int status = admin::run_news_command(s, w, o.audit_log); status >= 0) return status;
    if (command == "fsck" && (w.size() == 1 || (w.size() == 2 && w[1] == "--repair")))
        return fsck(s, audit, w.size() == 2);
    if (command == "backup" && w.size() == 2)
        return store::backup_store(s, w[1], error) ? 0 : fail(error);
    return fail(USAGE);
}

}  // namespace

int main(int argc, char* argv[]) {
    Options o;
    std::string site = ".";
    o.root = store::default_store_root();
    o.audit_log = env_or("APPLY_AUDIT_LOG", "");
    o.user = login_name();
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool has_value = i + 1 < argc;
        if (a == "--site" && has_value) site = argv[++i];
        else if (a == "--root" && has_value) o.root = argv[++i];
        else if (a == "--audit" && has_value) o.audit_log = argv[++i];
        else if (a == "--user" && has_value) o.user = argv[++i];
        else if (a == "--mail" && has_value) o.mail = argv[++i];
        else if (a == "--reference" && has_value) o.reference = argv[++i];
        else if (a == "--help" || a == "-h") return std::fputs(USAGE, stdout), 0;
        else o.words.push_back(a);
    }
    if (o.words.empty()) return fail(USAGE);
    // Paths are taken before the change of folder, as the admin typed them.
    if (!o.audit_log.empty()) o.audit_log = std::filesystem::absolute(o.audit_log).string();
    const std::string& command = o.words[0];
    if (!o.reference.empty() && command != "export" && command != "erase")
        return fail("--reference goes with export and erase only");
    std::size_t path_word = command == "export" ? 2
                            : command == "backup" || command == "restore" || command == "verify" ? 1
                                                                                                 : 0;
    for (std::size_t i = 1; i + 1 < o.words.size(); ++i)
        if (command == "metrics" && o.words[i] == "--output")
            o.words[i + 1] = std::filesystem::absolute(o.words[i + 1]).string();
    if (path_word && o.words.size() > path_word)
        o.words[path_word] = std::filesystem::absolute(o.words[path_word]).string();
    if (command == "verify" && o.words.size() == 2) {
        std::vector<std::string> problems;
        std::string error;
        bool whole = store::verify_store_backup(o.words[1], problems, error);
        for (const std::string& p : problems) std::printf("%s\n", p.c_str());
        if (!whole) return std::fprintf(stderr, "%s apply-admin: %s\n", monitor::iso_now().c_str(), error.c_str()), 3;
        std::printf("backup %s is whole\n", o.words[1].c_str());
        return 0;
    }
    if (::chdir(site.c_str()) != 0) return fail("cannot enter " + site + ": " + std::strerror(errno));
    if (command == "init-root" && o.words.size() == 2) return init_root(o.words[1]);
    if (int status = monitor::run_monitor_command(o.words, o.root, o.audit_log); status >= 0) return status;
    if (command == "restore" && o.words.size() == 2) {
        std::string error;
        return store::restore_store(o.words[1], o.root, store::AuditLog(o.audit_log, o.user), error)
                   ? 0
                   : fail(error);
    }
    store::ApplicantStore::Refusal why = store::ApplicantStore::Refusal::none;
    auto opened = store::ApplicantStore::open(o.root, &why);
    if (!opened)
        return fail((why == store::ApplicantStore::Refusal::missing     ? "no such store root: "
                     : why == store::ApplicantStore::Refusal::unmounted ? "store root not mounted: "
                                                                        : "not a store root: ") +
                    o.root);
    return run(*opened, o);
}
