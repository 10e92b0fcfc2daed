// The multipart parser on bodies as browsers and curl send them, and on malformed ones.
#include <cstring>
#include <string>

#include "request_test_support.h"

namespace {

const std::string kEveryByte =
    every_byte_value(std::string(16, '\0') + "\r\n--\r\n-" + "\r" + "\xFF\x80");

}  // namespace

TEST(Multipart, BrowserBodyGivesTextFieldsAndAnUpload) {
    for (const char* eol : {"\r\n", "\n"}) {
        MultipartBody form("----WebKitFormBoundaryQ8k1", eol);
        const std::string body = form.field("mail", "xyz")
                                     .file("resume", "C:\\docs\\cv.txt", "text/plain", "hello")
                                     .close();
        auto request = multipart_request(form, body);
        EXPECT_STREQ(request->get_value("mail"), "xyz");
        EXPECT_EQ(file_value(*request, "mail"), "xyz");
        const FileValue resume = upload(*request, "resume");
        EXPECT_EQ(resume.value, "hello");
        EXPECT_EQ(resume.file_name, "C:\\docs\\cv.txt");
        EXPECT_EQ(resume.file_type, "Content-Type: text/plain");
        EXPECT_EQ(upload(*request, "mail").file_type, "");
        EXPECT_EQ(request->pair_count(), 2);
    }
}

TEST(Multipart, UploadsKeepEveryByteOfTheirContent) {
    const std::string contents[] = {kEveryByte,
                                    "\nstarts with LF",
                                    "\r\nstarts with CR LF",
                                    "ends with CR LF\r\n",
                                    "ends with two\n\n",
                                    "",
                                    "\r\n",
                                    "\n"};
    for (const char* eol : {"\r\n", "\n"}) {
        for (const std::string& content : contents) {
            MultipartBody form("xYz", eol);
            const std::string body =
                form.file("resume", "f.bin", "application/octet-stream", content)
                    .file("plain", "p.txt", "", content)
                    .field("after", "ok")
                    .close();
            auto request = multipart_request(form, body);
            EXPECT_EQ(file_value(*request, "resume"), content);
            EXPECT_EQ(file_value(*request, "plain"), content) << "no Content-Type line";
            EXPECT_STREQ(request->get_value("after"), "ok");
        }
    }
}

// A part with a Content-Type line but no file name is an upload; empty file inputs give empty
// uploads with what their headers said.
TEST(Multipart, UploadsWithoutAFileNameOrContent) {
    MultipartBody form;
    const std::string body = form.raw("--" + form.boundary + "\r\n" +
                                      "Content-Disposition: form-data; name=\"doc\"\r\n" +
                                      "Content-Type: text/plain\r\n\r\n" + "line\r\n\r\n")
                                 .file("resume", "", "application/octet-stream", "")
                                 .file("other", "empty.txt", "text/plain", "")
                                 .close();
    auto request = multipart_request(form, body);
    const FileValue doc = upload(*request, "doc");
    EXPECT_EQ(doc.value, "line\r\n");
    EXPECT_EQ(doc.file_name, "");
    EXPECT_EQ(doc.file_type, "Content-Type: text/plain");
    const FileValue resume = upload(*request, "resume");
    EXPECT_EQ(resume.value, "");
    EXPECT_EQ(resume.file_name, "");
    EXPECT_EQ(resume.file_type, "Content-Type: application/octet-stream");
    EXPECT_EQ(upload(*request, "other").value, "");
}

TEST(Multipart, TextFieldsLoseTheirTrailingLineBreaksOnly) {
    MultipartBody form;
    const std::string body = form.field("typed", "a\r\n\r\n")
                                 .field("untouched", "\r\n")
                                 .field("inner", "x\r\ny")
                                 .field("lead_crlf", "\r\nz")
                                 .field("lead_lf", "\nz")
                                 .close();
    auto request = multipart_request(form, body);
    EXPECT_EQ(file_value(*request, "typed"), "a");
    EXPECT_EQ(file_value(*request, "untouched"), "");
    EXPECT_EQ(file_value(*request, "inner"), "x\r\ny");
    EXPECT_EQ(file_value(*request, "lead_crlf"), "\r\nz");
    EXPECT_EQ(file_value(*request, "lead_lf"), "z");  // the blank-line skip takes leading LFs
}

TEST(Multipart, OtherHeadersAndParametersStayInTheValue) {
    MultipartBody form;
    const std::string body =
        form.raw("--" + form.boundary + "\r\nContent-Disposition: form-data; name=\"a\"\r\n" +
                 "Content-Transfer-Encoding: 8bit\r\n\r\nv\r\n")
            .raw("--" + form.boundary +
                 "\r\nContent-Disposition: form-data; name=\"b\"; x=\"1\"\r\n" + "\r\nw\r\n")
            .close();
    auto request = multipart_request(form, body);
    EXPECT_EQ(file_value(*request, "a"), "Content-Transfer-Encoding: 8bit\r\n\r\nv");
    EXPECT_EQ(file_value(*request, "b"), "; x=\"1\"\r\n\r\nw");
}

