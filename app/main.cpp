// Entry of apply.cgi: reads the request, checks the fields in a fixed order, and either shows the
// form (empty, or again with the first failing field's message) or files the submission.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/application.h"
#include "app/free_space.h"
#include "app/result_pages.h"
#include "app/store_paths.h"
#include "cgi/html_escape.h"
#include "platform/files.h"

CgiRequest* current_request = nullptr;
const char* form_action = "";
char store_root[STORE_ROOT_SIZE];

namespace {

constexpr char NAME_MESSAGE[] = "Please fill out the name field";
constexpr char MAIL_MESSAGE[] = "Please fill out the email field";
constexpr char INTEREST_MESSAGE[] = "Please fill out the interest field";
constexpr char RESUME_MESSAGE[] = "Please fill out the resume field";
constexpr char NAME_REFUSED_MESSAGE[] =
    "Please fill out the name field with a name that is not ., .. or index.html, does not begin "
    "with .tmp- and holds no "
    "/, \\, control or invisible formatting characters";
constexpr char NAME_TOO_LONG_MESSAGE[] = "Please fill out the name field with a shorter name";
constexpr char MAIL_TOO_LONG_MESSAGE[] =
    "Please fill out the email field with an address of at most 254 bytes";
constexpr char INTEREST_TOO_LONG_MESSAGE[] =
    "Please fill out the interest field with a text of at most 65536 bytes";
constexpr char RESUME_REFUSED_MESSAGE[] =
    "Please fill out the resume field with a file whose name is not ., .. or index.html, does not "
    "begin with .tmp- and "
    "holds no control or invisible formatting characters";
constexpr char RESUME_NAME_TOO_LONG_MESSAGE[] =
    "Please fill out the resume field with a file whose name is shorter";
constexpr char DIRECTORY_TOO_LONG_MESSAGE[] =
    "Please fill out the directory field with a folder path of at most 1023 bytes";

// The text after the last '/' or '\'; all of it when it holds neither.
const char* after_last_separator(const char* path) {
    const char* last = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\') last = p + 1;
    }
    return last;
}

const char* or_empty(const char* text) {
    return text ? text : "";
}

bool longer_than(const char* text, std::size_t limit) {
    return std::strlen(text) > limit;
}

// A value as the form shows it again: empty when it is over its limit, so that no answer
// echoes more than the form accepts.
const char* shown(const char* text, std::size_t limit) {
    return longer_than(text, limit) ? "" : text;
}

// The form again, with one message; such a page ends with the form's own last line.
int show_form_again(const char* name, const char* mail, const char* resume, const char* interest,
                    const char* message) {
    print_form(name, mail, resume, interest, message);
    return 0;
}

// Whether the name's paths and list link fit their buffers. Against a store root that will be
// refused anyway only the link, which depends on the name alone, is checked.
bool name_fits_store(const char* name, bool root_acceptable) {
    static StorePaths scratch;
    if (root_acceptable) return compose_store_paths(scratch, store_root, name, "");
    return link_target_to(scratch.link_buf, sizeof scratch.link_buf, name);
}

}  // namespace

