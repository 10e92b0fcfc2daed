// ISO 8601 UTC times for the programs' error lines and the metrics.
#include "app/shared/time_stamp.h"

namespace monitor {

std::string iso_time(std::time_t t) {
    std::tm parts{};
    char text[32] = {};
    if (!gmtime_r(&t, &parts) || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0)
        return "-";
    return text;
}

std::string iso_now() {
    return iso_time(std::time(nullptr));
}

}  // namespace monitor
