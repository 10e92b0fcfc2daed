// Every captured client body parses to exactly the parts the client sent: text fields without
// their trailing line breaks, uploads byte for byte.
#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mini_json.h"
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
    const std::string dir = std::string(CORPUS_DIR) + "/" + GetParam();
    JsonObject headers = FlatJsonReader(read_file(dir + "/headers.json")).object();
    const std::vector<JsonObject> parts =
        FlatJsonReader::array_of(read_file(dir + "/expected.json"), "parts");
    const std::string body = read_file(dir + "/body.bin");
    ASSERT_EQ(std::to_string(body.size()), headers["content_length"].value_or(""));

    set_cgi_env({{"REQUEST_METHOD", "POST"},
                 {"CONTENT_TYPE", headers["content_type"].value_or("")},
                 {"CONTENT_LENGTH", std::to_string(body.size())}});
    feed_stdin(body);
    auto request = make_request();
    request->collect_pairs();

    ASSERT_EQ(request->pair_count, static_cast<std::int32_t>(parts.size()));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        JsonObject part = parts[i];
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

INSTANTIATE_TEST_SUITE_P(Clients, Corpus, testing::ValuesIn(corpus_cases()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });
