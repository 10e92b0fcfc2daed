// Entry of apply.cgi: reads the request, runs the submission checks in their order, and either
// shows the form (empty, or again with the first refusal's message) or files the submission.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "app/apply/application.h"
#include "app/apply/result_pages.h"
#include "app/store/filing_counters.h"
#include "app/store/submission_checks.h"

namespace {

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

// A value as the form shows it again: empty when it is over its limit, so that no answer
// echoes more than the form accepts.
const char* shown(const char* text, std::size_t limit) {
    return std::strlen(text) > limit ? "" : text;
}

const char* why_refused(store::ApplicantStore::Refusal why) {
    switch (why) {
        case store::ApplicantStore::Refusal::malformed:
            return "not a relative path inside the site";
        case store::ApplicantStore::Refusal::nested:
            return "inside another store root";
        case store::ApplicantStore::Refusal::missing:
            return "missing";
        default:
            return "not a declared store root";
    }
}

// What the exit status tells the server: 0 for an answer to the applicant (the form, a refusal,
// "Thank You!"), 1 for a failure of the site (500, 503), which the server's log then shows.
constexpr int kAnswered = 0;
constexpr int kFailed = 1;

int finish(CgiRequest& request, int status = kAnswered) {
    request.end_page();
    return status;
}

monitor::Event refused_field(store::Field field) {
    switch (field) {
        case store::Field::name: return monitor::Event::refused_name;
        case store::Field::mail: return monitor::Event::refused_mail;
        case store::Field::interest: return monitor::Event::refused_interest;
        case store::Field::resume: return monitor::Event::refused_resume;
        default: return monitor::Event::refused_directory;
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    // The answer is gathered in a buffer of the program's own: one the C library made itself
    // would first ask the system about standard output to choose its size.
    static char answer_buffer[BUFSIZ];
    std::setvbuf(stdout, answer_buffer, _IOFBF, sizeof answer_buffer);
    // The design's request rules, but the header waits for the answer's status, so an unreadable
    // body is reported rather than ending the process inside the first lookup; the answer stays
    // the header alone.
    RequestOptions options = RequestOptions::as_designed();
    options.unreadable_body = UnreadableBody::report;
    CgiRequest request(argc, argv, options);
    const Reply reply{request, after_last_separator(argc > 0 && argv[0] ? argv[0] : "")};

    if (request.body_too_large()) {
        report_failure(reply, "413 Payload Too Large",
                       "Submission too large: the body is over " + std::to_string(MAX_BODY_SIZE) +
                           " bytes");
        print_too_large();
        monitor::count(monitor::Event::refused_too_large);
        return finish(request);
    }
    // The resume streams into an unnamed file in the store as it arrives, so storing it is a
    // link, not a copy, and a large upload never sits in memory.
    request.spool_uploads_in(store::DEFAULT_STORE_ROOT);

    const char* name = request.get_value("name");
    if (request.body_unreadable()) {
        // As ever: the header alone, nothing read further and nothing stored.
        request.print_header();
        return 0;
    }
    const char* directory = request.get_value("directory");
    const char* mail = or_empty(request.get_value("mail"));
    const char* interest = or_empty(request.get_value("interest"));
    FormPair* resume = request.find_value("resume");
    const char* resume_value = resume ? resume->file_name : "";
    const char* resume_href = after_last_separator(resume_value);
    const int first_byte = resume && resume_value[0] != '\0' ? resume->first_byte() : -1;

    if (!name) {
        // The empty form touches no store: opening one reads the declared roots and the folder.
        request.print_header();
        print_form(reply, "", "", "", "", nullptr);
        return finish(request);
    }
    // The directory value replaces the default root, also when empty.
    const std::string root = directory ? directory : store::DEFAULT_STORE_ROOT;
    store::ApplicantStore::Refusal why = store::ApplicantStore::Refusal::none;
    const std::optional<store::ApplicantStore> store = store::ApplicantStore::open(root, &why);
    const store::SubmittedFields fields{name, mail, interest, resume_href,
                                        first_byte > 0 && first_byte != '\n', or_empty(directory)};
    if (const store::FieldCheck* refusal = first_refusal(fields, store ? &*store : nullptr)) {
        // The form again with what was typed, the refused value too (its message says what to
        // change in it), the name tidied as it would be stored; only what is over its limit is
        // left out.
        const std::string tidy_name = store::tidy_spaces(name);
        // The resume's value is the client's path; its last component is the file name.
        const char* resume_shown =
            refusal->field == store::Field::resume || std::strlen(resume_href) > NAME_MAX_BYTES
                ? ""
                : resume_value;
        request.print_header();
        print_form(reply, shown(tidy_name.c_str(), NAME_MAX_BYTES), shown(mail, MAIL_MAX_BYTES),
                   resume_shown, shown(interest, INTEREST_MAX_BYTES), refusal->message.c_str());
        monitor::count(refused_field(refusal->field));
        // Such a page ends with the form's own last line, as it always has.
        return 0;
    }

    store::Submission submission;
    submission.name = *store::stored_component(name, false);
    submission.mail = mail;
    submission.interest = interest;
    submission.resume_name = *store::stored_component(resume_href, true);
    if (why == store::ApplicantStore::Refusal::unmounted) {
        report_failure(reply, "503 Service Unavailable",
                       "Applications paused: store root '" + root +
                           "' is not its own mounted file system (" +
                           store::STORE_MOUNTS_VARIABLE + "); nothing stored");
        print_store_unmounted();
        monitor::count(monitor::Event::failed_paused);
        return finish(request, kFailed);
    }
    if (!store) {
        // Name the applicant page the store would have written, from the whole directory value.
        const std::string page = store::ApplicantStore::page_path_in(root, submission.name);
        report_failure(reply, "500 Internal Server Error",
                       "Can't create '" + page + "': store root '" + root + "' refused: " +
                           why_refused(why));
        print_cant_create(page);
        monitor::count(monitor::Event::failed_store_root);
        return finish(request, kFailed);
    }
    if (!store->has_room()) {
        report_failure(reply, "503 Service Unavailable",
                       "Applications paused: the file system of '" + root +
                           "' has less free space or fewer free inodes than the reserve");
        print_store_full();
        monitor::count(monitor::Event::failed_paused);
        return finish(request, kFailed);
    }
    submission.resume_fd = resume->file();
    submission.resume_size = static_cast<std::int64_t>(resume->value_len);
    submission.resume_bytes = [resume] {
        const char* bytes = resume->bytes();
        return bytes ? std::string_view(bytes, static_cast<std::size_t>(resume->value_len))
                     : std::string_view();
    };
    const bool filed = store_application(reply, *store, submission);
    monitor::count(filed ? monitor::Event::filed : monitor::Event::failed_store_write);
    return finish(request, filed ? kAnswered : kFailed);
}
