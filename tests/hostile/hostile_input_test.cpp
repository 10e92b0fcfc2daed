// Hostile and awkward values: names and store roots that would leave the store or read as other
// names, the longest values, resume names that are no file, and applicant text full of markup.
#include "application.h"

namespace {

// The message line of a form shown again, or empty text.
std::string message_of(const std::string& output) {
    const std::string title = "<h2>Vocanta at Brenmoor</h2>\n<h2>";
    std::size_t at = output.find(title);
    if (at == std::string::npos) return {};
    at += title.size();
    return output.substr(at, output.find("</h2>\n", at) - at);
}

std::string input_value(const std::string& output, const std::string& field) {
    std::size_t at = output.find("name=\"" + field + "\" id=\"" + field + "\" size=64 ");
    if (at == std::string::npos) return "<missing>";
    at = output.find("value=\"", at) + 7;
    return output.substr(at, output.find('"', at) - at);
}

// The form shown again with a "Please" message about `field`, and nothing stored under `work`.
void expect_form_again_for(const CgiResult& result, const std::string& field, const fs::path& work,
                           const std::string& what) {
    std::string message = message_of(result.out);
    EXPECT_EQ(result.exit_status, 0) << what;
    EXPECT_EQ(message.rfind("Please", 0), 0u) << what << ": " << message;
    EXPECT_NE(message.find(field + " field"), std::string::npos) << what;
    EXPECT_EQ(tree_of(work), std::set<std::string>{"people"}) << what;
}

}  // namespace

TEST_F(AppTest, NamesThatAreNotOneFolderInsideTheStoreAreRefused) {
    // Besides: invisible format characters with which a name reads as another (UTF-8): the
    // right-to-left override, zero-width space, right-to-left mark, left-to-right embedding,
    // isolates, word joiner, byte order mark and Arabic letter mark.
    const std::string names[] = {".",
                                 "..",
                                 "../outside",
                                 "a/b",
                                 "/abs",
                                 "a\\b",
                                 "..\\x",
                                 "tab\there",
                                 "bell\a",
                                 "del\x7f",
                                 "index.html",
                                 "Eve\u202Etxt.exe",
                                 "\u200BBob",
                                 "Bo\u200Fb",
                                 "\u202ABob",
                                 "\u2066Bob\u2069",
                                 "Bob\u2060",
                                 "\uFEFFBob",
                                 "Bob\u061C",
                                 ".tmp-1-0",
                                 ".tmp-unlisted",
                                 "index.json",
                                 // Names that read as "Bob" (or "Bo b"): spaces other than
                                 // U+0020, default-ignorable, blank and line breaking code
                                 // points, C1 controls, a Cyrillic letter among Latin ones,
                                 // bytes that are no UTF-8.
                                 "Bo\u00A0b",
                                 "Bo\u00ADb",
                                 "Bo\u034Fb",
                                 "Bo\u180Eb",
                                 "Bo\u2061b",
                                 "Bo\u2064b",
                                 "Bo\u206Ab",
                                 "Bo\u206Fb",
                                 "Bo\u3164b",
                                 "Bo\u115Fb",
                                 "Bo\u2800b",
                                 "Bo\uFFF9b",
                                 "Bo\U000E0041b",
                                 "Bo\u0085b",
                                 "Bo\u2028b",
                                 "B\u043Eb",
                                 "Bo\xff" "b"};
    for (const std::string& name : names) {
        Application application;
        application.name = name;
        CgiResult result = submit(application);
        expect_form_again_for(result, "name", work(), name);
        // Shown again as typed (none holds a character that is escaped), so it can be mended.
        EXPECT_EQ(input_value(result.out, "name"), name) << name;
        EXPECT_EQ(input_value(result.out, "mail"), "jane@example.org") << name;
        EXPECT_EQ(result.out.find("</html>"), std::string::npos) << name;
    }
}

TEST_F(AppTest, StoreRootsThatCouldReachOutsideAreRefusedWithTheirPagePath) {
    const std::pair<std::string, std::string> roots[] = {
        {"", "/Jane Doe/index.html"},
        {"/tmp", "/tmp/Jane Doe/index.html"},
        {"\\share", "\\share/Jane Doe/index.html"},
        {"C:", "C:/Jane Doe/index.html"},
        {"c:people", "c:people/Jane Doe/index.html"},
        {"people\\x", "people\\x/Jane Doe/index.html"},
        {"peo\x01ple", "peo\x01ple/Jane Doe/index.html"},
        {"people/", "people//Jane Doe/index.html"},
        {"./people", "./people/Jane Doe/index.html"},
        {"people/../people", "people/../people/Jane Doe/index.html"},
        {"people//x", "people//x/Jane Doe/index.html"},
        {".", "./Jane Doe/index.html"},
        {"..", "../Jane Doe/index.html"},
        {"<b>&..", "&lt;b&gt;&amp;../Jane Doe/index.html"},
    };
    for (const auto& [root, shown] : roots) {
        Application application;
        application.directory = root;
        CgiResult result = submit(application);
        EXPECT_EQ(result.exit_status, 1) << root;
        EXPECT_EQ(result.out, CANT_CREATE_HEADER + expected_cant_create(shown) + "</html>\n") << root;
        EXPECT_EQ(tree_of(work()), std::set<std::string>{"people"}) << root;
    }
}

