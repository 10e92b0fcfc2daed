// The table of checks, and the rules that keep two names that read the same from becoming two
// applicants: Unicode normalization and character properties from utf8proc.
#include "app/store/submission_checks.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "app/app_limits.h"
#include "app/store/applicant_store.h"
#include "app/store/record.h"

namespace store {

namespace {

// The alphabets whose letters are look-alikes of one another ("А" Cyrillic, "A" Latin, "Α"
// Greek). utf8proc has no script property; these ranges hold every letter of the three.
enum class Alphabet { none, latin, greek, cyrillic };

Alphabet alphabet_of(utf8proc_int32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0x00C0 && c <= 0x024F) ||
        (c >= 0x1E00 && c <= 0x1EFF) || (c >= 0x2C60 && c <= 0x2C7F) ||
        (c >= 0xA720 && c <= 0xA7FF))
        return Alphabet::latin;
    if ((c >= 0x0370 && c <= 0x03FF) || (c >= 0x1F00 && c <= 0x1FFF)) return Alphabet::greek;
    if ((c >= 0x0400 && c <= 0x052F) || (c >= 0x1C80 && c <= 0x1C8F) ||
        (c >= 0x2DE0 && c <= 0x2DFF) || (c >= 0xA640 && c <= 0xA69F))
        return Alphabet::cyrillic;
    return Alphabet::none;
}

// A code point that shows nothing, or nothing a reader can tell apart from a plain space, or
// breaks a line: control, format, unassigned, private use and surrogate code points, the line
// and paragraph separators, every space but U+0020, default-ignorable code points, and the
// blank braille pattern, which fonts draw as empty.
bool is_invisible(utf8proc_int32_t c) {
    const utf8proc_property_t* property = utf8proc_get_property(c);
    switch (property->category) {
        case UTF8PROC_CATEGORY_CC:
        case UTF8PROC_CATEGORY_CF:
        case UTF8PROC_CATEGORY_CN:
        case UTF8PROC_CATEGORY_CO:
        case UTF8PROC_CATEGORY_CS:
        case UTF8PROC_CATEGORY_ZL:
        case UTF8PROC_CATEGORY_ZP:
            return true;
        case UTF8PROC_CATEGORY_ZS:
            return c != ' ';
        default:
            return property->ignorable || c == 0x2800;
    }
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The NFC form of `text`; nullopt when it is not UTF-8.
std::optional<std::string> nfc(std::string_view text) {
    utf8proc_uint8_t* mapped = nullptr;
    const utf8proc_ssize_t n =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                     static_cast<utf8proc_ssize_t>(text.size()), &mapped,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(mapped, &std::free);
    if (n < 0) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(n));
}

std::string with_limit(const char* before, std::size_t limit, const char* after) {
    return before + std::to_string(limit) + after;
}

std::size_t name_limit(const ApplicantStore* store) {
    return store && store->longest_name() < NAME_MAX_BYTES ? store->longest_name()
                                                           : NAME_MAX_BYTES;
}

std::size_t stored_size(std::string_view text, bool is_resume) {
    const std::optional<std::string> stored = stored_component(text, is_resume);
    return stored ? stored->size() : text.size();
}

const std::vector<FieldCheck>& checks() {
    static const std::vector<FieldCheck> table = {
        {Field::name, [](const SubmittedFields& f, const ApplicantStore*) { return f.name.empty(); },
         "Please fill out the name field"},
        {Field::name,
         [](const SubmittedFields& f, const ApplicantStore*) {
             return !stored_component(f.name, false);
         },
         "Please fill out the name field with a name that is not . or .., does not begin with "
         "index. or .tmp-, does not begin or end with a space, holds no /, \\, control or "
         "invisible characters, no two spaces in a row and no letters of two of the Latin, "
         "Greek and Cyrillic alphabets"},
        {Field::name,
         [](const SubmittedFields& f, const ApplicantStore* s) {
             return stored_size(f.name, false) > name_limit(s);
         },
         "Please fill out the name field with a shorter name"},
        {Field::mail, [](const SubmittedFields& f, const ApplicantStore*) { return f.mail.empty(); },
         "Please fill out the email field"},
        {Field::mail,
         [](const SubmittedFields& f, const ApplicantStore*) {
             return f.mail.size() > MAIL_MAX_BYTES;
         },
         with_limit("Please fill out the email field with an address of at most ", MAIL_MAX_BYTES,
                    " bytes")},
        {Field::interest,
         [](const SubmittedFields& f, const ApplicantStore*) { return f.interest.empty(); },
         "Please fill out the interest field"},
        {Field::interest,
         [](const SubmittedFields& f, const ApplicantStore*) {
             return f.interest.size() > INTEREST_MAX_BYTES;
         },
         with_limit("Please fill out the interest field with a text of at most ",
                    INTEREST_MAX_BYTES, " bytes")},
        {Field::resume,
         [](const SubmittedFields& f, const ApplicantStore*) { return !f.resume_present; },
         "Please fill out the resume field"},
        {Field::resume,
         [](const SubmittedFields& f, const ApplicantStore*) {
             return !stored_component(f.resume_name, true);
         },
         "Please fill out the resume field with a file whose name is not . or .., does not begin "
         "with index. or .tmp-, is no name of a date folder, does not begin or end with a space and "
         "holds no control or invisible characters, no two spaces in a row and no letters of two "
         "of the Latin, Greek and Cyrillic alphabets"},
        {Field::resume,
         [](const SubmittedFields& f, const ApplicantStore* s) {
             return stored_size(f.resume_name, true) > name_limit(s);
         },
         "Please fill out the resume field with a file whose name is shorter"},
        {Field::directory,
         [](const SubmittedFields& f, const ApplicantStore*) {
             return f.directory.size() > DIRECTORY_MAX_BYTES;
         },
         with_limit("Please fill out the directory field with a folder path of at most ",
                    DIRECTORY_MAX_BYTES, " bytes")},
    };
    return table;
}

}  // namespace

const FieldCheck* first_refusal(const SubmittedFields& fields, const ApplicantStore* store) {
    for (const FieldCheck& check : checks()) {
        if (check.refuses(fields, store)) return &check;
    }
    return nullptr;
}

std::optional<std::string> stored_component(std::string_view text, bool is_resume) {
    if (text.empty() || text == "." || text == ".." || starts_with(text, "index.") ||
        starts_with(text, ".tmp-"))
        return std::nullopt;
    if (is_resume && is_stamp_name(text)) return std::nullopt;
    std::optional<std::string> stored = nfc(text);
    if (!stored || stored->front() == ' ' || stored->back() == ' ' ||
        stored->find("  ") != std::string::npos)
        return std::nullopt;
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(stored->data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(stored->size());
    Alphabet seen = Alphabet::none;
    while (left > 0) {
        utf8proc_int32_t c = 0;
        const utf8proc_ssize_t n = utf8proc_iterate(p, left, &c);
        if (n <= 0 || c == '/' || c == '\\' || is_invisible(c)) return std::nullopt;
        const int category = utf8proc_get_property(c)->category;
        const bool letter = category >= UTF8PROC_CATEGORY_LU && category <= UTF8PROC_CATEGORY_LO;
        const Alphabet alphabet = letter ? alphabet_of(c) : Alphabet::none;
        if (alphabet != Alphabet::none) {
            if (seen != Alphabet::none && alphabet != seen) return std::nullopt;
            seen = alphabet;
        }
        p += n;
        left -= n;
    }
    return stored;
}

}  // namespace store
