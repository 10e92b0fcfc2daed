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

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> corpus_cases() {
    std::vector<std::string> names;
    if (DIR* dir = opendir(CORPUS_DIR)) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name[0] != '.' && std::ifstream(CORPUS_DIR "/" + name + "/body.bin")) {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

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
    const JsonValue headers = JsonReader(read_file(dir + "/headers.json")).value();
    const JsonValue expected = JsonReader(read_file(dir + "/expected.json")).value();
    const std::string body = read_file(dir + "/body.bin");
    ASSERT_EQ(body.size(), static_cast<std::size_t>(headers["content_length"].number));

    set_cgi_env({{"REQUEST_METHOD", "POST"},
                 {"CONTENT_TYPE", headers["content_type"].text},
                 {"CONTENT_LENGTH", std::to_string(body.size())}});
    feed_stdin(body);
    auto request = make_request();
    request->collect_pairs();

    const std::vector<JsonValue>& parts = expected["parts"].items;
    ASSERT_EQ(request->pair_count, static_cast<std::int32_t>(parts.size()));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const JsonValue& part = parts[i];
        const FormPair& pair = request->pairs[i];
        const std::string value(pair.value, static_cast<std::size_t>(pair.value_len));
        SCOPED_TRACE(part["name"].text);
        EXPECT_EQ(pair.name, part["name"].text);
        EXPECT_EQ(pair.file_name, part["filename"].text);
        EXPECT_EQ(pair.file_type, part["content_type_line"].text);
        EXPECT_EQ(pair.value[pair.value_len], '\0');
        if (part["filename"].is_null() && part["content_type_line"].is_null()) {
            EXPECT_EQ(value, without_trailing_line_breaks(part["value"].text));
        } else {
            EXPECT_EQ(value.size(), static_cast<std::size_t>(part["length"].number));
            EXPECT_EQ(sha256_hex(value), part["sha256"].text);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Clients, Corpus, testing::ValuesIn(corpus_cases()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });
