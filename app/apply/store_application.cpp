// Filing a checked submission and answering it: "Thank You!", or "Can't create" with the path
// that could not be created (status 500 and a line on standard error).
#include "app/apply/application.h"
#include "app/apply/result_pages.h"

bool store_application(const Reply& reply, const store::ApplicantStore& store,
                       const store::Submission& submission) {
    const store::FilingResult result = store.file(submission);
    if (result.outcome != store::Outcome::filed) {
        report_failure(reply, "500 Internal Server Error",
                       "Can't create '" + result.path + "': " + result.failure);
        print_cant_create(result.path);
        return false;
    }
    // Everything is on stable storage now: only then is it acknowledged.
    reply.request.print_header();
    print_thank_you(submission.name.c_str(), submission.mail.c_str());
    return true;
}
