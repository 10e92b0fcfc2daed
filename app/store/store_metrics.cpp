// The store's metrics: this server's filing counters, the store's space against its reserve, its
// applicants and those due under retention, and the health check's verdict.
#include "app/store/store_metrics.h"

#include <ctime>
#include <optional>
#include <vector>

#include "app/store/operations.h"
#include "app/store/catalogue.h"
#include "app/store/filing_counters.h"
#include "app/store/health_check.h"
#include "app/store/applicant_store.h"

namespace monitor {

namespace {

class Exposition {
  public:
    // Starts a metric family with its help and type lines.
    void family(const std::string& name, const char* type, const char* help) {
        text_ += "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void sample(const std::string& name, const std::string& labels, double value) {
        char number[64];
        std::snprintf(number, sizeof number, "%.17g", value);
        text_ += name + (labels.empty() ? "" : "{" + labels + "}") + " " + number + "\n";
    }
    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

// A label value in the format's escaping (backslash, quote, line end).
std::string label(const char* key, const std::string& value) {
    std::string escaped;
    for (char c : value) {
        if (c == '\\' || c == '"') escaped += '\\';
        escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return std::string(key) + "=\"" + escaped + "\"";
}

// A record's filing time ("2026-12-08T16:20:05Z") in seconds; 0 when it has another form.
std::time_t filed_seconds(std::string_view text) {
    std::tm parts{};
    const std::string copy(text);
    const char* end = strptime(copy.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts);
    return end && !*end ? timegm(&parts) : 0;
}

void add_counters(Exposition& out, const std::string& dir) {
    const std::vector<Counter> counters = read_counters(dir);
    const std::string filed = "vocanta_apply_submissions_filed_total";
    const std::string refused = "vocanta_apply_submissions_refused_total";
    const std::string failed = "vocanta_apply_submission_failures_total";
    out.family(filed, "counter", "Submissions this server filed and acknowledged.");
    out.sample(filed, "", static_cast<double>(counters[0].value));
    out.family(refused, "counter",
               "Submissions this server refused for what they held, by the field or the size.");
    for (const Counter& c : counters)
        if (c.file.rfind("refused_", 0) == 0)
            out.sample(refused, label("cause", c.file.substr(8)), static_cast<double>(c.value));
    out.family(failed, "counter",
               "Submissions this server could not file: paused below the reserve, the store root "
               "refused, a store write failed.");
    for (const Counter& c : counters)
        if (c.file.rfind("failed_", 0) == 0)
            out.sample(failed, label("cause", c.file.substr(7)), static_cast<double>(c.value));
    const std::string last = "vocanta_apply_last_filed_timestamp_seconds";
    out.family(last, "gauge", "When this server last filed a submission (0: never).");
    out.sample(last, "", static_cast<double>(last_filed(dir)));
}

void add_store(Exposition& out, const MetricsSettings& settings) {
    const std::string root = label("root", settings.root);
    const std::optional<store::ApplicantStore> store = store::ApplicantStore::open(settings.root);
    out.family("vocanta_apply_store_up", "gauge", "1 when the store root opens (declared, mounted).");
    out.sample("vocanta_apply_store_up", root, store ? 1 : 0);
    if (!store) return;

    if (const std::optional<store::Room> room = store->room()) {
        out.family("vocanta_apply_store_free_bytes", "gauge", "Free bytes of the store's file system.");
        out.sample("vocanta_apply_store_free_bytes", root, static_cast<double>(room->free_bytes));
        out.family("vocanta_apply_store_reserve_bytes", "gauge",
                   "Free bytes below which filing pauses (0: no reserve).");
        out.sample("vocanta_apply_store_reserve_bytes", root, static_cast<double>(room->reserve.bytes));
        out.family("vocanta_apply_store_free_inodes", "gauge", "Free inodes of the store's file system.");
        out.sample("vocanta_apply_store_free_inodes", root, static_cast<double>(room->free_inodes));
        out.family("vocanta_apply_store_reserve_inodes", "gauge",
                   "Free inodes below which filing pauses (0: none kept).");
        out.sample("vocanta_apply_store_reserve_inodes", root, static_cast<double>(room->reserve.inodes));
        out.family("vocanta_apply_store_paused", "gauge", "1 while filing pauses below the reserve.");
        out.sample("vocanta_apply_store_paused", root, room->ok ? 0 : 1);
    }

    const store::Catalogue catalogue = store::read_catalogue(*store);
    const std::vector<store::ApplicantRow> rows = store::applicant_rows(catalogue);
    std::time_t newest = 0;
    for (const store::CatalogueLine& line : catalogue.lines)
        newest = std::max(newest, filed_seconds(line.filed));
    out.family("vocanta_apply_applicants", "gauge", "Applicants in the store.");
    out.sample("vocanta_apply_applicants", root, static_cast<double>(rows.size()));
    out.family("vocanta_apply_store_last_filed_timestamp_seconds", "gauge",
               "The newest filing time in the store, by any server (0: none).");
    out.sample("vocanta_apply_store_last_filed_timestamp_seconds", root, static_cast<double>(newest));
    if (settings.retention_days > 0 || settings.retention_closed_days > 0) {
        const store::RetentionPeriods periods{settings.retention_days, settings.retention_closed_days};
        out.family("vocanta_apply_applicants_due_retention", "gauge",
                   "Applicants due under the retention periods (the next run erases them).");
        out.sample("vocanta_apply_applicants_due_retention", root,
                   static_cast<double>(store::due_for_retention(catalogue, store::read_decision_index(*store),
                                                                store::lifecycle_now(), periods).size()));
    }
}

}  // namespace

std::string store_metrics(const MetricsSettings& settings) {
    Exposition out;
    if (!settings.counters_dir.empty()) add_counters(out, settings.counters_dir);
    add_store(out, settings);
    if (settings.run_check) {
        // A lock that is never granted ends the process (nothing written); a stale file then
        // shows in node_exporter's node_textfile_mtime_seconds.
        const HealthReport health = check_filing(settings.root, settings.lock_seconds, "");
        out.family("vocanta_apply_health_status", "gauge",
                   "The health check: 0 ok, 1 warning (low space), 2 critical (filing fails).");
        out.sample("vocanta_apply_health_status", label("root", settings.root),
                   static_cast<double>(health.health));
    }
    return out.text();
}

}  // namespace monitor