TEST_F(AppTest, TheLongestRootNameAndResumeNameAreFiledWhole) {
    // A declared store root of 1020 bytes (no single folder name may pass 255 bytes), and the
    // longest name and resume file name inside it.
    std::string root = "deep";
    for (char c : {'a', 'b', 'c', 'd'}) root += "/" + std::string(253, c);
    declare_store_root(work() / root);
    Application longest;
    longest.directory = root;
    longest.name = std::string(255, 'n');
    longest.file_name = std::string(255, 'r');
    CgiResult stored = submit(longest);
    EXPECT_NE(stored.out.find("<h1>Thank You!</h1>"), std::string::npos);
    EXPECT_EQ(read_file(work() / root / longest.name / longest.file_name), "hello");
    EXPECT_NE(read_file(work() / root / "index.html").find(longest.name), std::string::npos);
}

TEST_F(AppTest, ResumeFileNamesThatAreNoFileInTheFolderAreRefused) {
    const std::string file_names[] = {".",
                                      "..",
                                      "C:\\docs\\..",
                                      "x/.",
                                      "index.html",
                                      "a\x01.txt",
                                      "cv\u202Etxt.exe",
                                      ".tmp-1a-0",
                                      "C:\\x\\.tmp-unlisted"};
    for (const std::string& file_name : file_names) {
        Application application;
        application.file_name = file_name;
        CgiResult result = submit(application);
        expect_form_again_for(result, "resume", work(), file_name);
        EXPECT_NE(result.out.find(".txt\" required value=\"\">"), std::string::npos) << file_name;
        EXPECT_EQ(input_value(result.out, "name"), "Jane Doe") << file_name;
    }
}

TEST_F(AppTest, ApplicantTextIsNeverMarkupInAnyPageOrFile) {
    Application application;
    application.name = "<b>O'Brien & \"Co\"";
    application.mail = "x\"&'@example.org";
    application.interest = "<script>alert('hi')</script> & more";
    application.file_name = "cv <1>.txt";
    CgiResult result = submit(application);
    const std::string name_text = "&lt;b&gt;O&#39;Brien &amp; &quot;Co&quot;";
    const std::string name_link = "%3Cb%3EO%27Brien%20%26%20%22Co%22";

    EXPECT_NE(result.out.find("Name: " + name_text + "\n"), std::string::npos);
    EXPECT_NE(result.out.find("Email: x&quot;&amp;&#39;@example.org\n"), std::string::npos);

    fs::path folder = people() / application.name;
    EXPECT_EQ(read_file(people() / "index.html"),
              "<br><a href=\"" + name_link + "\">" + name_text + "</a>\n");
    std::string page = read_file(folder / "index.html");
    EXPECT_NE(page.find("<title>\n" + name_text + "\n</title>"), std::string::npos);
    EXPECT_NE(page.find("<h1>" + name_text + "</h1>"), std::string::npos);
    EXPECT_NE(page.find("Email: <a href=\"mailto:x%22%26%27@example.org\">x&quot;&amp;&#39;@example.org</a>\n"),
              std::string::npos);
    EXPECT_NE(page.find("<p>\n&lt;script&gt;alert(&#39;hi&#39;)&lt;/script&gt; &amp; more\n"),
              std::string::npos);
    EXPECT_NE(page.find("<a href=\"cv%20%3C1%3E.txt\">My resume is here</a>\n"), std::string::npos);
    EXPECT_EQ(read_file(folder / "cv <1>.txt"), "hello");
    for (const std::string& text : {result.out, page}) {
        EXPECT_EQ(text.find("<script"), std::string::npos);
        EXPECT_EQ(text.find("<b>"), std::string::npos);
    }
}

TEST_F(AppTest, ListLinksAlwaysNameTheApplicantFolder) {
    // A scheme, a fragment or a percent sign in a name would send the link elsewhere.
    const std::pair<std::string, std::string> names[] = {
        {"javascript:alert(1)", "javascript%3Aalert%281%29"},
        {"50% #1", "50%25%20%231"},
    };
    std::string expected_list;
    for (const auto& [name, link] : names) {
        Application application;
        application.name = name;
        submit(application);
        expected_list += "<br><a href=\"" + link + "\">" + name + "</a>\n";
        EXPECT_TRUE(fs::exists(people() / name / "index.html")) << name;
    }
    EXPECT_EQ(read_file(people() / "index.html"), expected_list);
}
