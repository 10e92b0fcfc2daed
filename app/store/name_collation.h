// Names put in the order a locale's readers expect (ICU's collation): "Émilie" among the E's,
// "Łukasz" after "Lukas", Cyrillic and Han names in their places, not after "Z".
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct UCollator;

namespace store {

// The locale used when none is set, and the setting that names another.
inline constexpr char DEFAULT_COLLATION_LOCALE[] = "en";
inline constexpr char COLLATION_LOCALE_VARIABLE[] = "APPLY_COLLATION_LOCALE";

// The locale that `setting` names ("de", "sv", "en_GB", "de@collation=phonebook"), or the default
// for an empty setting or one that is no locale name (ICU falls back to its root order for a
// locale it has no rules for).
std::string collation_locale(std::string_view setting);

class NameCollator {
  public:
    explicit NameCollator(const std::string& locale);
    ~NameCollator();
    NameCollator(const NameCollator&) = delete;
    NameCollator& operator=(const NameCollator&) = delete;

    // The sort key of `name` (UTF-8): keys compare as bytes in the collation's order. A byte
    // that is not UTF-8 sorts as the replacement character.
    std::string sort_key(std::string_view name) const;
    // The same key appended to `keys` (many names' keys in one buffer); its length.
    std::size_t append_sort_key(std::string_view name, std::string& keys) const;

  private:
    UCollator* collator_ = nullptr;  // null when ICU has none: keys are then the names' bytes
};

}  // namespace store
