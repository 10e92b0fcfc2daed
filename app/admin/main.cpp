// apply-admin: the store's command-line tool for admins (list, show, export, erase, retain,
// fsck, backup, restore, init-root).
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

#include "app/admin/lifecycle.h"
#include "app/monitor/monitor_commands.h"
#include "app/monitor/time_stamp.h"

namespace {

constexpr char USAGE[] =
    "usage: apply-admin [--site DIR] [--root ROOT] [--audit FILE] [--user NAME] COMMAND\n"
    "  list [SEARCH]          applicants, newest first: folder, name, mail, filed, submissions\n"
    "  show NAME              every submission of an applicant, newest first\n"
    "  export NAME FILE.zip   every submission's record and files as one archive\n"
    "  erase NAME             every file and line of an applicant\n"
    "  retain --days N [--dry-run]  erase applicants whose latest submission is older\n"
    "  fsck [--repair]        list lines against folders and the catalogue against the records\n"
    "  backup DEST            a copy of the store root taken under the store lock\n"
    "  restore SRC            a backup copied into the store root, which must be empty\n"
    "  init-root DIR          makes DIR (new or empty) a store root of its own\n"
    "  check [--lock-timeout S]  whether the store accepts a submission (a probe, no applicant):\n"
    "                         one line; exit 0 OK, 1 WARNING (low space), 2 CRITICAL, 3 UNKNOWN\n"
    "  metrics [--check] [--output FILE]  Prometheus text: filing counters, space, applicants\n"
    "Defaults: --site . (the site folder), --root the first of APPLY_STORE_ROOTS or people,\n"
    "--audit APPLY_AUDIT_LOG (needed by export, erase and retain), --user SUDO_USER or the\n"
    "login. APPLY_NOW fakes the clock for retain (\"2026-12-08T16:20:05Z\" or seconds).\n";

struct Options {
    std::string root, audit_log, user;
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

void print_submission(const Submission& s) {
    std::printf("%s%s\n  name: %s\n  mail: %s\n  resume: %s (%lld bytes)\n  interest: %s\n",
                s.filed.c_str(), s.stamp.empty() ? " (latest)" : (" in " + s.stamp).c_str(),
                s.name.c_str(), s.mail.c_str(), s.resume.c_str(),
                static_cast<long long>(s.resume_size), s.interest.c_str());
}

int init_root(const std::string& dir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(dir) && !fs::is_empty(dir, ec)) return fail(dir + " is not empty");
    fs::create_directories(dir, ec);
    std::string error;
    if (!store::ApplicantStore::declare_root(dir, &error)) return fail(error);
    std::ofstream(dir + "/index.html", std::ios::app);
    return 0;
}

int run(StaffStore& store, const Options& o) {
    const std::vector<std::string>& w = o.words;
    const std::string& command = w[0];
    std::string error;
    auto needs_audit = [&]() { return o.audit_log.empty(); };
    auto logged = [&](const char* action, const std::string& who, const std::string& outcome) {
        return audit(o.audit_log, o.user, action, store.root(), who, outcome);
    };

    if (command == "list") {
        Catalogue catalogue = store.read_catalogue();
        std::vector<ApplicantRow> rows = applicant_rows(catalogue);
        filter_and_sort(rows, w.size() > 1 ? w[1] : "", RowOrder::newest);
        for (const ApplicantRow& r : rows) {
            Submission s = r.latest.submission();
            std::printf("%s\t%s\t%s\t%s\t%zu\n", s.folder.c_str(), s.name.c_str(), s.mail.c_str(),
                        s.filed.c_str(), r.submissions);
        }
        return 0;
    }
    if (command == "show" && w.size() == 2) {
        auto a = store.read_applicant(w[1]);
        if (!a) return fail("no such applicant: " + w[1]);
        for (const Submission& s : a->submissions) print_submission(s);
        return 0;
    }
    if (command == "export" && w.size() == 3) {
        if (needs_audit()) return fail("no audit log: set APPLY_AUDIT_LOG or --audit");
        auto a = store.read_applicant(w[1]);
        if (!a) return fail("no such applicant: " + w[1]);
        platform::UniqueFd out(::open(w[2].c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!out.valid()) return fail("cannot create " + w[2] + ": " + std::strerror(errno));
        if (!write_export(store, *a, out.get(), error) || !platform::flush_file_data(out.get()) ||
            !out.close()) {
            std::remove(w[2].c_str());
            return fail(error.empty() ? "cannot write " + w[2] : error);
        }
        if (!logged("export", w[1], "written to " + w[2])) return fail("cannot write the audit log");
        return 0;
    }
    if (command == "erase" && w.size() == 2) {
        if (needs_audit()) return fail("no audit log: set APPLY_AUDIT_LOG or --audit");
        bool erased = store.erase(w[1], error);
        if (!logged("erase", w[1], erased ? "erased" : "failed: " + error))
            return fail("cannot write the audit log");
        return erased ? 0 : fail(error);
    }
    if (command == "retain" && w.size() >= 3 && w[1] == "--days") {
        char* end = nullptr;
        long days = std::strtol(w[2].c_str(), &end, 10);
        if (!end || *end || days < 1 || days > 36500) return fail("--days takes 1 to 36500");
        std::string cutoff = retention_cutoff(lifecycle_now(), static_cast<int>(days));
        if (w.size() == 4 && w[3] == "--dry-run") {
            Catalogue catalogue = store.read_catalogue();
            for (const ApplicantRow& r : rows_filed_before(applicant_rows(catalogue), cutoff))
                std::printf("due\t%s\t%s\n", r.latest.submission().folder.c_str(),
                            r.latest.submission().filed.c_str());
            return 0;
        }
        if (w.size() != 3) return fail(USAGE);
        if (needs_audit()) return fail("no audit log: set APPLY_AUDIT_LOG or --audit");
        std::vector<std::string> erased;
        bool ok = run_retention(store, cutoff, erased, error);
        std::string lines;
        for (const std::string& folder : erased)
            lines += audit_line(o.user, "retention-erase", store.root(), folder,
                                "latest submission before " + cutoff);
        std::string summary = std::to_string(erased.size()) + " erased, " + std::to_string(days) +
                              " days" + (ok ? "" : ", stopped: " + error);
        lines += audit_line(o.user, "retention-run", store.root(), "-", summary);
        if (!append_audit(o.audit_log, lines)) return fail("cannot write the audit log");
        std::printf("retention: %s\n", summary.c_str());
        return ok ? 0 : fail(error);
    }
    if (command == "fsck" && (w.size() == 1 || (w.size() == 2 && w[1] == "--repair"))) {
        bool repair = w.size() == 2;
        std::vector<StoreProblem> problems = check_store(store, repair, error);
        for (const StoreProblem& p : problems)
            std::printf("%s: %s\n", p.what.c_str(), p.folder.c_str());
        if (!error.empty()) return fail(error);
        if (problems.empty()) std::printf("store %s is consistent\n", store.root().c_str());
        else if (repair) std::printf("repaired %zu problems\n", problems.size());
        return problems.empty() || repair ? 0 : 3;
    }
    if (command == "backup" && w.size() == 2)
        return backup_store(store, w[1], error) ? 0 : fail(error);
    return fail(USAGE);
}

}  // namespace

int main(int argc, char* argv[]) {
    Options o;
    std::string site = ".";
    const char* roots = std::getenv("APPLY_STORE_ROOTS");
    std::string declared = roots && *roots ? roots : "people";
    o.root = declared.substr(0, declared.find(':'));
    o.audit_log = env_or("APPLY_AUDIT_LOG", "");
    o.user = login_name();
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool has_value = i + 1 < argc;
        if (a == "--site" && has_value) site = argv[++i];
        else if (a == "--root" && has_value) o.root = argv[++i];
        else if (a == "--audit" && has_value) o.audit_log = argv[++i];
        else if (a == "--user" && has_value) o.user = argv[++i];
        else if (a == "--help" || a == "-h") return std::fputs(USAGE, stdout), 0;
        else o.words.push_back(a);
    }
    if (o.words.empty()) return fail(USAGE);
    // The audit log's path is taken before the change of folder, as the admin typed it.
    if (!o.audit_log.empty()) o.audit_log = std::filesystem::absolute(o.audit_log).string();
    const std::string& command = o.words[0];
    std::size_t path_word = command == "export" ? 2 : command == "backup" || command == "restore" ? 1 : 0;
    for (std::size_t i = 1; i + 1 < o.words.size(); ++i)
        if (command == "metrics" && o.words[i] == "--output")
            o.words[i + 1] = std::filesystem::absolute(o.words[i + 1]).string();
    if (path_word && o.words.size() > path_word)
        o.words[path_word] = std::filesystem::absolute(o.words[path_word]).string();
    if (::chdir(site.c_str()) != 0) return fail("cannot enter " + site + ": " + std::strerror(errno));
    if (o.words[0] == "init-root" && o.words.size() == 2) return init_root(o.words[1]);
    if (int status = monitor::run_monitor_command(o.words, o.root); status >= 0) return status;
    if (o.words[0] == "restore" && o.words.size() == 2) {
        std::string error;
        return restore_store(o.words[1], o.root, error) ? 0 : fail(error);
    }
    std::string error;
    auto store = StaffStore::open(o.root, error);
    if (!store) return fail(error);
    return run(*store, o);
}
