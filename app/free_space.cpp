// The free-space check made before a submission is filed.
#include "app/free_space.h"

#include <cstdlib>

#include "platform/files.h"

namespace {

// The reserve for a file system of `total` bytes: the server's setting when it is a decimal
// number of bytes, else the default.
std::uint64_t reserve_for(std::uint64_t total) {
    if (const char* setting = std::getenv(RESERVE_VARIABLE); setting && *setting) {
        char* end = nullptr;
        unsigned long long bytes = std::strtoull(setting, &end, 10);
        if (*end == '\0' && setting[0] != '-') return bytes;
    }
    std::uint64_t share = total / 100 * RESERVE_PERCENT;
    return share > RESERVE_FLOOR_BYTES ? share : RESERVE_FLOOR_BYTES;
}

}  // namespace

bool store_has_room(const char* root) {
    std::uint64_t available = 0;
    std::uint64_t total = 0;
    if (!platform::file_system_space(root, &available, &total)) return true;
    return available >= reserve_for(total);
}
