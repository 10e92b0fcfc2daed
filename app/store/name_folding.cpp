// Search folding with utf8proc, and an ASCII path that needs no copy.
#include "app/store/name_folding.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace store {

namespace {

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string ascii_folded(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), ascii_lower);
    return out;
}

}  // namespace

std::string folded_for_search(std::string_view text) {
    if (is_ascii(text)) return ascii_folded(text);
    utf8proc_uint8_t* folded = nullptr;
    const utf8proc_ssize_t n = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
        static_cast<utf8proc_ssize_t>(text.size()), &folded,
        static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_COMPAT |
                                       UTF8PROC_CASEFOLD | UTF8PROC_STRIPMARK |
                                       UTF8PROC_IGNORE));
    if (n < 0) return ascii_folded(text);
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(folded, &std::free);
    return std::string(reinterpret_cast<const char*>(folded), static_cast<std::size_t>(n));
}

bool contains_folded(std::string_view text, std::string_view folded_query) {
    if (folded_query.empty()) return true;
    if (!is_ascii(text)) {
        const std::string folded = folded_for_search(text);
        return std::string_view(folded).find(folded_query) != std::string_view::npos;
    }
    // A query with a byte outside ASCII never matches ASCII text.
    auto it = std::search(text.begin(), text.end(), folded_query.begin(), folded_query.end(),
                          [](char a, char b) { return ascii_lower(a) == b; });
    return it != text.end();
}

}  // namespace store
