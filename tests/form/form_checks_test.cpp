// The form page and the handler's checks: the empty form, each missing field's message in order,
// the values shown again (escaped), the form action, and the too-large answer.
#include <algorithm>

#include "application.h"

namespace {

std::size_t line_count(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

TEST_F(AppTest, GetWithoutQueryAnswersTheEmptyFormAndClosesThePage) {
    CgiResult result = run_cgi(get_request(work()));
    EXPECT_EQ(result.exit_status, 0);
    // The head's viewport and stylesheet lines; the empty interest's line left out, so that the
    // text area is empty.
    EXPECT_EQ(line_count(fixture("form.html")), 141u);
    EXPECT_EQ(result.out, HTML_HEADER + fixture("form.html") + "</html>\n");

    // The start-up trace's file, empty, is gone when the run has ended: none piles up.
    for (const auto& entry : fs::directory_iterator(work()))
        EXPECT_NE(entry.path().filename().string().rfind("debug_", 0), 0u) << entry.path();
}

TEST_F(AppTest, FormActionIsTheLastComponentOfArgumentZero) {
    const std::pair<const char*, const char*> cases[] = {
        {"dir1/dir2\\prog", "action=\"prog?\""},
        {"/srv/cgi-bin/apply.cgi", "action=\"apply.cgi?\""},
        {"plain", "action=\"plain?\""},
        {"ends/", "action=\"?\""},
    };
    for (const auto& [argv0, expected] : cases) {
        CgiCall call = get_request(work());
        call.argv = {argv0};
        CgiResult result = run_cgi(call);
        EXPECT_NE(result.out.find(expected), std::string::npos) << argv0;
    }
}

TEST_F(AppTest, TheFormLinksThePrivacyNoticeOnlyAtAnAddressOfTheWebOrTheSite) {
    const std::pair<const char*, const char*> cases[] = {
        {"/privacy.html", "<a href=\"/privacy.html\">Privacy notice: "},
        {"https://example.org/privacy?a=1&b=\"",
         "<a href=\"https://example.org/privacy?a=1&amp;b=&quot;\">"},
        {"javascript:alert(1)", nullptr},
        {"//elsewhere.example/privacy", nullptr},
        {"", nullptr},
    };
    for (const auto& [setting, expected] : cases) {
        CgiCall call = get_request(work());
        set_env(call, "APPLY_PRIVACY_NOTICE", setting);
        const std::string out = run_cgi(call).out;
        if (expected) {
            EXPECT_NE(out.find(std::string("<p>\n") + expected), std::string::npos) << setting;
        } else {
            EXPECT_EQ(out, HTML_HEADER + fixture("form.html") + "</html>\n") << setting;
        }
    }
}

TEST_F(AppTest, WithoutANamePairTheEmptyFormIsShownAndNothingSentIsEchoed) {
    Application application;
    application.send_name = false;
    application.mail = "echo-me@example.org";
    CgiResult result = submit(application);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, HTML_HEADER + fixture("form.html") + "</html>\n");
    EXPECT_EQ(tree_of(work()), std::set<std::string>{"people"});
}

struct CheckCase {
    const char* what;
    void (*change)(Application&);
    // Values the form is expected to show again, and its message.
    const char* name;
    const char* mail;
    const char* resume;
    const char* interest;
    const char* message;
};

TEST_F(AppTest, TheFirstFailingCheckShowsTheFormAgainWithItsMessage) {
    constexpr char kName[] = "Please fill out the name field";
    constexpr char kMail[] = "Please fill out the email field";
    constexpr char kInterest[] = "Please fill out the interest field";
    constexpr char kResume[] = "Please fill out the resume field";
    constexpr char kMailForm[] =
        "Please fill out the email field with an address such as name@example.org";
    const char* mail = "jane@example.org";
    const char* interest = "Systems programming in C++";
    const CheckCase cases[] = {
        {"empty name", [](Application& a) { a.name = ""; }, "", mail, "hello.txt", interest, kName},
        {"empty name, nothing else sent",
         [](Application& a) {
             a.name = "";
             a.send_mail = a.send_interest = a.send_resume = a.send_directory = false;
         },
         "", "", "", "", kName},
        {"empty name and empty mail: only the first message",
         [](Application& a) { a.name = a.mail = ""; }, "", "", "hello.txt", interest, kName},
        {"mail not sent", [](Application& a) { a.send_mail = false; }, "Jane Doe", "", "hello.txt",
         interest, kMail},
        {"empty mail", [](Application& a) { a.mail = ""; }, "Jane Doe", "", "hello.txt", interest,
         kMail},
        {"interest not sent", [](Application& a) { a.send_interest = false; }, "Jane Doe", mail,
         "hello.txt", "", kInterest},
        {"only spaces are no address",
         [](Application& a) {
             a.mail = "   ";
             a.interest = "";
         },
         "Jane Doe", "   ", "hello.txt", "", kMailForm},
        {"an address without its domain", [](Application& a) { a.mail = "zoe.mueller@"; },
         "Jane Doe", "zoe.mueller@", "hello.txt", interest, kMailForm},
        {"no address at all", [](Application& a) { a.mail = "notanemail"; }, "Jane Doe",
         "notanemail", "hello.txt", interest, kMailForm},
        {"a domain without its dot, and a name of spaces only",
         [](Application& a) {
             a.mail = "jane@localhost";
             a.name = "   ";
         },
         "", "jane@localhost", "hello.txt", interest, kName},
        {"two @ signs, the interest not sent: the mail check comes first",
         [](Application& a) {
             a.mail = "a@b@c.org";
             a.send_interest = false;
         },
         "Jane Doe", "a@b@c.org", "hello.txt", "", kMailForm},
        {"a space in the address", [](Application& a) { a.mail = "jane doe@example.org"; },
         "Jane Doe", "jane doe@example.org", "hello.txt", interest, kMailForm},
        {"an empty domain label", [](Application& a) { a.mail = "jane@example..org"; }, "Jane Doe",
         "jane@example..org", "hello.txt", interest, kMailForm},
        {"a display name pasted with the address",
         [](Application& a) { a.mail = "Jane <jane@example.org>"; }, "Jane Doe",
         "Jane &lt;jane@example.org&gt;", "hello.txt", interest, kMailForm},
        {"a name refused for a slash is shown again as typed, tidied",
         [](Application& a) { a.name = " Jane  AC/DC "; }, "Jane AC/DC", mail, "hello.txt",
         interest, "Please fill out the name field with a name without / or \\"},
        {"a tab in the name", [](Application& a) { a.name = "Jane\tDoe"; }, "Jane\tDoe", mail,
         "hello.txt", interest,
         "Please fill out the name field with a name of visible characters and plain spaces "
         "only: it holds a tab, a line break or another invisible character"},
        {"look-alike letters of two alphabets", [](Application& a) { a.name = "J\u0430ne Doe"; },
         "J\u0430ne Doe", mail, "hello.txt", interest,
         "Please fill out the name field with the letters of one alphabet: it mixes Latin, Greek "
         "or Cyrillic letters, which can look alike"},
        {"a name of the site's own files", [](Application& a) { a.name = "index.html"; },
         "index.html", mail, "hello.txt", interest,
         "Please fill out the name field with your name: . and .. and names that begin with "
         "index. or .tmp- are reserved for the site"},
        {"no resume part", [](Application& a) { a.send_resume = false; }, "Jane Doe", mail, "",
         interest, kResume},
        {"resume content begins with a line feed", [](Application& a) { a.resume = "\nhello"; },
         "Jane Doe", mail, "", interest, kResume},
        {"empty resume", [](Application& a) { a.resume = ""; }, "Jane Doe", mail, "", interest,
         kResume},
        {"resume with content but no file name", [](Application& a) { a.file_name = ""; },
         "Jane Doe", mail, "", interest, kResume},
    };
    for (const CheckCase& c : cases) {
        Application application;
        c.change(application);
        CgiResult result = submit(application);
        std::string page = expected_form(c.name, c.mail, c.resume, c.interest, c.message);
        EXPECT_EQ(result.exit_status, 0) << c.what;
        EXPECT_EQ(result.out, HTML_HEADER + page) << c.what;
        EXPECT_EQ(line_count(page), *c.interest ? 143u : 142u) << c.what;
        EXPECT_EQ(result.out.find("</html>"), std::string::npos) << c.what;
        EXPECT_EQ(tree_of(work()), std::set<std::string>{"people"}) << c.what;
    }
}

TEST_F(AppTest, AQueryWithEveryFieldFailsTheResumeCheck) {
    CgiResult result =
        run_cgi(get_request(work(), "name=Jane&mail=j%40x.org&interest=C%2B%2B&resume=cv.txt"));
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, HTML_HEADER + expected_form("Jane", "j@x.org", "", "C++",
                                                      "Please fill out the resume field"));
}

