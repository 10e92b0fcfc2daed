// The example programs, run as a web server would run them: environment in, response out.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "gif_check.h"
#include "response_test_support.h"

namespace {

// Runs a CGI program as a web server would, in an empty folder that must stay empty, and returns
// its output: a GET with a query string and a cookie, or a POST of `body` as `content_type`.
std::string run_cgi(const char* program, const char* query, const char* cookie,
                    const std::string* body = nullptr, const char* content_type = nullptr) {
    plain_visit_arguments();  // clears the CGI variables
    const std::filesystem::path site =
        std::filesystem::path(testing::TempDir()) / ("examples_site_" + std::to_string(getpid()));
    std::filesystem::remove_all(site);
    std::filesystem::create_directories(site);
    std::string command = "cd '" + site.string() + "' && '" + program + "'";
    setenv("REQUEST_METHOD", body ? "POST" : "GET", 1);
    if (query) setenv("QUERY_STRING", query, 1);
    if (cookie) setenv("HTTP_COOKIE", cookie, 1);
    const std::filesystem::path input = site.string() + ".in";
    if (body) {
        std::FILE* in = std::fopen(input.c_str(), "wb");
        std::fwrite(body->data(), 1, body->size(), in);
        std::fclose(in);
        setenv("CONTENT_TYPE", content_type, 1);
        setenv("CONTENT_LENGTH", std::to_string(body->size()).c_str(), 1);
        command += " < '" + input.string() + "'";
    }
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char block[4096];
        for (std::size_t n; (n = std::fread(block, 1, sizeof block, pipe)) > 0;) {
            output.append(block, n);
        }
        EXPECT_EQ(pclose(pipe), 0) << program;
    } else {
        ADD_FAILURE() << "cannot run " << program;
    }
    // A program of the library's leaves no trace file, no spool file, nothing.
    EXPECT_TRUE(std::filesystem::is_empty(site)) << program << " left a file behind";
    std::filesystem::remove_all(site);
    std::filesystem::remove(input);
    unsetenv("CONTENT_TYPE");
    unsetenv("CONTENT_LENGTH");
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
    EXPECT_NE(
        first.find("GMT; HttpOnly; SameSite=Lax\nContent-type: text/html\n\n<html>\n    <head>\n"),
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

TEST(UploadExample, AnswersAnUploadWithItsEscapedNameAndRefusesWhatItCannotTake) {
    const std::string form = run_cgi(UPLOAD_CGI, nullptr, nullptr);
    EXPECT_NE(form.find("<form method='post' enctype='multipart/form-data'>"), std::string::npos);

    const char* type = "multipart/form-data; boundary=\"b0\"";
    auto body = [](const std::string& file_name, const std::string& content) {
        return "--b0\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\n<i>CV</i>\r\n"
               "--b0\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
               file_name + "\"\r\nContent-Type: text/plain\r\n\r\n" + content + "\r\n--b0--\r\n";
    };
    const std::string sent = body("a<b>.txt", "hello");
    const std::string answer = run_cgi(UPLOAD_CGI, nullptr, nullptr, &sent, type);
    EXPECT_NE(answer.find("<p>a&lt;b&gt;.txt, 5 bytes (Content-Type: text/plain), spooled to a "
                          "file, titled &lt;i&gt;CV&lt;/i&gt;.</p>"),
              std::string::npos)
        << answer;

    const std::string large = body("big.bin", std::string((5 << 20) + 1, 'x'));
    EXPECT_NE(run_cgi(UPLOAD_CGI, nullptr, nullptr, &large, type).find("larger than 5 MiB"),
              std::string::npos);
    const std::string no_file = body("", "");
    EXPECT_NE(run_cgi(UPLOAD_CGI, nullptr, nullptr, &no_file, type).find("Please choose a file."),
              std::string::npos);
    // A body cut inside the upload is reported, not taken for a shorter file.
    const std::string unreadable = sent.substr(0, sent.size() - 12);
    const std::string refused = run_cgi(UPLOAD_CGI, nullptr, nullptr, &unreadable, type);
    EXPECT_NE(refused.find("The upload could not be read."), std::string::npos) << refused;
    EXPECT_EQ(refused.substr(refused.size() - 20), "    </body>\n</html>\n");
}
