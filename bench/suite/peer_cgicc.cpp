// Peer on GNU cgicc: does the application's job (store the resume, write the applicant page, add
// a list line, print a short page) with that library parsing the multipart body.
#include <cgicc/CgiUtils.h>
#include <cgicc/Cgicc.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

namespace {

void page(const std::string& title, const std::string& body) {
    std::cout << "Content-type: text/html\n\n<html>\n<head>\n<title>" << title
              << "</title>\n</head>\n<body>\n"
              << body << "</body>\n</html>\n";
}

std::string value(cgicc::Cgicc& cgi, const char* name) {
    auto it = cgi.getElement(name);
    return it == cgi.getElements().end() ? std::string() : it->getValue();
}

std::string html(const std::string& s) {
    std::string r;
    r.reserve(s.size());
    for (char c : s) {
        switch (c) {
            case '&':
                r += "&amp;";
                break;
            case '<':
                r += "&lt;";
                break;
            case '>':
                r += "&gt;";
                break;
            case '"':
                r += "&quot;";
                break;
            case '\'':
                r += "&#39;";
                break;
            default:
                r += c;
        }
    }
    return r;
}

bool safe_component(const std::string& s) {
    return !s.empty() && s != "." && s != ".." && s.find_first_of("/\\") == std::string::npos;
}

}  // namespace

int main() {
    cgicc::Cgicc cgi;
    std::string name = value(cgi, "name"), mail = value(cgi, "mail"),
                interest = value(cgi, "interest");
    std::string root = value(cgi, "directory");
    if (root.empty()) root = "people";
    auto file = cgi.getFile("resume");
    if (name.empty() || mail.empty() || interest.empty() || file == cgi.getFiles().end()) {
        page("Application",
             "<form method=\"post\" enctype=\"multipart/form-data\">Please fill out the "
             "form</form>\n");
        return 0;
    }
    std::string file_name = file->getFilename();
    file_name = file_name.substr(file_name.find_last_of("/\\") + 1);
    if (!safe_component(name) || !safe_component(file_name)) {
        page("Application", "Please check the name field\n");
        return 0;
    }
    std::string dir = root + "/" + name, applicant_page = dir + "/index.html";
    mkdir(dir.c_str(), 0777);
    struct stat st;
    bool is_new = stat(applicant_page.c_str(), &st) != 0;
    {
        std::ofstream out(applicant_page);
        out << "<html>\n<head>\n<title>" << html(name) << "</title>\n</head>\n<body>\n<h1>"
            << html(name) << "</h1>\nEmail: " << html(mail) << "\n<p>\n"
            << html(interest) << "\n<a href=\"" << cgicc::form_urlencode(file_name)
            << "\">My resume is here</a>\n</body>\n</html>\n";
        if (!out.flush()) {
            page("Application", "Can't create '" + html(applicant_page) + "'\n");
            return 0;
        }
    }
    if (is_new) {
        std::ofstream list(root + "/index.html", std::ios::app);
        list << "<br><a href=\"" << cgicc::form_urlencode(name) << "\">" << html(name) << "</a>\n";
    }
    std::string resume_path = dir + "/" + file_name;
    std::ofstream resume(resume_path, std::ios::binary);
    file->writeToStream(resume);
    if (!resume.flush()) {
        page("Application", "Can't create '" + html(resume_path) + "'\n");
        return 0;
    }
    page("Thank You!",
         "<h1>Thank You!</h1>\nName: " + html(name) + "\n<br>\nEmail: " + html(mail) + "\n");
    return 0;
}
