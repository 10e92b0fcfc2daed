// The application's submission, its body and the expected pages of the black-box tests.
#include "application.h"

std::vector<Part> parts_of(const Application& a) {
    std::vector<Part> parts;
    if (a.send_name) parts.push_back({"name", a.name, {}, {}});
    if (a.send_mail) parts.push_back({"mail", a.mail, {}, {}});
    if (a.send_interest) parts.push_back({"interest", a.interest, {}, {}});
    if (a.send_resume) parts.push_back({"resume", a.resume, a.file_name, a.resume_type});
    if (a.send_directory) parts.push_back({"directory", a.directory, {}, {}});
    parts.push_back({"sub", "Submit form", {}, {}});
    return parts;
}

std::string body_of(const Application& a) { return multipart_body(parts_of(a), TEST_BOUNDARY); }

std::vector<Part> application_parts(const std::string& name, const std::string& resume,
                                    const std::string& directory, const std::string& resume_file,
                                    const std::string& mail, const std::string& interest) {
    Application a;
    a.name = name;
    a.mail = mail;
    a.interest = interest;
    a.file_name = resume_file;
    a.resume = resume;
    a.resume_type = "application/octet-stream";
    a.directory = directory;
    return parts_of(a);
}

CgiCall submission(const std::string& work, const std::vector<Part>& parts) {
    return multipart_request(work, multipart_body(parts, TEST_BOUNDARY), TEST_BOUNDARY);
}

std::string fixture(const char* name) {
    return read_file(fs::path(PAGES_DIR) / name);
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
    replace_once(page, "autocomplete=\"name\" required value=\"\"",
                 "autocomplete=\"name\" required value=\"" + name + "\"");
    replace_once(page, "autocomplete=\"email\" required value=\"\"",
                 "autocomplete=\"email\" required value=\"" + mail + "\"");
    replace_once(page, ".txt\" required value=\"\"", ".txt\" required value=\"" + resume + "\"");
    // An empty interest leaves the text area empty; any other is followed by a line feed.
    if (!interest.empty())
        replace_once(page, "required>\n</textarea>", "required>\n" + interest + "\n</textarea>");
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

void declare_store_root(const fs::path& folder) {
    fs::create_directories(folder);
    write_file(folder / "index.json", "{\"store_root\": 1}\n");
}
