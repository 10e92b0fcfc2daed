// Every real-client body of the corpus, run through the program: uploads are stored byte for
// byte, and the bodies that fail a check get that check's form.
#include <cstdio>
#include <regex>

#include "app_test_support.h"

namespace {

// The value of the first "key": "text" or "key": number after `from` in a JSON text.
std::string json_value(const std::string& json, const std::string& key, std::size_t from = 0) {
    std::size_t at = json.find("\"" + key + "\": ", from);
    if (at == std::string::npos) return {};
    at += key.size() + 4;
    if (json[at] != '"') return json.substr(at, json.find_first_of(",\n}", at) - at);
    std::string text;
    for (std::size_t i = at + 1; i < json.size() && json[i] != '"'; ++i) {
        if (json[i] == '\\') ++i;  // the corpus escapes only '\' and '"'
        text.push_back(json[i]);
    }
    return text;
}

std::string sha256_of(const fs::path& file) {
    std::string command = "sha256sum '" + file.string() + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    char digest[65] = {};
    std::size_t n = std::fread(digest, 1, 64, pipe);
    pclose(pipe);
    return std::string(digest, n);
}

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
    for (const auto& entry : fs::directory_iterator(CORPUS_DIR)) {
        if (!entry.is_directory()) continue;
        std::string case_name = entry.path().filename().string();
        std::string headers = read_file(entry.path() / "headers.json");
        std::string expected = read_file(entry.path() / "expected.json");
        std::size_t upload = expected.find("\"upload\": {");
        ASSERT_NE(upload, std::string::npos) << case_name;

        StoreDir work("apply-corpus");
        CgiCall call;
        call.workdir = work.path();
        call.env = {"REQUEST_METHOD=POST", "CONTENT_TYPE=" + json_value(headers, "content_type"),
                    "CONTENT_LENGTH=" + json_value(headers, "content_length")};
        call.body = read_file(entry.path() / "body.bin");
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
        std::string file_name = json_value(expected, "filename", upload);
        fs::path stored = work.path() / "people" / "Jane Doe" / after_last_separator(file_name);
        ASSERT_TRUE(fs::exists(stored)) << case_name << ": " << stored;
        EXPECT_EQ(std::to_string(fs::file_size(stored)), json_value(expected, "length", upload))
            << case_name;
        EXPECT_EQ(sha256_of(stored), json_value(expected, "sha256", upload)) << case_name;
    }
    EXPECT_GE(cases, 21);
}
