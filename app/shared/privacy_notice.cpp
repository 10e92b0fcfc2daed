// Where the privacy notice is, as the operator set it.
#include "app/shared/privacy_notice.h"

#include <cstdlib>
#include <string_view>

const char* privacy_notice_address() {
    const char* setting = std::getenv(PRIVACY_NOTICE_VARIABLE);
    if (!setting) return nullptr;
    const std::string_view address(setting);
    const bool site_path = address.size() > 1 && address[0] == '/' && address[1] != '/';
    const bool web = address.starts_with("https://") || address.starts_with("http://");
    for (const char c : address) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return nullptr;
    }
    return site_path || web ? setting : nullptr;
}
