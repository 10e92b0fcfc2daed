// Contact form on cgicc: shows the form, or takes name and message and answers with a 303
// redirect to the thank-you page.
#include <cgicc/Cgicc.h>
#include <cgicc/HTTPStatusHeader.h>
#include <cgicc/HTTPHTMLHeader.h>

#include <fstream>
#include <iostream>

int main() {
    cgicc::Cgicc cgi;
    auto name = cgi.getElement("name");
    auto message = cgi.getElement("message");
    if (name != cgi.getElements().end() && !name->getValue().empty() &&
        message != cgi.getElements().end() && !message->getValue().empty()) {
        std::ofstream("inbox.txt", std::ios::app) << name->getValue() << ": "
                                                  << message->getValue() << "\n";
        std::cout << "Status: 303 See Other\nLocation: thanks.html\n"
                  << cgicc::HTTPHTMLHeader() << "<html></html>\n";
        return 0;
    }
    std::cout << cgicc::HTTPHTMLHeader() << "<html><head><title>Contact</title></head><body>\n"
              << "<form method='post'><input name='name'><textarea name='message'>"
              << "</textarea><input type='submit'></form>\n</body></html>\n";
    return 0;
}
