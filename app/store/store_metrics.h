// The store's metrics in Prometheus's text exposition format, for node_exporter's textfile
// collector (apply-admin metrics --output FILE) or a scrape of the staff console.
#pragma once

#include <string>

namespace monitor {

struct MetricsSettings {
    std::string root;            // the store root, relative to the working directory (the site)
    std::string counters_dir;    // APPLY_METRICS_DIR; empty: no filing counters
    int retention_days = 0;      // APPLY_RETENTION_DAYS; with the next 0: none counted as due
    int retention_closed_days = 0;  // APPLY_RETENTION_CLOSED_DAYS
    bool run_check = false;      // also run the health check (a probe write under the lock)
    unsigned lock_seconds = 10;  // how long the check waits for the store lock
};

// Every metric, one text ending in a line end.
std::string store_metrics(const MetricsSettings& settings);

}  // namespace monitor
