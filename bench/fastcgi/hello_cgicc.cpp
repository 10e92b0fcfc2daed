// The measured page on GNU cgicc under FastCGI, through the usual adapter: cgicc's input from the
// FastCGI request, its output into an ostream over the request's stream (libfcgi++).
#include <cgicc/Cgicc.h>
#include <cgicc/HTTPHTMLHeader.h>
#include <fcgiapp.h>
#include <fcgio.h>

#include <ostream>
#include <string>

namespace {

// The adapter.
class FcgiInput : public cgicc::CgiInput {
  public:
    explicit FcgiInput(FCGX_Request& request) : request_(request) {}
    size_t read(char* data, size_t length) override {
        return static_cast<size_t>(FCGX_GetStr(data, static_cast<int>(length), request_.in));
    }
    std::string getenv(const char* name) override {
        const char* value = FCGX_GetParam(name, request_.envp);
        return value ? value : "";
    }

  private:
    FCGX_Request& request_;
};

std::string escaped(const std::string& text) {
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

int main() {
    FCGX_Request request;
    FCGX_Init();
    FCGX_InitRequest(&request, 0, 0);
    while (FCGX_Accept_r(&request) >= 0) {
        {
            FcgiInput input(request);
            fcgi_streambuf buffer(request.out);
            std::ostream out(&buffer);
            cgicc::Cgicc cgi(&input);
            const auto name = cgi.getElement("name");
            out << "Content-type: text/html\n\n<html>\n    <head>\n        <title>\n            Hello\n"
                << "        </title>\n    </head>\n    <body >\n<p>Hello, "
                << escaped(name != cgi.getElements().end() ? name->getValue() : "stranger")
                << "!</p>\n    </body>\n</html>\n";
        }
        FCGX_Finish_r(&request);
    }
    return 0;
}
