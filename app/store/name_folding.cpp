// Search folding with utf8proc, one character at a time: ASCII bytes are lowered where they lie,
// and only the other characters are looked up, with no allocation per text.
#include "app/store/name_folding.h"

#include <utf8proc.h>

#include <algorithm>

namespace store {

namespace {

// Decomposed as far as the compatibility mappings go, case-folded, marks and default-ignorable
// characters dropped. Both the query and the texts are folded so, which is all a substring
// search needs (no composition afterwards).
constexpr auto FOLDING = static_cast<utf8proc_option_t>(
    UTF8PROC_DECOMPOSE | UTF8PROC_COMPAT | UTF8PROC_CASEFOLD | UTF8PROC_STRIPMARK | UTF8PROC_IGNORE);

// Latin letters of their own that people without them type as the base letter (a Polish "Ł"
// as "l", a Danish "ø" as "o"): Unicode gives them no decomposition, so the folding above leaves
// them. Applied after case folding, so only the small letters are here.
struct BaseLetters {
    utf8proc_int32_t letter;
    const char* typed;
};
constexpr BaseLetters TYPED_AS[] = {
    {0x00E6, "ae"}, {0x00F0, "d"}, {0x00F8, "o"},  {0x00FE, "th"}, {0x0111, "d"}, {0x0127, "h"},
    {0x0131, "i"},  {0x0142, "l"}, {0x0153, "oe"}, {0x0167, "t"},
};

const char* typed_as(utf8proc_int32_t code) {
    for (const BaseLetters& b : TYPED_AS)
        if (b.letter == code) return b.typed;
    return nullptr;
}

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Appends the folding of `text` to `out`. A byte that is not UTF-8 is kept as it is.
void fold_into(std::string_view text, std::string& out) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    const auto size = static_cast<utf8proc_ssize_t>(text.size());
    for (utf8proc_ssize_t i = 0; i < size;) {
        if (bytes[i] < 0x80) {
            out += ascii_lower(static_cast<char>(bytes[i++]));
            continue;
        }
        utf8proc_int32_t code = 0;
        const utf8proc_ssize_t length = utf8proc_iterate(bytes + i, size - i, &code);
        if (length <= 0) {
            out += static_cast<char>(bytes[i++]);
            continue;
        }
        // The longest full decomposition with case folding is 18 code points.
        utf8proc_int32_t folded[32];
        int boundary = 0;
        const utf8proc_ssize_t n = utf8proc_decompose_char(code, folded, 32, FOLDING, &boundary);
        if (n < 0 || n > 32) {
            out.append(text.substr(static_cast<std::size_t>(i), static_cast<std::size_t>(length)));
        } else {
            for (utf8proc_ssize_t k = 0; k < n; ++k) {
                if (const char* typed = typed_as(folded[k])) {
                    out += typed;
                    continue;
                }
                utf8proc_uint8_t encoded[4];
                const utf8proc_ssize_t w = utf8proc_encode_char(folded[k], encoded);
                out.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(w));
            }
        }
        i += length;
    }
}

}  // namespace

std::string folded_for_search(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    fold_into(text, out);
    return out;
}

bool contains_folded(std::string_view text, std::string_view folded_query) {
    if (folded_query.empty()) return true;
    if (!is_ascii(text)) {
        // One buffer for every text the search folds.
        thread_local std::string folded;
        folded.clear();
        fold_into(text, folded);
        return std::string_view(folded).find(folded_query) != std::string_view::npos;
    }
    // A query with a byte outside ASCII never matches ASCII text.
    auto it = std::search(text.begin(), text.end(), folded_query.begin(), folded_query.end(),
                          [](char a, char b) { return ascii_lower(a) == b; });
    return it != text.end();
}

}  // namespace store
