// Example program, as a CGI or a FastCGI application: a form that uploads one file, and the page
// that answers the upload. The upload streams into an unnamed file in the working directory
// (nothing of it stays there once the request is answered); the answer names the file, escaped, with its size and type. A body the
// library cannot read, or an upload over the size limit, gets an error page.
#include <cstdio>

#include "cgi/cgi_request.h"
#include "cgi/serve.h"

using cgi::CgiRequest;

namespace {

// The largest upload this program takes (the library itself refuses bodies over MAX_BODY_SIZE).
constexpr std::int32_t MAX_UPLOAD_BYTES = 5 << 20;

void print_form(CgiRequest& request, const char* message) {
    request.print_title("Upload");
    request.begin_body("");
    request.page_printf("<h1>Upload a file</h1>\n");
    if (message) request.page_printf("<p class='error'>%s</p>\n", message);
    request.page_printf(
        "<form method='post' enctype='multipart/form-data'>\n"
        "<p><input type='text' name='title'> <input type='file' name='file'></p>\n"
        "<p><input type='submit' value='Send'></p>\n"
        "</form>\n");
    request.end_page();
}

void print_error(CgiRequest& request, const char* what) {
    request.print_title("Upload failed");
    request.begin_body("");
    request.page_printf("<h1>Upload failed</h1>\n<p>%s</p>\n", what);
    request.end_page();
}

// A body that cannot be read is reported (the default), so the client gets a page.
int answer(CgiRequest& request) {
    if (request.body_too_large()) {
        print_error(request, "The upload is larger than this server takes.");
        return 0;
    }
    request.spool_uploads_in(".");
    cgi::FormPair* file = request.find_value("file");
    if (request.body_unreadable()) {
        print_error(request, "The upload could not be read.");
        return 0;
    }
    if (!request.is_multipart()) {
        print_form(request, nullptr);
        return 0;
    }
    if (!file || file->file_name[0] == '\0') {
        print_form(request, "Please choose a file.");
        return 0;
    }
    if (file->value_len > MAX_UPLOAD_BYTES) {
        print_error(request, "The file is larger than 5 MiB.");
        return 0;
    }

    // Every text the client sent is escaped on its way into the page.
    const char* title = request.get_value("title");
    request.print_title("Uploaded");
    request.begin_body("");
    request.page_printf("<h1>Received</h1>\n<p>");
    request.write_html(file->file_name);
    request.page_printf(", %d bytes", static_cast<int>(file->value_len));
    if (file->file_type[0]) {
        request.page_printf(" (");
        request.write_html(file->file_type);
        request.page_printf(")");
    }
    request.page_printf(file->file() >= 0 ? ", spooled to a file" : ", held in memory");
    if (title && title[0]) {
        request.page_printf(", titled ");
        request.write_html(title);
    }
    request.page_printf(".</p>\n");
    request.end_page();
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    return cgi::serve(argc, argv, answer);
}
