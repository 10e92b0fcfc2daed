// The server's settings of the store: the declared roots, the mounted roots, the default root,
// the free-space reserve, and the names the store keeps for itself.
#include "app/store/store_settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/shared/time_stamp.h"
#include "platform/files.h"

namespace store {

namespace {

std::vector<std::string> split_roots(const char* variable, const char* fallback) {
    const char* setting = std::getenv(variable);
    std::string text = setting && *setting ? setting : fallback;
    std::vector<std::string> roots;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ':') {
            if (i > start) roots.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return roots;
}

}  // namespace

std::vector<std::string> named_roots() {
    return split_roots(STORE_ROOTS_VARIABLE, DEFAULT_STORE_ROOT);
}

std::vector<std::string> mounted_roots() {
    return split_roots(STORE_MOUNTS_VARIABLE, "");
}

std::string default_store_root() {
    return named_roots().front();
}

std::optional<std::uint64_t> reserve_setting() {
    const char* setting = std::getenv(RESERVE_VARIABLE);
    if (!setting || !*setting) return std::nullopt;
    bool plain = std::strlen(setting) <= 20;
    for (const char* p = setting; *p && plain; ++p) plain = *p >= '0' && *p <= '9';
    errno = 0;
    const unsigned long long value = plain ? std::strtoull(setting, nullptr, 10) : 0;
    if (!plain || errno == ERANGE) {
        std::fprintf(stderr,
                     "%s apply.cgi: %s=\"%s\" ignored: not a decimal number of bytes from 0 to "
                     "18446744073709551615; the default reserve applies\n",
                     monitor::iso_now().c_str(), RESERVE_VARIABLE, setting);
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(value);
}

bool is_reserved_name(std::string_view name) {
    return name.empty() || name == "." || name == ".." || name.substr(0, 6) == "index." ||
           name.substr(0, sizeof platform::TEMP_NAME_PREFIX - 1) == platform::TEMP_NAME_PREFIX;
}

}  // namespace store
