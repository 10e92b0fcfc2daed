// Every real-client body of the corpus, run through the program: uploads are stored byte for
// byte, and the bodies that fail a check get that check's form.
#include <regex>

#include "application.h"
#include "corpus.h"
#include "digest.h"

namespace {

const char* after_last_separator(const std::string& path) {
    std::size_t at = path.find_last_of("/\\");
    return path.c_str() + (at == std::string::npos ? 0 : at + 1);
}

// What a case's body must give when it is not stored.
const char* refusal_for(const std::string& case_name) {
    // No file chosen, an empty file, or a file that starts with a line feed.
    if (case_name.ends_with("no-file") || case_name.ends_with("empty-file") ||
        case_name.ends_with("lf-crlf"))
        return "Please fill out the resume field";
    // The untouched textarea arrives as a line break only.
    if (case_name.ends_with("prefilled-textarea")) return "Please fill out the interest field";
    return nullptr;
}

}  // namespace

TEST(AppCorpusTest, EveryRealClientBodyIsStoredByteForByteOrAnsweredByItsCheck) {
    int cases = 0;
    for (const std::string& case_name : corpus_cases()) {
        const CorpusCase sent(case_name);
        const nlohmann::json& headers = sent.headers;
        ASSERT_TRUE(sent.expected.contains("upload")) << case_name;
        const nlohmann::json& upload = sent.expected["upload"];

        StoreDir work("apply-corpus");
        CgiCall call;
        call.workdir = work.path();
        call.env = {"REQUEST_METHOD=POST",
                    "CONTENT_TYPE=" + headers["content_type"].get<std::string>(),
                    "CONTENT_LENGTH=" + std::to_string(headers["content_length"].get<long>())};
        call.body = sent.body;
        CgiResult result = run_cgi(call);
        ++cases;
        EXPECT_EQ(result.exit_status, 0) << case_name;

        if (const char* message = refusal_for(case_name)) {
            EXPECT_NE(result.out.find(std::string("<h2>") + message + "</h2>\n"), std::string::npos)
                << case_name;
            EXPECT_EQ(tree_of(work.path()), std::set<std::string>{"people"}) << case_name;
            continue;
        }
        EXPECT_EQ(result.out, HTML_HEADER + fixture("thank_you.html") + "</html>\n") << case_name;
        const std::string file_name = upload["filename"].get<std::string>();
        fs::path stored = work.path() / "people" / "Jane Doe" / after_last_separator(file_name);
        ASSERT_TRUE(fs::exists(stored)) << case_name << ": " << stored;
        EXPECT_EQ(fs::file_size(stored), upload["length"].get<std::uintmax_t>()) << case_name;
        EXPECT_EQ(sha256_hex(read_file(stored)), upload["sha256"].get<std::string>()) << case_name;
    }
    EXPECT_GE(cases, 21);
}
