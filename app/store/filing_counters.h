// The filing counters: how many submissions each server filed, refused and failed, by cause, and
// when it last filed one. Kept as one small file per counter in the folder APPLY_METRICS_DIR
// (outside the site, the server's own); nothing is counted while it is unset.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace monitor {

inline constexpr char METRICS_DIR_VARIABLE[] = "APPLY_METRICS_DIR";

// What became of one submission. The names are the counter files' names and the metrics' cause
// labels, so they never change.
enum class Event {
    filed,
    refused_name,
    refused_mail,
    refused_interest,
    refused_resume,
    refused_directory,
    refused_too_large,
    failed_paused,      // the store's file system is below its reserve
    failed_store_root,  // the store root is refused (missing, not declared, not mounted)
    failed_store_write, // a file of the submission could not be created or flushed
};

// Adds one to the event's counter (and sets the last filing's time for `filed`) when
// APPLY_METRICS_DIR is set; a counter that cannot be written is said on standard error, and the
// answer goes on regardless.
void count(Event event);

struct Counter {
    std::string file;  // the counter file's name, e.g. "refused_mail"
    std::uint64_t value = 0;
};
// Every counter in `dir` (0 for one never counted), in the order of Event.
std::vector<Counter> read_counters(const std::string& dir);
// The time of the last filing counted in `dir`; 0 when none was.
std::time_t last_filed(const std::string& dir);

}  // namespace monitor
