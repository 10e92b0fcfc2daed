// Bodies laid out as HTTP client libraries other than browsers and curl send them: a quoted
// boundary parameter, parameters without spaces or in another order, headers in another order.
#include <string>

#include "request_test_support.h"

namespace {

// The boundary .NET's MultipartFormDataContent makes by default: a GUID.
constexpr char kGuid[] = "5d1d6f7e-3a8c-4f0e-9b52-7c1e2a9d4b60";
// The uploaded file: a NUL and a line break inside.
const std::string kPdf("%PDF\r\n\x00\xFF", 8);

struct SentForm {
    std::string content_type;
    std::string body;
};

// As .NET's HttpClient sends a form: the boundary quoted, each part's Content-Type line (when it
// has one) before its Content-Disposition line, names and file names unquoted, a file name
// also given as filename*, and every line ending in CR LF.
SentForm dotnet_form() {
    const std::string b = kGuid;
    return {"multipart/form-data; boundary=\"" + b + "\"",
            "--" + b + "\r\nContent-Type: text/plain; charset=utf-8\r\n" +
                "Content-Disposition: form-data; name=name\r\n\r\nJo Doe\r\n" + "--" + b +
                "\r\nContent-Disposition: form-data; name=mail\r\n\r\njo@example.org\r\n" + "--" +
                b + "\r\nContent-Type: application/pdf\r\n" +
                "Content-Disposition: form-data; name=resume; filename=cv.pdf; " +
                "filename*=utf-8''cv.pdf\r\n\r\n" + kPdf + "\r\n--" + b + "--\r\n"};
}

// As Java clients send a form: no space before the boundary parameter (or a charset parameter
// before it), quoted names as browsers write them.
SentForm java_form(const std::string& parameters) {
    const std::string b = kGuid;
    return {"multipart/form-data;" + parameters + b,
            "--" + b + "\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\nJo Doe\r\n" +
                "--" + b + "\r\nContent-Disposition: form-data; name=\"mail\"\r\n\r\n" +
                "jo@example.org\r\n" + "--" + b +
                "\r\nContent-Disposition: form-data; name=\"resume\"; filename=\"cv.pdf\"\r\n" +
                "Content-Type: application/pdf\r\n\r\n" + kPdf + "\r\n--" + b + "--\r\n"};
}

std::unique_ptr<CgiRequest> request_for(const SentForm& form) {
    set_post_env(form.content_type, std::to_string(form.body.size()));
    feed_stdin(form.body);
    return make_request();
}

}  // namespace

TEST(ClientLayouts, DotNetAndJavaFormsGiveEveryField) {
    const SentForm forms[] = {dotnet_form(), java_form("boundary="),
                              java_form("charset=UTF-8; boundary=")};
    for (const SentForm& form : forms) {
        auto request = request_for(form);
        EXPECT_STREQ(request->boundary(), kGuid) << form.content_type;
        EXPECT_EQ(request->pair_count(), -1);
        EXPECT_STREQ(request->get_value("name"), "Jo Doe") << form.content_type;
        EXPECT_STREQ(request->get_value("mail"), "jo@example.org");
        const FileValue resume = upload(*request, "resume");
        EXPECT_EQ(resume.value, kPdf) << form.content_type;
        EXPECT_EQ(resume.file_name, "cv.pdf");
        EXPECT_EQ(resume.file_type, "Content-Type: application/pdf");
        EXPECT_EQ(request->pair_count(), 3);
    }
    // .NET marks its text as text/plain: the part's type line is kept like an upload's.
    EXPECT_EQ(upload(*request_for(dotnet_form()), "name").file_type,
              "Content-Type: text/plain; charset=utf-8");
}
