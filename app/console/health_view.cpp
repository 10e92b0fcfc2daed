// The console's monitoring answers, for staff and a monitoring system behind the staff login:
// the health check (/staff.cgi/health or ?view=health) and the metrics (/staff.cgi/metrics or
// ?view=metrics), both plain text.
#include <cstdio>
#include <cstdlib>

#include "app/console/console.h"
#include "app/store/filing_counters.h"
#include "app/store/health_check.h"
#include "app/store/store_metrics.h"

namespace {

void plain_header(cgi::CgiRequest& request, const char* content_type, bool failing) {
    if (failing) request.set_status(503, "Service Unavailable");
    request.set_content_type(content_type, "utf-8");
    request.add_header("X-Content-Type-Options", "nosniff");
    request.add_header("Cache-Control", "no-store");
    request.print_header();
}

}  // namespace

bool show_monitoring(cgi::CgiRequest& request, const std::string& view, const std::string& root) {
    if (view == "health") {
        // A lock never granted ends the process with this answer: nothing was written before.
        const std::string timeout =
            "Status: 503 Service Unavailable\nContent-Type: text/plain; charset=utf-8\n"
            "Cache-Control: no-store\n\nFILING CRITICAL - store lock not granted within 10 s\n";
        const monitor::HealthReport health = monitor::check_filing(root, 10, timeout);
        plain_header(request, "text/plain", health.health == monitor::Health::critical);
        std::printf("%s\n", health.line.c_str());
    } else if (view == "metrics") {
        monitor::MetricsSettings settings;
        settings.root = root;
        settings.counters_dir = env(monitor::METRICS_DIR_VARIABLE);
        settings.retention_days = std::atoi(env("APPLY_RETENTION_DAYS").c_str());
        settings.retention_closed_days = std::atoi(env("APPLY_RETENTION_CLOSED_DAYS").c_str());
        const std::string text = monitor::store_metrics(settings);
        plain_header(request, "text/plain", false);
        std::fputs(text.c_str(), stdout);
    } else {
        return false;
    }
    std::fflush(stdout);
    return true;
}