int main(int argc, char* argv[]) {
    // The program keeps the original behaviour: an unreadable body ends it, and the original
    // rule says where the pairs come from.
    CgiRequest request(argc, argv, RequestOptions::as_designed());
    current_request = &request;
    form_action = after_last_separator(argc > 0 && argv[0] ? argv[0] : "");
    request.print_header();

    if (request.body_too_large()) {
        print_too_large();
        request.end_page();
        return 0;
    }
    // The resume streams into an unnamed file in the store as it arrives, so storing it is a
    // link, not a copy, and a large upload never sits in memory.
    request.spool_uploads_in(DEFAULT_STORE_ROOT);

    const char* name = request.get_value("name");
    const char* directory = request.get_value("directory");
    const char* mail = or_empty(request.get_value("mail"));
    const char* interest = or_empty(request.get_value("interest"));

    // The resume is looked up once; a spooled upload is mapped only if storing must copy it.
    FormPair* resume = request.find_value("resume");
    const char* resume_href = nullptr;
    if (resume && resume->file_name[0] != '\0')
        resume_href = after_last_separator(resume->file_name);

    // The directory value replaces the default root, also when empty; one too long for the
    // buffer is refused below, never cut.
    const char* root_text = directory ? directory : DEFAULT_STORE_ROOT;
    int root_length = std::snprintf(store_root, sizeof store_root, "%s", root_text);
    bool root_fits = root_length >= 0 && static_cast<std::size_t>(root_length) < sizeof store_root;
    // A root inside an applicant's folder would add folders there and list lines to the page.
    bool root_acceptable = root_fits && !store_root_is_refused(store_root) &&
                           !store_root_reaches_into_applicant(store_root);
    // Names become file names in the store: no longer than its file system allows.
    const std::size_t longest_name = root_acceptable
                                         ? static_cast<std::size_t>(platform::longest_file_name(
                                               store_root, static_cast<long>(NAME_MAX_BYTES)))
                                         : NAME_MAX_BYTES;
    const std::size_t name_limit = longest_name < NAME_MAX_BYTES ? longest_name : NAME_MAX_BYTES;

    // A form shown again keeps the upload's file name, never its content.
    const char* resume_value = resume ? resume->file_name : "";
    const char* mail_shown = shown(mail, MAIL_MAX_BYTES);
    const char* interest_shown = shown(interest, INTEREST_MAX_BYTES);

    if (!name) {
        print_form("", "", "", "", nullptr);
        request.end_page();
        return 0;
    }
    if (name[0] == '\0')
        return show_form_again("", mail_shown, resume_value, interest_shown, NAME_MESSAGE);
    if (component_is_refused(name))
        return show_form_again("", mail_shown, resume_value, interest_shown, NAME_REFUSED_MESSAGE);
    if (longer_than(name, name_limit) || !name_fits_store(name, root_acceptable))
        return show_form_again("", mail_shown, resume_value, interest_shown, NAME_TOO_LONG_MESSAGE);
    if (mail[0] == '\0')
        return show_form_again(name, "", resume_value, interest_shown, MAIL_MESSAGE);
    if (longer_than(mail, MAIL_MAX_BYTES))
        return show_form_again(name, "", resume_value, interest_shown, MAIL_TOO_LONG_MESSAGE);
    if (interest[0] == '\0') return show_form_again(name, mail, resume_value, "", INTEREST_MESSAGE);
    if (longer_than(interest, INTEREST_MAX_BYTES))
        return show_form_again(name, mail, resume_value, "", INTEREST_TOO_LONG_MESSAGE);
    const int first_byte = resume ? resume->first_byte() : -1;
    bool resume_present = first_byte > 0 && first_byte != '\n' && resume_href;
    if (!resume_present) return show_form_again(name, mail, "", interest, RESUME_MESSAGE);
    // A file name that ends in a separator leaves no name for the resume file.
    if (resume_href[0] == '\0' || component_is_refused(resume_href))
        return show_form_again(name, mail, "", interest, RESUME_REFUSED_MESSAGE);
    if (longer_than(resume_href, name_limit))
        return show_form_again(name, mail, "", interest, RESUME_NAME_TOO_LONG_MESSAGE);
    if (directory && longer_than(directory, DIRECTORY_MAX_BYTES))
        return show_form_again(name, mail, resume_value, interest, DIRECTORY_TOO_LONG_MESSAGE);

    if (!root_acceptable) {
        // Name the applicant page the store would have written, from the whole directory value.
        print_cant_create({root_text, "/", name, "/", PAGE_FILE_NAME});
        request.end_page();
        return 0;
    }
    if (!store_has_room(store_root)) {
        print_store_full();
        request.end_page();
        return 0;
    }
    store_application(name, mail, interest, *resume, resume_href, store_root);
    return 0;
}
