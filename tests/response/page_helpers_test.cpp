// HTML page helpers: the header and body written on demand, exact lines and indents, the fatal
// page that ends the process, and the escaping of page text and link targets.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "cgi/html_escape.h"
#include "response_test_support.h"

TEST_F(ResponseTest, CompletePageFromTitleRefreshTextAndEnd) {
    const std::string page = captured_stdout([&] {
        request.print_title("T");
        request.print_refresh(5, "next.html");
        request.page_printf("Hello\n");
        request.end_page();
    });
    EXPECT_EQ(page,
              "Content-type: text/html\n"
              "\n"
              "<html>\n"
              "    <head>\n"
              "        <title>\n"
              "            T\n"
              "        </title>\n"
              "        <meta http-equiv='refresh' content='5, next.html'>\n"
              "    </head>\n"
              "    <body >\n"
              "Hello\n"
              "    </body>\n"
              "</html>\n");
}

TEST_F(ResponseTest, PagePrintfOpensTheBodyOnceAndReturnsTheCount) {
    int first = 0;
    int second = 0;
    const std::string page = captured_stdout([&] {
        first = request.page_printf("x");
        second = request.page_printf("%d<%s>", 42, "b");
    });
    EXPECT_EQ(page,
              "Content-type: text/html\n\n<html>\n    <head>\n    </head>\n    <body >\nx42<b>");
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 5);
}

TEST_F(ResponseTest, HelpersOpenWhatTheyWriteIntoOnceAndWriteTextsUnchanged) {
    EXPECT_EQ(captured_stdout([&] { request.print_refresh(-3, "a.html?x=<1>"); }),
              "Content-type: text/html\n\n<html>\n    <head>\n"
              "        <meta http-equiv='refresh' content='-3, a.html?x=<1>'>\n");
    EXPECT_EQ(captured_stdout([&] {
                  request.print_keywords("jobs, 'cv'");
                  request.print_title("A & <B>");
                  request.begin_body("class=\"x\"");
              }),
              "        <meta name='keywords'  content='jobs, 'cv''>\n"
              "        <title>\n"
              "            A & <B>\n"
              "        </title>\n"
              "    </head>\n"
              "    <body class=\"x\">\n");
}

TEST_F(ResponseTest, EndPageClosesTheBodyOnlyWhenOneWasOpened) {
    EXPECT_EQ(captured_stdout([&] { request.end_page(); }), "Content-type: text/html\n\n</html>\n");
    // A page whose markup the program wrote itself after the header still ends here.
    EXPECT_EQ(captured_stdout([&] { request.end_page(); }), "</html>\n");
    request.begin_body("");
    EXPECT_EQ(captured_stdout([&] { request.end_page(); }), "    </body>\n</html>\n");
}

TEST_F(ResponseTest, HeaderOnDemandCarriesTheCookieLine) {
    request.SetCookie("k", "v w", CookieOptions{.expiry = Expiry::session});
    request.set_status(404);
    EXPECT_EQ(captured_stdout([&] { request.begin_html(); }),
              "Status: 404 Not Found\nSet-Cookie: k=v%20w\n"
              "Content-type: text/html\n\n<html>\n    <head>\n");
}

TEST_F(ResponseTest, FatalPrintfFinishesThePageAndExitsWithMinusOne) {
    const std::string path = testing::TempDir() + "fatal_page.html";
    std::remove(path.c_str());
    EXPECT_EXIT(
        {
            // Exit handlers run: the process leaves through the normal exit path.
            std::atexit([] { std::fputs("exit handlers ran", stderr); });
            if (!std::freopen(path.c_str(), "w", stdout)) std::abort();
            request.fatal_printf("Can't go on: %s\n", "full");
        },
        testing::ExitedWithCode(255), "exit handlers ran");

    std::ifstream file(path, std::ios::binary);
    std::stringstream page;
    page << file.rdbuf();
    EXPECT_EQ(page.str(),
              "Content-type: text/html\n\n<html>\n    <head>\n    </head>\n    <body >\n"
              "Can't go on: full\n    </body>\n</html>\n");
    std::remove(path.c_str());
}

TEST(HtmlEscape, PageTextAndLinkTargetsCannotBreakOutOfTheirPlace) {
    const char* text = "<a href=\"x\">Tom & 'Jo'</a>";
    const char* escaped = "&lt;a href=&quot;x&quot;&gt;Tom &amp; &#39;Jo&#39;&lt;/a&gt;";
    EXPECT_EQ(captured_stdout([&] { write_html(stdout, text); }), escaped);
    char out[64];
    ASSERT_TRUE(html_escape_to(out, sizeof out, text));
    EXPECT_STREQ(out, escaped);
    // What does not fit is refused whole, never cut inside an entity.
    EXPECT_FALSE(html_escape_to(out, std::strlen(escaped), text));
    EXPECT_STREQ(out, "");

    // A link target names the file itself: no scheme, fragment, escape or control byte survives.
    ASSERT_TRUE(link_target_to(out, sizeof out, "javascript:x#y%41 \x01<"));
    EXPECT_STREQ(out, "javascript%3Ax%23y%2541%20%01%3C");
    EXPECT_FALSE(link_target_to(out, 10, "a b c d"));
    EXPECT_STREQ(out, "");
    const std::string long_name(1000, ':');
    std::string expected;
    for (int i = 0; i < 1000; ++i) expected += "%3A";
    EXPECT_EQ(captured_stdout([&] { write_link(stdout, long_name.c_str()); }), expected);
}
