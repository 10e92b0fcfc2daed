// The example programs, run as a web server would run them: environment in, response out.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gif_check.h"
#include "response_test_support.h"

namespace {

// Runs a CGI program with a GET request's query string and cookie and returns its output.
std::string run_cgi(const char* program, const char* query, const char* cookie) {
    plain_visit_arguments();  // clears the CGI variables
    setenv("REQUEST_METHOD", "GET", 1);
    if (query) setenv("QUERY_STRING", query, 1);
    if (cookie) setenv("HTTP_COOKIE", cookie, 1);
    std::string output;
    const std::string command = std::string("'") + program + "'";
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char block[4096];
        for (std::size_t n; (n = std::fread(block, 1, sizeof block, pipe)) > 0;) {
            output.append(block, n);
        }
        EXPECT_EQ(pclose(pipe), 0) << program;
    } else {
        ADD_FAILURE() << "cannot run " << program;
    }
    plain_visit_arguments();
    return output;
}

}  // namespace

TEST(TextGifExample, AnswersWithTheImageHeaderThenTheDrawnText) {
    const std::string response = run_cgi(TEXT_GIF_CGI, "text=Hi%21&color=3", nullptr);
    const std::string header = "Content-type: image/gif\n\n";
    ASSERT_EQ(response.substr(0, header.size()), header);
    const GifImage image = decode_gif(response.substr(header.size()));
    ASSERT_TRUE(image);
    expect_text_drawn(image.get(), "Hi!", 3);
}

TEST(VisitsExample, CountsVisitsInACookie) {
    const std::string first = run_cgi(VISITS_CGI, nullptr, nullptr);
    EXPECT_EQ(first.rfind("Set-Cookie: visits=1; expires=", 0), 0u) << first;
    // Scripts in the page cannot read the count, and other sites' requests do not carry it.
    EXPECT_NE(first.find("GMT; HttpOnly; SameSite=Lax\nContent-type: text/html\n\n<html>\n    <head>\n"),
              std::string::npos);
    EXPECT_NE(first.find("visit number 1 from"), std::string::npos);
    EXPECT_EQ(first.substr(first.size() - 20), "    </body>\n</html>\n");

    const std::string later = run_cgi(VISITS_CGI, nullptr, "theme=dark; visits=41");
    EXPECT_EQ(later.rfind("Set-Cookie: visits=42; expires=", 0), 0u) << later;
    EXPECT_NE(later.find("visit number 42 from"), std::string::npos);

    EXPECT_NE(run_cgi(VISITS_CGI, nullptr, "visits=abc").find("visit number 1 from"),
              std::string::npos);
    EXPECT_NE(run_cgi(VISITS_CGI, "reset=1", "visits=41").find("visit number 1 from"),
              std::string::npos);
}
