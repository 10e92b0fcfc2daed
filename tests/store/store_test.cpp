// Filing a submission: the applicant folder, page, list line and resume, on first and repeated
// submissions, with the pages and files checked byte for byte.
#include <sys/stat.h>

#include "store_checks.h"

namespace {

std::string list_line(const std::string& target, const std::string& text) {
    return "<br><a href=\"" + target + "\">" + text + "</a>\n";
}

}  // namespace

TEST_F(AppTest, AFirstSubmissionFilesFolderPageListLineAndResume) {
    CgiResult result = submit(Application{});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, HTML_HEADER + fixture("thank_you.html") + "</html>\n");
    EXPECT_EQ(read_file(people() / "Jane Doe" / "index.html"), fixture("applicant_page.html"));
    EXPECT_EQ(read_file(people() / "index.html"), list_line("Jane%20Doe", "Jane Doe"));
    EXPECT_EQ(read_file(people() / "Jane Doe" / "hello.txt"), "hello");
    EXPECT_EQ(tree_of(work()),
              (std::set<std::string>{"people", "people/index.html", "people/Jane Doe",
                                     "people/Jane Doe/index.html", "people/Jane Doe/hello.txt"}));
}

TEST_F(AppTest, ARepeatedSubmissionRewritesPageAndResumeAndLeavesTheList) {
    submit(Application{});
    std::string list_before = read_file(people() / "index.html");

    CgiResult result = submit(
        {.mail = "jane@elsewhere.example", .interest = "Compilers", .resume = "second version"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_NE(result.out.find("<h1>Thank You!</h1>"), std::string::npos);
    EXPECT_EQ(read_file(people() / "index.html"), list_before);
    std::string page = read_file(people() / "Jane Doe" / "index.html");
    EXPECT_NE(page.find("mailto:jane@elsewhere.example\">jane@elsewhere.example</a>\n"),
              std::string::npos);
    EXPECT_NE(page.find("<p>\nCompilers\n</td>\n"), std::string::npos);
    EXPECT_EQ(read_file(people() / "Jane Doe" / "hello.txt"), "second version");

    // A resume under another file name goes beside the earlier one.
    submit({.file_name = "cv.txt", .resume = "third"});
    EXPECT_EQ(read_file(people() / "Jane Doe" / "hello.txt"), "second version");
    EXPECT_EQ(read_file(people() / "Jane Doe" / "cv.txt"), "third");
    EXPECT_EQ(read_file(people() / "index.html"), list_before);
}

TEST_F(AppTest, ASecondApplicantAddsALineAfterTheFirst) {
    submit(Application{});
    CgiResult result = submit({.name = "Max"});
    EXPECT_NE(result.out.find("<a href=\"people/Max/index.html\">Web page for Max</a>\n"),
              std::string::npos);
    EXPECT_EQ(read_file(people() / "index.html"),
              list_line("Jane%20Doe", "Jane Doe") + list_line("Max", "Max"));
}

TEST_F(AppTest, AnUploadFileNameEndingInASeparatorIsRefusedBeforeAnythingIsWritten) {
    // It leaves no name for the resume file: filing it would leave a page and a list line
    // that link to no resume.
    for (const char* file_name : {"folder/", "folder\\"}) {
        CgiResult result = submit({.file_name = file_name});
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.out,
                  HTML_HEADER + expected_form("Jane Doe", "jane@example.org", "",
                                              "Systems programming in C++",
                                              "Please fill out the resume field with a file whose "
                                              "name is not ., .. or index.html, does not begin "
                                              "with .tmp- and holds no "
                                              "control or invisible formatting characters"))
            << file_name;
        EXPECT_EQ(tree_of(work()), std::set<std::string>{"people"}) << file_name;
    }
}

TEST_F(AppTest, AClientPathInTheFileNameStoresOnlyItsLastComponent) {
    submit({.file_name = "C:\\docs\\cv.txt"});
    EXPECT_EQ(read_file(people() / "Jane Doe" / "cv.txt"), "hello");

    submit({.file_name = "/home/jane/my cv.txt", .resume = "mine"});
    EXPECT_EQ(read_file(people() / "Jane Doe" / "my cv.txt"), "mine");
    std::string page = read_file(people() / "Jane Doe" / "index.html");
    EXPECT_NE(page.find("<a href=\"my%20cv.txt\">My resume is here</a>\n"), std::string::npos);
    EXPECT_EQ(tree_of(people() / "Jane Doe"),
              (std::set<std::string>{"index.html", "cv.txt", "my cv.txt"}));
}

TEST_F(AppTest, BinaryUploadsAreStoredByteForByte) {
    std::string bytes = "B";
    for (int round = 0; round < 300; ++round) {
        for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
        bytes += std::string(17, '\0') + "\r\n--" + std::string(TEST_BOUNDARY).substr(0, 10);
    }
    bytes += "\r";
    Application application;
    application.file_name = "binary.bin";
    application.resume = bytes;
    CgiResult result = submit(application);
    EXPECT_NE(result.out.find("<h1>Thank You!</h1>"), std::string::npos);
    std::string stored = read_file(people() / "Jane Doe" / "binary.bin");
    EXPECT_EQ(stored.size(), bytes.size());
    EXPECT_TRUE(stored == bytes);
}

TEST_F(AppTest, ANestedStoreRootIsUsedAsGiven) {
    fs::create_directory(people() / "2026");
    Application application;
    application.directory = "people/2026";
    CgiResult result = submit(application);
    EXPECT_NE(result.out.find("<a href=\"people/2026/Jane%20Doe/index.html\">"), std::string::npos);
    EXPECT_NE(result.out.find("<a href=\"people/2026/index.html\">Entire list</a>"),
              std::string::npos);
    EXPECT_EQ(read_file(people() / "2026" / "Jane Doe" / "hello.txt"), "hello");
    EXPECT_EQ(read_file(people() / "2026" / "index.html"), list_line("Jane%20Doe", "Jane Doe"));
}

// A list larger than any fixed buffer keeps every byte when a new applicant is added.
TEST_F(AppTest, AListLargerThanSixteenMebibytesKeepsEveryByte) {
    std::string old_list;
    for (int i = 0; old_list.size() <= 17u * 1024 * 1024; ++i) {
        old_list +=
            "<br><a href=\"Old%20" + std::to_string(i) + "\">Old " + std::to_string(i) + "</a>\n";
    }
    write_file(people() / "index.html", old_list);
    Application application;
    application.resume = binary_content(1000, 5);
    application.resume_type = "application/octet-stream";
    CgiResult result = submit(application);
    EXPECT_NE(result.out.find("<h1>Thank You!</h1>"), std::string::npos);
    const std::string new_line = list_line("Jane%20Doe", "Jane Doe");
    std::string list = read_file(people() / "index.html");
    EXPECT_EQ(list.size(), old_list.size() + new_line.size());
    EXPECT_TRUE(list == old_list + new_line);
    bool whole = false;
    EXPECT_EQ(lines_for(list_lines(list.substr(old_list.size()), &whole), "Jane Doe"), 1);
    EXPECT_TRUE(whole);
    EXPECT_TRUE(read_file(people() / "Jane Doe" / "hello.txt") == application.resume);
}
