// apply-admin's monitoring commands: check (a monitoring plugin) and metrics.
#pragma once

#include <string>
#include <vector>

namespace monitor {

// Runs `words` when it is a monitoring command and returns its exit status; -1 otherwise.
//   check [--lock-timeout S]                 one line and 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN
//                                            (health: the same); news mail failing is a warning
//   metrics [--check] [--output FILE]        Prometheus text on standard output or into FILE,
//                                            replaced in one rename
// `audit_log`: the audit log, beside which the news files lie (unless APPLY_NEWS_DIR says).
int run_monitor_command(const std::vector<std::string>& words, const std::string& root,
                        const std::string& audit_log);

}  // namespace monitor
