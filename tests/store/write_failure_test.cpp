// Writes that fail for real (a file-size limit in the program's process): the answer names the
// file, never "Thank You!", and no file is left torn or half-listed.
#include "application.h"

namespace {

constexpr long long kLimit = 64 * 1024;

std::string big(char fill) {
    return std::string(3 * kLimit, fill);
}

// The call run with the file-size limit.
CgiResult run_limited(CgiCall call) {
    call.file_size_limit = kLimit;
    return run_cgi(call);
}

}  // namespace

TEST_F(AppTest, AResumeThatCannotBeWrittenWholeKeepsThePreviousOne) {
    submit(Application{});
    Application bigger;
    bigger.resume = big('R');
    CgiResult result = run_limited(call_for(bigger));
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out,
              CANT_CREATE_HEADER + expected_cant_create("people/Jane Doe/hello.txt") + "</html>\n");
    EXPECT_EQ(read_file(people() / "Jane Doe" / "hello.txt"), "hello");
    EXPECT_EQ(tree_of(people() / "Jane Doe"), (std::set<std::string>{"index.html", "index.json", "hello.txt"}));
}

TEST_F(AppTest, AnApplicantPageThatCannotBeWrittenWholeKeepsThePreviousOne) {
    submit(Application{});
    std::string page_before = read_file(people() / "Jane Doe" / "index.html");
    std::string list_before = read_file(people() / "index.html");

    Application bigger;
    // The longest interest accepted, each byte taking five in the page: past the limit.
    bigger.interest = std::string(65536, '&');
    bigger.resume = "new resume";
    CgiResult result = run_limited(call_for(bigger));
    EXPECT_EQ(result.out,
              CANT_CREATE_HEADER + expected_cant_create("people/Jane Doe/index.html") + "</html>\n");
    EXPECT_EQ(read_file(people() / "Jane Doe" / "index.html"), page_before);
    EXPECT_EQ(read_file(people() / "Jane Doe" / "hello.txt"), "hello");
    EXPECT_EQ(read_file(people() / "index.html"), list_before);
    EXPECT_EQ(tree_of(people() / "Jane Doe"), (std::set<std::string>{"index.html", "index.json", "hello.txt"}));

    // A new applicant whose page fails is neither listed nor given a page.
    bigger.name = "Max";
    result = run_limited(call_for(bigger));
    EXPECT_EQ(result.out,
              CANT_CREATE_HEADER + expected_cant_create("people/Max/index.html") + "</html>\n");
    EXPECT_FALSE(fs::exists(people() / "Max" / "index.html"));
    EXPECT_EQ(read_file(people() / "index.html"), list_before);
}

TEST_F(AppTest, AListLineThatCannotBeWrittenLeavesTheListAsItWasAndTheApplicantUnlisted) {
    // The list ends a few bytes below the limit, so the line's first bytes are written before
    // the limit stops it.
    std::string list_before;
    while (list_before.size() < kLimit - 40) list_before += "<br><a href=\"Old\">Old</a>\n";
    list_before.resize(kLimit - 10);
    list_before.back() = '\n';
    write_file(people() / "index.html", list_before);

    Application max;
    max.name = "Max";
    CgiResult result = run_limited(call_for(max));
    EXPECT_EQ(result.out, CANT_CREATE_HEADER + expected_cant_create("people/index.html") + "</html>\n");
    EXPECT_TRUE(read_file(people() / "index.html") == list_before);
    EXPECT_FALSE(fs::exists(people() / "Max" / "index.html"));
    EXPECT_FALSE(fs::exists(people() / "Max" / "hello.txt"));

    // Once there is room, the same name still counts as new and gets its line.
    result = submit(max);
    EXPECT_NE(result.out.find("<h1>Thank You!</h1>"), std::string::npos);
    EXPECT_TRUE(read_file(people() / "index.html") ==
                list_before + "<br><a href=\"Max\">Max</a>\n");
    EXPECT_EQ(tree_of(people() / "Max"), (std::set<std::string>{"index.html", "index.json", "hello.txt"}));
}
