// Every captured client body parses to exactly the parts the client sent: text fields without
// their trailing line breaks, uploads byte for byte.
#include <string>

#include "request_test_support.h"
#include "sha256.h"

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
    ASSERT_EQ(std::to_string(sent.body.size()), sent.headers["content_length"].value_or(""));
    set_post_env(sent.content_type, std::to_string(sent.body.size()));
    feed_stdin(sent.body);
    auto request = make_request();
    request->collect_pairs();

    ASSERT_EQ(request->pair_count(), static_cast<std::int32_t>(sent.parts.size()));
    for (std::size_t i = 0; i < sent.parts.size(); ++i) {
        JsonObject part = sent.parts[i];
        const FormPair& pair = request->pairs[i];
        const std::string value(pair.value, static_cast<std::size_t>(pair.value_len));
        SCOPED_TRACE(*part["name"]);
        EXPECT_EQ(pair.name, *part["name"]);
        EXPECT_EQ(pair.file_name, part["filename"].value_or(""));
        EXPECT_EQ(pair.file_type, part["content_type_line"].value_or(""));
        EXPECT_EQ(pair.value[pair.value_len], '\0');
        if (!part["filename"] && !part["content_type_line"]) {
            EXPECT_EQ(value, without_trailing_line_breaks(part["value"].value_or("<none>")));
        } else {
            EXPECT_EQ(std::to_string(value.size()), part["length"].value_or(""));
            EXPECT_EQ(sha256_hex(value), part["sha256"].value_or(""));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Clients, Corpus, testing::ValuesIn(corpus_cases()), corpus_case_name);
