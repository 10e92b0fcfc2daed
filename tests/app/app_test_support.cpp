// Bodies, fixtures and expected pages for the application's black-box tests.
#include "app_test_support.h"

std::string body_of(const Application& a) {
    std::vector<Part> parts;
    if (a.send_name) parts.push_back({"name", a.name, {}, {}});
    if (a.send_mail) parts.push_back({"mail", a.mail, {}, {}});
    if (a.send_interest) parts.push_back({"interest", a.interest, {}, {}});
    if (a.send_resume) parts.push_back({"resume", a.resume, a.file_name, "text/plain"});
    if (a.send_directory) parts.push_back({"directory", a.directory, {}, {}});
    parts.push_back({"sub", "Submit form", {}, {}});
    return multipart_body(parts, TEST_BOUNDARY);
}

std::string fixture(const char* name) {
    return read_file(fs::path(APP_FIXTURES_DIR) / name);
}

namespace {
void replace_once(std::string& text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    if (at == std::string::npos) throw std::logic_error("fixture lacks " + from);
    text.replace(at, from.size(), to);
}
}  // namespace

std::string expected_form(const std::string& name, const std::string& mail,
                          const std::string& resume, const std::string& interest,
                          const char* message) {
    std::string page = fixture("form.html");
    replace_once(page, "name=\"name\" size=64 value=\"\"",
                 "name=\"name\" size=64 value=\"" + name + "\"");
    replace_once(page, "name=\"mail\" size=64 value=\"\"",
                 "name=\"mail\" size=64 value=\"" + mail + "\"");
    replace_once(page, "text/html\" value=\"\"", "text/html\" value=\"" + resume + "\"");
    replace_once(page, "rows=10\">\n\n", "rows=10\">\n" + interest + "\n");
    if (message) {
        replace_once(page, "<h2>Vocanta at Brenmoor</h2>\n",
                     "<h2>Vocanta at Brenmoor</h2>\n<h2>" + std::string(message) + "</h2>\n");
    }
    return page;
}

std::string expected_cant_create(const std::string& shown_path) {
    std::string page = fixture("cant_create.html");
    replace_once(page, "people/Jane Doe/index.html", shown_path);
    return page;
}
