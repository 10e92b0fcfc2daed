// Possible duplicates from 64-bit FNV-1a hashes of the person keys and the folded names: a
// collision can at worst show a marker where there is no duplicate.
#include "app/store/possible_duplicates.h"

#include "app/store/name_folding.h"

namespace store {

namespace {

constexpr std::uint64_t FNV_OFFSET = 14695981039346656037ull, FNV_PRIME = 1099511628211ull;

std::uint64_t hash_of(std::string_view text) {
    std::uint64_t h = FNV_OFFSET;
    for (unsigned char c : text) h = (h ^ c) * FNV_PRIME;
    return h;
}

// The hash of folded_for_search(name), without a copy for a name in ASCII.
std::uint64_t folded_name_hash(std::string_view name) {
    std::uint64_t h = FNV_OFFSET;
    for (unsigned char c : name) {
        if (c >= 0x80) return hash_of(folded_for_search(name));
        h = (h ^ static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c)) * FNV_PRIME;
    }
    return h;
}

}  // namespace

PossibleDuplicates::PossibleDuplicates(const std::vector<ApplicantRow>& rows) {
    by_mail_.reserve(rows.size());
    by_name_.reserve(rows.size());
    auto note = [](std::unordered_map<std::uint64_t, Seen>& seen, std::uint64_t key,
                   std::uint64_t value) {
        auto [it, fresh] = seen.try_emplace(key, Seen{value, false});
        if (!fresh && it->second.first != value) it->second.another = true;
    };
    for (const ApplicantRow& row : rows) {
        const std::uint64_t person = hash_of(row.person);
        note(by_mail_, person, hash_of(row.latest.folder));
        note(by_name_, folded_name_hash(row.latest.name), person);
    }
}

DuplicateSigns PossibleDuplicates::of(const ApplicantRow& row) const {
    DuplicateSigns signs;
    if (auto it = by_mail_.find(hash_of(row.person)); it != by_mail_.end())
        signs.same_mail = it->second.another;
    if (auto it = by_name_.find(folded_name_hash(row.latest.name)); it != by_name_.end())
        signs.same_name = it->second.another;
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
