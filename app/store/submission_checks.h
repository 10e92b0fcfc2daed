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

// A name or resume file name in the form it is stored under: NFC. Nullopt when it is refused:
// empty, ".", "..", beginning with "index." or ".tmp-", holding '/', '\', a control character
// (C0, DEL, C1), a default-ignorable code point, a line or paragraph separator, leading or
// trailing white space, letters of more than one of the Latin, Greek and Cyrillic scripts, or
// bytes that are not UTF-8. A resume name of the stamp form is refused too (`is_resume`).
std::optional<std::string> stored_component(std::string_view text, bool is_resume);

}  // namespace store
