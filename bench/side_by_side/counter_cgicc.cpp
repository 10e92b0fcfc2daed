// Session counter on cgicc: counts the requests of one browser session in a session cookie
// (gone when the browser closes), with ?reset=1 deleting it.
#include <cgicc/Cgicc.h>
#include <cgicc/HTTPCookie.h>
#include <cgicc/HTTPHTMLHeader.h>

#include <cstdlib>
#include <iostream>
#include <string>

int main() {
    cgicc::Cgicc cgi;
    long count = 1;
    cgicc::HTTPHTMLHeader header;
    if (cgi.getElement("reset") != cgi.getElements().end()) {
        cgicc::HTTPCookie gone("count", "");
        gone.setMaxAge(0);
        header.setCookie(gone);
        count = 0;
    } else {
        for (const cgicc::HTTPCookie& cookie : cgi.getEnvironment().getCookieList()) {
            if (cookie.getName() == "count") count = std::atol(cookie.getValue().c_str()) + 1;
        }
        header.setCookie(cgicc::HTTPCookie("count", std::to_string(count)));
    }
    std::cout << header << "<html><head><title>Counter</title></head><body>\n"
              << "<p>Request " << count << " of this session.</p>\n</body></html>\n";
    return 0;
}