TEST_F(AppTest, AFormShownAgainCarriesTheUploadFileNameEscapedNeverItsContent) {
    Application application;
    application.mail = "";
    application.file_name = "a<b>&'c'.txt";
    application.resume = "SECRET-RESUME-BYTES";
    CgiResult result = submit(application);
    EXPECT_EQ(result.out,
              HTML_HEADER + expected_form("Jane Doe", "", "a&lt;b&gt;&amp;&#39;c&#39;.txt",
                                          "Systems programming in C++",
                                          "Please fill out the email field"));
    EXPECT_EQ(result.out.find("SECRET"), std::string::npos);
}

TEST_F(AppTest, ValuesShownAgainAreHtmlEscaped) {
    Application application;
    application.name = "\"><b onclick='x'>&";
    application.interest = "</textarea><script>alert(1)</script>";
    application.send_mail = false;
    CgiResult result = submit(application);
    EXPECT_EQ(
        result.out,
        HTML_HEADER + expected_form("&quot;&gt;&lt;b onclick=&#39;x&#39;&gt;&amp;", "", "hello.txt",
                                    "&lt;/textarea&gt;&lt;script&gt;alert(1)&lt;/script&gt;",
                                    "Please fill out the email field"));
}

TEST_F(AppTest, ABodyRefusedForItsSizeIsAnsweredTooLargeUnreadAndNothingIsStored) {
    struct Case {
        const char* content_type;  // null: none sent
        const char* length;
    };
    const std::string multipart = std::string("multipart/form-data; boundary=") + TEST_BOUNDARY;
    const Case cases[] = {
        {multipart.c_str(), "134217729"},
        {multipart.c_str(), "-1"},
        {multipart.c_str(), "4000000000"},
        {"application/x-www-form-urlencoded", "262144000"},  // 250 MiB
        {"application/x-www-form-urlencoded", "134217729"},
        {nullptr, "262144000"},
        {"text/plain", "262144000"},
    };
    for (const Case& c : cases) {
        const std::string what =
            std::string(c.content_type ? c.content_type : "no type") + ", " + c.length + " bytes";
        CgiCall call = call_for(Application{});
        set_env(call, "CONTENT_LENGTH", c.length);
        if (c.content_type) {
            set_env(call, "CONTENT_TYPE", c.content_type);
        } else {
            std::erase_if(call.env,
                          [](const std::string& e) { return e.rfind("CONTENT_TYPE=", 0) == 0; });
        }
        // Standard input stays open and empty: a program that reads its body waits for ever.
        CgiProcess process(call, true);
        EXPECT_TRUE(process.ends_without_input(60)) << what;
        CgiResult result = process.wait();
        EXPECT_EQ(result.exit_status, 0) << what;
        EXPECT_EQ(result.out.rfind(std::string("Status: 413 Payload Too Large\n") + HTML_HEADER, 0),
                  0u)
            << what;
        EXPECT_NE(result.err.find("apply.cgi: Submission too large"), std::string::npos) << what;
        EXPECT_NE(result.out.find("<h1>Submission too large</h1>\n"), std::string::npos) << what;
        EXPECT_EQ(result.out.find("<form"), std::string::npos) << what;
        EXPECT_GE(result.out.size(), 8u);
        EXPECT_EQ(result.out.substr(result.out.size() - 8), "</html>\n") << what;
        EXPECT_EQ(tree_of(work()), std::set<std::string>{"people"}) << what;
    }
}
