// apply-admin check and apply-admin metrics.
#include "app/admin/monitor_commands.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/store/filing_counters.h"
#include "app/store/health_check.h"
#include "app/store/news_state.h"
#include "app/store/store_metrics.h"
#include "app/shared/time_stamp.h"
#include "app/store/staged_file.h"

namespace monitor {

namespace {

constexpr int kUnknown = static_cast<int>(Health::unknown);

int usage(const char* text) {
    std::printf("FILING UNKNOWN - %s\n", text);
    return kUnknown;
}

bool parse_seconds(const std::string& text, unsigned* seconds) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (!end || *end || value < 1 || value > 3600) return false;
    *seconds = static_cast<unsigned>(value);
    return true;
}

// Writes `text` to `path` through a staged file beside it, readable by all (node_exporter runs
// as a user of its own), so that a reader sees the old metrics or the new ones.
bool write_replacing(const std::string& path, const std::string& text) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    StagedFile file;
    if (!file.create(dir) || ::fchmod(file.fd(), 0644) != 0 ||
        !platform::write_all(file.fd(), text.data(), text.size()) || !file.finish() ||
        !file.commit(path)) {
        std::fprintf(stderr, "%s apply-admin: cannot write %s: %s\n", iso_now().c_str(),
                     path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// Filing goes on without mail, but staff who asked for news get none: a warning, said after
// the filing check's own text (before its performance data).
void warn_of_failing_news(HealthReport& health, const news::NewsFiles& files) {
    if (files.dir.empty() || health.health != Health::ok) return;
    news::NewsState state;
    bool exists = false;
    std::string error;
    if (!news::read_state(files, state, exists, error) || !state.failing) return;
    const std::size_t bar = health.line.find(" |");
    const std::string data = bar == std::string::npos ? "" : health.line.substr(bar);
    std::string text = health.line.substr(0, bar);
    const std::string ok = "FILING OK";
    if (text.starts_with(ok)) text = "FILING WARNING" + text.substr(ok.size());
    health.health = Health::warning;
    health.line = text + "; news mail failing (last failure " + state.last_failure + ": " +
                  state.failure + ")" + data;
}

}  // namespace

int run_monitor_command(const std::vector<std::string>& words, const std::string& root,
                        const std::string& audit_log) {
    if (words.empty()) return -1;
    if (words[0] == "check" || words[0] == "health") {
        unsigned seconds = 10;
        if (words.size() == 3 && words[1] == "--lock-timeout") {
            if (!parse_seconds(words[2], &seconds)) return usage("--lock-timeout takes 1 to 3600");
        } else if (words.size() != 1) {
            return usage("usage: apply-admin check [--lock-timeout SECONDS]");
        }
        const std::string timeout = "FILING CRITICAL - store lock of '" + root +
                                    "' not granted within " + std::to_string(seconds) + " s\n";
        HealthReport health = check_filing(root, seconds, timeout);
        warn_of_failing_news(health, news::NewsFiles{news::news_dir(audit_log)});
        std::printf("%s\n", health.line.c_str());
        return static_cast<int>(health.health);
    }
    if (words[0] == "metrics") {
        MetricsSettings settings;
        settings.root = root;
        std::string output;
        for (std::size_t i = 1; i < words.size(); ++i) {
            if (words[i] == "--check") settings.run_check = true;
            else if (words[i] == "--output" && i + 1 < words.size()) output = words[++i];
            else return usage("usage: apply-admin metrics [--check] [--output FILE]");
        }
        if (const char* dir = std::getenv(METRICS_DIR_VARIABLE)) settings.counters_dir = dir;
        if (const char* days = std::getenv("APPLY_RETENTION_DAYS"))
            settings.retention_days = std::atoi(days);
        if (const char* days = std::getenv("APPLY_RETENTION_CLOSED_DAYS"))
            settings.retention_closed_days = std::atoi(days);
        const std::string text = store_metrics(settings);
        if (output.empty()) return std::fputs(text.c_str(), stdout) >= 0 ? 0 : 1;
        return write_replacing(output, text) ? 0 : 1;
    }
    return -1;
}

}  // namespace monitor
