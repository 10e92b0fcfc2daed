// Contact form on this library: shows the form, or takes name and message and answers with a
// 303 redirect to the thank-you page.
#include <cstdio>

#include "cgi/cgi_request.h"
#include "cgi/serve.h"

static int answer(cgi::CgiRequest& request) {
    const char* name = request.get_value("name");
    const char* message = request.get_value("message");
    if (name && *name && message && *message) {
        std::FILE* inbox = std::fopen("inbox.txt", "a");
        if (inbox) {
            std::fprintf(inbox, "%s: %s\n", name, message);
            std::fclose(inbox);
        }
        request.redirect("thanks.html");
        request.end_page();
        return 0;
    }
    request.print_title("Contact");
    request.page_printf("<form method='post'><input name='name'><textarea name='message'>"
                        "</textarea><input type='submit'></form>\n");
    request.end_page();
    return 0;
}

int main(int argc, char* argv[]) {
    return cgi::serve(argc, argv, answer);
}
