// The health check: whether a store root accepts a submission end to end, proved without adding
// an applicant, with the conventional exit codes of a monitoring plugin.
#pragma once

#include <string>

namespace monitor {

enum class Health { ok = 0, warning = 1, critical = 2, unknown = 3 };

struct HealthReport {
    Health health = Health::unknown;
    // One line, "FILING OK - ..." with performance data after '|'.
    std::string line;
};

// Checks the store root `root` (relative to the working directory, the site): it opens as a
// declared, mounted root; its file system is above the reserve (warning below twice it); the
// store lock is granted within `lock_seconds`; and a file staged in the root, flushed, renamed
// and removed as filing does. When the lock is not granted in time the process writes
// `timeout_text` to standard output and ends with exit status 2 (a lock wait cannot be cut
// short otherwise), so call this before anything else is written there.
HealthReport check_filing(const std::string& root, unsigned lock_seconds,
                          const std::string& timeout_text);

const char* health_word(Health health);

}  // namespace monitor