TEST(Multipart, BoundaryLikeTextDoesNotEndAValue) {
    MultipartBody form("AbC123");
    const std::string content = "--AbC12\r\n--AbC 123\r\n-AbC123\r\nAbC123--\r\n";
    const std::string body = form.file("f", "f", "text/plain", content).close();
    EXPECT_EQ(file_value(*multipart_request(form, body), "f"), content);
}

TEST(Multipart, TheDelimiterInsideAValueEndsIt) {
    MultipartBody form("AbC123");
    const std::string run_on =
        form.raw("--AbC123\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n")
            .field("b", "one--AbC123two")
            .close();
    // The delimiter need not start a line: "b" ends at it and the rest of that line is no part
    // header, so the request stops.
    EXPECT_EXIT(multipart_request(form, run_on)->collect_pairs(), testing::ExitedWithCode(0), "");

    MultipartBody joined("AbC123");
    const std::string body =
        joined.raw("--AbC123\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\none")
            .field("b", "two")
            .close();
    auto request = multipart_request(joined, body);
    EXPECT_STREQ(request->get_value("a"), "one");
    EXPECT_STREQ(request->get_value("b"), "two");
}

TEST(Multipart, LongHeaderTextsAreCutToTheLimitAndSaidToBeUnlessItIsRaised) {
    MultipartBody form;
    const std::string name(5000, 'n');
    const std::string file_name(5000, 'f');
    const std::string type = "Content-Type: " + std::string(5000, 't');
    const std::string body = form.file(name, file_name, type.substr(14), "data").close();
    RequestOptions raised = RequestOptions::as_designed();
    raised.max_name_bytes = 5014;
    const struct {
        RequestOptions options;
        std::size_t kept;
    } cases[] = {{RequestOptions::as_designed(), SCRATCH_SIZE - 1}, {{}, 4095}, {raised, 5014}};
    for (const auto& [options, kept] : cases) {
        auto request = multipart_request(form, body, "", options);
        const FormPair* pair = request->pair_at(0);
        ASSERT_NE(pair, nullptr);
        EXPECT_EQ(pair->name, name.substr(0, kept));
        EXPECT_EQ(std::string(pair->value, 4), "data");
        EXPECT_EQ(pair->file_name, file_name.substr(0, kept));
        EXPECT_EQ(pair->file_type, type.substr(0, kept));
        EXPECT_EQ(request->truncated(Limit::name), kept < type.size()) << kept;
    }
    // A caller's array of SCRATCH_SIZE bytes holds what the default limit keeps.
    auto request = multipart_request(form, body);
    char name_out[SCRATCH_SIZE];
    char value_out[8];
    ASSERT_TRUE(request->next_pair(name_out, value_out));
    EXPECT_EQ(std::string(name_out), name.substr(0, SCRATCH_SIZE - 1));
    EXPECT_FALSE(request->truncated(Limit::buffer));
}

TEST(Multipart, NextPairCutsAnUploadAtItsFirstNul) {
    MultipartBody form;
    const std::string body = form.file("bin", "b", "x/y", std::string("ab\0cd", 5)).close();
    auto request = multipart_request(form, body);
    char name[8];
    char value[8];
    ASSERT_TRUE(request->next_pair(name, value));
    EXPECT_STREQ(value, "ab");
    EXPECT_EQ(file_value(*request, "bin"), std::string("ab\0cd", 5));
}

TEST(Multipart, StopsAtMaxPairs) {
    MultipartBody form;
    for (int i = 0; i < MAX_PAIRS + 5; ++i) form.field("f" + std::to_string(i), "v");
    auto request = multipart_request(form, form.close());
    EXPECT_STREQ(request->get_value("f1023"), "v");
    EXPECT_EQ(request->get_value("f1024"), nullptr);
    EXPECT_EQ(request->pair_count(), MAX_PAIRS);
}

TEST(Multipart, NoBodyMeansNoPairs) {
    MultipartBody form;
    set_cgi_env({{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", form.content_type()}});
    feed_stdin(form.field("a", "1").close());
    auto request = make_request();
    EXPECT_EQ(request->get_value("a"), nullptr);
    EXPECT_EQ(request->pair_count(), 0);
}

TEST(Multipart, ClosingLineWithoutLineBreakEndsTheBody) {
    MultipartBody form;
    std::string body = form.field("a", "1").close();
    body.resize(body.size() - 2);
    EXPECT_STREQ(multipart_request(form, body)->get_value("a"), "1");
}

TEST(Multipart, ParsingUsesWhatWasReallyRead) {
    MultipartBody form;
    const std::string body = form.field("a", "1").close();
    auto request = multipart_request(form, body, std::to_string(body.size() + 1000));
    EXPECT_EQ(request->content_length(), static_cast<std::int32_t>(body.size()));
    EXPECT_STREQ(request->get_value("a"), "1");
}
