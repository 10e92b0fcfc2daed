// The table of checks, and the rules that keep two names that read the same from becoming two
// applicants: Unicode normalization and character properties from utf8proc.
#include "app/store/submission_checks.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "app/store/field_limits.h"
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
    return store && store->longest_name() < NAME_MAX_BYTES ? store->longest_name() : NAME_MAX_BYTES;
}

std::size_t stored_size(std::string_view text, bool is_resume) {
    const std::optional<std::string> stored = stored_component(text, is_resume);
    return stored ? stored->size() : text.size();
}

template <Flaw flaw>
bool name_has(const SubmittedFields& f, const ApplicantStore*) {
    return component_flaw(f.name, false) == flaw;
}

template <Flaw flaw>
bool resume_name_has(const SubmittedFields& f, const ApplicantStore*) {
    return component_flaw(f.resume_name, true) == flaw;
}

const std::vector<FieldCheck>& checks() {
    // Each refusal says what to change; the form shows the refused value again beside it.
    static const std::vector<FieldCheck> table = {
        {Field::name, name_has<Flaw::empty>, "Please fill out the name field"},
        {Field::name, name_has<Flaw::reserved>,
         "Please fill out the name field with your name: . and .. and names that begin with "
         "index. or .tmp- are reserved for the site"},
        {Field::name, name_has<Flaw::separator>,
         "Please fill out the name field with a name without / or \\"},
        {Field::name, name_has<Flaw::invisible>,
         "Please fill out the name field with a name of visible characters and plain spaces "
         "only: it holds a tab, a line break or another invisible character"},
        {Field::name, name_has<Flaw::mixed_alphabets>,
         "Please fill out the name field with the letters of one alphabet: it mixes Latin, Greek "
         "or Cyrillic letters, which can look alike"},
        {Field::name,
         [](const SubmittedFields& f, const ApplicantStore* s) {
             return stored_size(f.name, false) > name_limit(s);
         },
         "Please fill out the name field with a shorter name"},
        {Field::mail,
         [](const SubmittedFields& f, const ApplicantStore*) { return f.mail.empty(); },
         "Please fill out the email field"},
        {Field::mail,
         [](const SubmittedFields& f, const ApplicantStore*) {
             return f.mail.size() > MAIL_MAX_BYTES;
         },
         with_limit("Please fill out the email field with an address of at most ", MAIL_MAX_BYTES,
                    " bytes")},
        {Field::mail,
         [](const SubmittedFields& f, const ApplicantStore*) { return !has_mail_form(f.mail); },
         "Please fill out the email field with an address such as name@example.org"},
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
        {Field::resume, resume_name_has<Flaw::empty>, "Please fill out the resume field"},
        {Field::resume, resume_name_has<Flaw::reserved>,
         "Please fill out the resume field with a file of another name: . and .., names that "
         "begin with index. or .tmp- and names like 20260101T120000Z are reserved for the site"},
        {Field::resume, resume_name_has<Flaw::invisible>,
         "Please fill out the resume field with a file whose name has visible characters and "
         "plain spaces only"},
        {Field::resume, resume_name_has<Flaw::mixed_alphabets>,
         "Please fill out the resume field with a file whose name has the letters of one "
         "alphabet: it mixes Latin, Greek or Cyrillic letters, which can look alike"},
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

namespace {

// The first flaw of `typed` once tidied and, when it has none, the form it is stored under.
Flaw examine_component(std::string_view typed, bool is_resume, std::string* stored_form) {
    const std::string text = tidy_spaces(typed);
    if (text.empty()) return Flaw::empty;
    if (text == "." || text == ".." || starts_with(text, "index.") || starts_with(text, ".tmp-") ||
        (is_resume && is_stamp_name(text)))
        return Flaw::reserved;
    std::optional<std::string> stored = nfc(text);
    if (!stored) return Flaw::invisible;
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(stored->data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(stored->size());
    Alphabet seen = Alphabet::none;
    bool mixed = false;
    while (left > 0) {
        utf8proc_int32_t c = 0;
        const utf8proc_ssize_t n = utf8proc_iterate(p, left, &c);
        if (n <= 0) return Flaw::invisible;
        if (c == '/' || c == '\\') return Flaw::separator;
        if (is_invisible(c)) return Flaw::invisible;
        const int category = utf8proc_get_property(c)->category;
        const bool letter = category >= UTF8PROC_CATEGORY_LU && category <= UTF8PROC_CATEGORY_LO;
        const Alphabet alphabet = letter ? alphabet_of(c) : Alphabet::none;
        if (alphabet != Alphabet::none) {
            mixed = mixed || (seen != Alphabet::none && alphabet != seen);
            seen = alphabet;
        }
        p += n;
        left -= n;
    }
    if (mixed) return Flaw::mixed_alphabets;
    if (stored_form) *stored_form = std::move(*stored);
    return Flaw::none;
}

}  // namespace

Flaw component_flaw(std::string_view typed, bool is_resume) {
    return examine_component(typed, is_resume, nullptr);
}

std::optional<std::string> stored_component(std::string_view text, bool is_resume) {
    std::string stored;
    if (examine_component(text, is_resume, &stored) != Flaw::none) return std::nullopt;
    return stored;
}

std::string tidy_spaces(std::string_view text) {
    std::string tidy;
    tidy.reserve(text.size());
    for (const char c : text) {
        if (c == ' ' && (tidy.empty() || tidy.back() == ' ')) continue;
        tidy.push_back(c);
    }
    if (!tidy.empty() && tidy.back() == ' ') tidy.pop_back();
    return tidy;
}

bool has_mail_form(std::string_view mail) {
    const std::size_t at = mail.find('@');
    if (at == std::string_view::npos || at == 0 || mail.find('@', at + 1) != std::string_view::npos)
        return false;
    for (const char c : mail) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F ||
            std::string_view("(),:;<>[\\]").find(c) != std::string_view::npos)
            return false;
    }
    // The domain: labels, none empty, at least two.
    std::string_view domain = mail.substr(at + 1);
    std::size_t labels = 0;
    for (std::size_t dot; !domain.empty(); ++labels) {
        dot = domain.find('.');
        if (dot == 0) return false;
        if (dot == std::string_view::npos) {
            domain = {};
        } else {
            domain.remove_prefix(dot + 1);
            if (domain.empty()) return false;
        }
    }
    return labels >= 2;
}

}  // namespace store
