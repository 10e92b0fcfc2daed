// The checks a submission passes before it is filed: one table of field, test and message, run
// in order; the first refusal shows the form again with its message.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace store {

class ApplicantStore;

// The form's fields as they arrived (absent fields empty); the directory only for its length.
struct SubmittedFields {
    std::string_view name;
    std::string_view mail;
    std::string_view interest;
    std::string_view resume_name;  // the upload's last path component
    bool resume_present = false;   // a resume with content was sent
    std::string_view directory;
};

enum class Field { name, mail, interest, resume, directory };

// One row of the table.
struct FieldCheck {
    Field field;
    // True when the row refuses the submission. `store` is null when the root will be refused.
    bool (*refuses)(const SubmittedFields& fields, const ApplicantStore* store);
    // The form's message for it, built from the limit constants.
    std::string message;
};

// The first row that refuses `fields`; null when every check passes.
const FieldCheck* first_refusal(const SubmittedFields& fields, const ApplicantStore* store);

// Why a name or resume file name cannot be stored, once tidied (tidy_spaces); each has a message
// of its own.
enum class Flaw {
    none,
    empty,
    reserved,   // ".", "..", beginning with "index." or ".tmp-"; a resume name of the stamp form
    separator,  // '/' or '\'
    invisible,  // a control character (C0, DEL, C1), a default-ignorable code point, a line or
                // paragraph separator, a space other than U+0020, or bytes that are not UTF-8
    mixed_alphabets,  // letters of more than one of the Latin, Greek and Cyrillic scripts
};

// The first flaw of `text` in the order above; Flaw::none when it can be stored.
Flaw component_flaw(std::string_view text, bool is_resume);

// A name or resume file name in the form it is stored under: tidied, then NFC. Nullopt when it
// has a flaw.
std::optional<std::string> stored_component(std::string_view text, bool is_resume);

// `text` without the spaces a person types by accident: those at either end, and all but one
// of each run of spaces inside, so that " Anna  Schmidt " is the applicant "Anna Schmidt".
std::string tidy_spaces(std::string_view text);

// True when `mail` has the form of an address: one '@' between a local part and a domain of at
// least two dot-separated labels, with no white space, no control character and none of
// ( ) , : ; < > [ \ ] anywhere.
bool has_mail_form(std::string_view mail);

}  // namespace store
