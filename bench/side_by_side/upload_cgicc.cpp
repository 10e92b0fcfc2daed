// Upload handler on cgicc: stores the file field as upload.bin, at most 5 MiB, and answers with
// its name and size.
#include <cgicc/Cgicc.h>
#include <cgicc/HTTPHTMLHeader.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

namespace {
std::string html(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}
}  // namespace

// Argument 1, when given, raises the limit (MiB) for a measurement.
int main(int argc, char* argv[]) {
    const long limit = (argc > 1 ? std::atol(argv[1]) : 5L) << 20;
    const char* length = std::getenv("CONTENT_LENGTH");
    if (length && std::atol(length) > limit) {
        std::cout << "Status: 413 Content Too Large\n" << cgicc::HTTPHTMLHeader() << "Too large\n";
        return 0;
    }
    cgicc::Cgicc cgi;
    auto file = cgi.getFile("file");
    if (file == cgi.getFiles().end()) {
        std::cout << "Status: 400 Bad Request\n" << cgicc::HTTPHTMLHeader() << "No file\n";
        return 0;
    }
    std::ofstream out("upload.bin", std::ios::binary);
    file->writeToStream(out);
    std::cout << cgicc::HTTPHTMLHeader() << "<html><body>Stored "
              << html(file->getFilename()) << ", " << file->getDataLength()
              << " bytes\n</body></html>\n";
    return 0;
}
