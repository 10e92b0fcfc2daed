// Sort keys from ICU's collator, computed once per name.
#include "app/store/name_collation.h"

#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <vector>

namespace store {

std::string collation_locale(std::string_view setting) {
    const bool name_like = !setting.empty() && setting.size() <= 64 &&
                           std::all_of(setting.begin(), setting.end(), [](char c) {
                               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                      (c >= '0' && c <= '9') || c == '_' || c == '-' ||
                                      c == '@' || c == '=' || c == ';';
                           });
    return name_like ? std::string(setting) : DEFAULT_COLLATION_LOCALE;
}

NameCollator::NameCollator(const std::string& locale) {
    UErrorCode status = U_ZERO_ERROR;
    collator_ = ucol_open(locale.c_str(), &status);
    if (U_FAILURE(status)) {
        if (collator_) ucol_close(collator_);
        collator_ = nullptr;
    }
}

NameCollator::~NameCollator() {
    if (collator_) ucol_close(collator_);
}

std::string NameCollator::sort_key(std::string_view name) const {
    std::string key;
    append_sort_key(name, key);
    return key;
}

std::size_t NameCollator::append_sort_key(std::string_view name, std::string& keys) const {
    const std::size_t start = keys.size();
    if (!collator_) {
        keys.append(name);
        return name.size();
    }
    // Names are short (the form limits them): UTF-16 on the stack for most, else on the heap.
    UChar fixed[256];
    std::vector<UChar> grown;
    UChar* text = fixed;
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    const int32_t bytes = static_cast<int32_t>(std::min<std::size_t>(name.size(), 1 << 20));
    u_strFromUTF8WithSub(fixed, 256, &length, name.data(), bytes, 0xfffd, nullptr, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        grown.resize(static_cast<std::size_t>(length));
        text = grown.data();
        status = U_ZERO_ERROR;
        u_strFromUTF8WithSub(text, length, &length, name.data(), bytes, 0xfffd, nullptr,
                             &status);
    }
    if (U_FAILURE(status)) length = 0;
    constexpr std::size_t GUESS = 64;
    keys.resize(start + GUESS);
    int32_t size = ucol_getSortKey(collator_, text, length,
                                   reinterpret_cast<uint8_t*>(keys.data() + start), GUESS);
    if (size > static_cast<int32_t>(GUESS)) {
        keys.resize(start + static_cast<std::size_t>(size));
        size = ucol_getSortKey(collator_, text, length,
                               reinterpret_cast<uint8_t*>(keys.data() + start), size);
    }
    // The key ends in a NUL that is no part of it.
    const std::size_t key_length = size > 0 ? static_cast<std::size_t>(size - 1) : 0;
    keys.resize(start + key_length);
    return key_length;
}

}  // namespace store
