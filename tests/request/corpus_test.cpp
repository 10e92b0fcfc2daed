// Every captured client body parses to exactly the parts the client sent: text fields without
// their trailing line breaks, uploads byte for byte.
#include <string>

#include "digest.h"
#include "request_test_support.h"

namespace {

std::string without_trailing_line_breaks(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
}

class Corpus : public testing::TestWithParam<std::string> {};

}  // namespace

TEST(CorpusFixtures, AreAllThere) {
    EXPECT_GE(corpus_cases().size(), 21u);
}

TEST_P(Corpus, ParsesToExactlyThePartsSent) {
    CorpusCase sent(GetParam());
    ASSERT_EQ(sent.body.size(), sent.headers["content_length"].get<std::size_t>());
    set_post_env(sent.content_type, std::to_string(sent.body.size()));
    feed_stdin(sent.body);
    auto request = make_request();
    request->collect_pairs();

    ASSERT_EQ(request->pair_count(), static_cast<std::int32_t>(sent.parts.size()));
    for (std::size_t i = 0; i < sent.parts.size(); ++i) {
        const nlohmann::json& part = sent.parts[i];
        // A null or missing member (no file name, no Content-Type line) stands for `none`.
        auto text = [&](const char* key, const char* none = "") {
            const auto member = part.find(key);
            return member == part.end() || member->is_null() ? std::string(none)
                                                             : member->get<std::string>();
        };
        const FormPair& pair = *request->pair_at(static_cast<std::int32_t>(i));
        const std::string value(pair.value, static_cast<std::size_t>(pair.value_len));
        SCOPED_TRACE(text("name"));
        EXPECT_EQ(pair.name, text("name"));
        EXPECT_EQ(pair.file_name, text("filename"));
        EXPECT_EQ(pair.file_type, text("content_type_line"));
        EXPECT_EQ(pair.value[pair.value_len], '\0');
        if (text("filename", "-") == "-" && text("content_type_line", "-") == "-") {
            EXPECT_EQ(value, without_trailing_line_breaks(text("value", "<none>")));
        } else {
            EXPECT_EQ(value.size(), part.value("length", std::size_t{0}));
            EXPECT_EQ(sha256_hex(value), text("sha256"));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Clients, Corpus, testing::ValuesIn(corpus_cases()), corpus_case_name);
