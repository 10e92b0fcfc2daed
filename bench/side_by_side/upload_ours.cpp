// Upload handler on this library: stores the file field as upload.bin, at most 5 MiB, and
// answers with its name and size.
#include <cstdio>
#include <cstdlib>

#include "cgi/cgi_request.h"
#include "cgi/serve.h"

static int answer(cgi::CgiRequest& request) {
    if (request.body_too_large()) {
        request.set_status(413);
        request.page_printf("Too large\n");
        request.end_page();
        return 0;
    }
    cgi::FormPair* file = request.find_value("file");
    if (!file || request.body_unreadable() || !file->bytes()) {
        request.set_status(400);
        request.page_printf("No file\n");
        request.end_page();
        return 0;
    }
    if (std::FILE* out = std::fopen("upload.bin", "wb")) {
        std::fwrite(file->bytes(), 1, static_cast<std::size_t>(file->value_len), out);
        std::fclose(out);
    }
    request.page_printf("Stored ");
    request.write_html(file->file_name);
    request.page_printf(", %d bytes\n", static_cast<int>(file->value_len));
    request.end_page();
    return 0;
}

// Argument 1, when given, raises the limit (MiB) for a measurement.
int main(int argc, char* argv[]) {
    cgi::RequestOptions options;
    options.max_body_bytes = static_cast<std::size_t>(argc > 1 ? std::atol(argv[1]) : 5) << 20;
    return cgi::serve(argc, argv, answer, options);
}
