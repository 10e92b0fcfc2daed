// Possible duplicates from 64-bit FNV-1a hashes of the person keys and the folded names: a
// collision can at worst show a marker where there is no duplicate.
#include "app/store/possible_duplicates.h"

#include <algorithm>

#include "app/store/name_folding.h"

namespace store {

namespace {

constexpr std::uint64_t FNV_OFFSET = 14695981039346656037ull, FNV_PRIME = 1099511628211ull;

std::uint64_t hash_of(std::string_view text) {
    std::uint64_t h = FNV_OFFSET;
    for (unsigned char c : text) h = (h ^ c) * FNV_PRIME;
    return h;
}

// The hash of normalised(text), where normalised lowers ASCII as it is and may do more with the
// rest: without a copy for a text in ASCII.
template <typename Normalise>
std::uint64_t normalised_hash(std::string_view text, Normalise normalised) {
    std::uint64_t h = FNV_OFFSET;
    for (unsigned char c : text) {
        if (c >= 0x80) return hash_of(normalised(text));
        h = (h ^ static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c)) * FNV_PRIME;
    }
    return h;
}

// The hash of folded_for_search(name); of person_key(mail).
std::uint64_t folded_name_hash(std::string_view name) { return normalised_hash(name, folded_for_search); }
std::uint64_t person_hash(std::string_view mail) { return normalised_hash(mail, person_key); }

}  // namespace

std::vector<DuplicateSigns> duplicate_signs(const Catalogue& catalogue,
                                            std::span<const ApplicantRow> shown) {
    struct Target {
        std::uint64_t hash;
        std::size_t row;
    };
    std::vector<Target> by_person, by_name;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        by_person.push_back({hash_of(shown[i].person), i});
        by_name.push_back({folded_name_hash(shown[i].latest.name), i});
    }
    auto order = [](const Target& a, const Target& b) { return a.hash < b.hash; };
    std::sort(by_person.begin(), by_person.end(), order);
    std::sort(by_name.begin(), by_name.end(), order);
    std::vector<DuplicateSigns> signs(shown.size());
    for (const CatalogueLine& line : catalogue.lines) {
        const std::uint64_t person = person_hash(line.mail);
        for (auto it = std::lower_bound(by_person.begin(), by_person.end(), Target{person, 0}, order);
             it != by_person.end() && it->hash == person; ++it)
            if (line.folder != shown[it->row].latest.folder) signs[it->row].same_mail = true;
        const std::uint64_t name = folded_name_hash(line.name);
        for (auto it = std::lower_bound(by_name.begin(), by_name.end(), Target{name, 0}, order);
             it != by_name.end() && it->hash == name; ++it)
            if (person != hash_of(shown[it->row].person)) signs[it->row].same_name = true;
    }
    return signs;
}

std::vector<std::pair<const ApplicantRow*, DuplicateSigns>> duplicates_of(
    const std::vector<ApplicantRow>& rows, std::string_view folder, std::string_view person) {
    std::vector<std::pair<const ApplicantRow*, DuplicateSigns>> found;
    const ApplicantRow* self = nullptr;
    for (const ApplicantRow& row : rows)
        if (row.latest.folder == folder && row.person == person) self = &row;
    if (!self) return found;
    const std::uint64_t name = folded_name_hash(self->latest.name);
    for (const ApplicantRow& row : rows) {
        if (&row == self) continue;
        DuplicateSigns signs;
        signs.same_mail = row.person == person && row.latest.folder != folder;
        signs.same_name = row.person != person && folded_name_hash(row.latest.name) == name;
        if (signs.any()) found.emplace_back(&row, signs);
    }
    return found;
}

}  // namespace store
