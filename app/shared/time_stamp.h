// The time every error line of the programs begins with.
#pragma once

#include <ctime>
#include <string>

namespace monitor {

// `t` as an ISO 8601 UTC time, "2026-12-09T04:12:30Z".
std::string iso_time(std::time_t t);
// The current time in that form.
std::string iso_now();

}  // namespace monitor
