// Texts folded for search as people type names: without case and without accents, so that
// "muller" finds "Müller" and "emilie" finds "Émilie".
#pragma once

#include <string>
#include <string_view>

namespace store {

// `text` case-folded, its marks stripped and compatibility forms replaced (Unicode's rules, as
// utf8proc applies them): "Müller" is "muller", "Straße" "strasse", "Иван" "иван". The Latin
// letters of their own that have no base letter with a mark become the letters people type for
// them ("Łukasz" is "lukasz", "Søren" "soren", "Æsa" "aesa"). The result is for comparing foldings
// only (decomposed, never shown). A byte that is not UTF-8 stays as it is.
std::string folded_for_search(std::string_view text);

// Whether `folded_query` (made by folded_for_search) occurs in `text` once folded. Text in ASCII
// is compared where it lies, without a copy.
bool contains_folded(std::string_view text, std::string_view folded_query);

}  // namespace store
