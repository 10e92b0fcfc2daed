// The pair table, filled from the query string and from a URL-encoded body on standard input.
#include <cstring>
#include <string>
#include <vector>

#include "request_test_support.h"

namespace {

Pairs query_pairs(const char* query) {
    set_cgi_env({{"QUERY_STRING", query}});
    return all_pairs(*make_request());
}

std::unique_ptr<CgiRequest> url_encoded_post(
    const std::string& body, std::string declared = "",
    RequestOptions options = RequestOptions::as_designed()) {
    set_post_env("application/x-www-form-urlencoded",
                 declared.empty() ? std::to_string(body.size()) : declared);
    feed_stdin(body);
    return make_request({"/srv/cgi-bin/apply.cgi"}, options);
}

Pairs body_pairs(const std::string& body, std::string declared = "") {
    return all_pairs(*url_encoded_post(body, std::move(declared)));
}

}  // namespace

TEST(QueryPairs, ItemsSplitAtAmpersandAndFirstEquals) {
    EXPECT_EQ(query_pairs("a=1&b=2"), (Pairs{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(query_pairs("a&b=1"), (Pairs{{"a", ""}, {"b", "1"}}));
    EXPECT_EQ(query_pairs("a=1&&b=2"), (Pairs{{"a", "1"}, {"", ""}, {"b", "2"}}));
    EXPECT_EQ(query_pairs("a=1&"), (Pairs{{"a", "1"}}));
    EXPECT_EQ(query_pairs("&"), (Pairs{{"", ""}}));
    EXPECT_EQ(query_pairs("="), Pairs{});
    EXPECT_EQ(query_pairs("=v"), (Pairs{{"", "v"}}));
    EXPECT_EQ(query_pairs("a==b"), (Pairs{{"a", "=b"}}));
    EXPECT_EQ(query_pairs("x=1%26y%3D2"), (Pairs{{"x", "1"}, {"y", "2"}}));
    EXPECT_EQ(query_pairs(""), Pairs{});
}

TEST(PairTable, LookupsTakeTheFirstExactMatch) {
    set_cgi_env({{"QUERY_STRING", "a=1&a=2&name=x&=v"}});
    auto request = make_request();
    EXPECT_STREQ(request->get_value("a"), "1");
    EXPECT_EQ(request->get_value("Name"), nullptr);
    EXPECT_STREQ(request->get_value(""), "v");
    EXPECT_EQ(request->get_value("missing"), nullptr);
    EXPECT_EQ(request->pair_count(), 4);
}

TEST(PairTable, GetFileOnATextFieldGivesEmptyFileTexts) {
    set_cgi_env({{"QUERY_STRING", "mail=x%40y"}});
    auto request = make_request();
    std::int32_t length = -1;
    char file_name[SCRATCH_SIZE] = "untouched";
    char file_type[SCRATCH_SIZE] = "untouched";
    EXPECT_STREQ(request->get_file("mail", &length, file_name, file_type), "x@y");
    EXPECT_EQ(length, 3);
    EXPECT_STREQ(file_name, "");
    EXPECT_STREQ(file_type, "");

    length = -1;
    EXPECT_EQ(request->get_file("none", &length, file_name, file_type), nullptr);
    EXPECT_EQ(length, -1);
}

TEST(PairTable, GetFileWithCapacitiesNeverWritesPastABuffer) {
    MultipartBody form;
    const std::string long_name(100, 'n');
    const std::string body = form.file("cv", long_name, "text/plain", "abc").close();
    auto request = multipart_request(form, body);
    char file_name[32];
    char file_type[32];
    std::memset(file_name, 'Z', sizeof file_name);
    std::memset(file_type, 'Z', sizeof file_type);
    std::int32_t length = -1;
    ASSERT_NE(request->get_file("cv", &length, file_name, 16, file_type, 8), nullptr);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(std::string(file_name), long_name.substr(0, 15));
    EXPECT_EQ(std::string(file_type), "Content");
    EXPECT_EQ(std::string(file_name + 16, 16), std::string(16, 'Z'));
    EXPECT_EQ(std::string(file_type + 8, 24), std::string(24, 'Z'));
    EXPECT_TRUE(request->truncated(Limit::buffer));
    // Arrays passed as such carry their size: a 16-byte array is never overrun.
    char short_name[16];
    char short_type[16];
    ASSERT_NE(request->get_file("cv", &length, short_name, short_type), nullptr);
    EXPECT_EQ(std::string(short_name), long_name.substr(0, 15));
    EXPECT_EQ(std::string(short_type), "Content-Type: t");
    EXPECT_FALSE(request->truncated(Limit::name));
    // A file name longer than the library keeps is cut, and said to be.
    MultipartBody longer;
    const std::string longer_body = longer.file("cv", std::string(5000, 'f'), "", "x").close();
    request = multipart_request(longer, longer_body);
    EXPECT_EQ(upload(*request, "cv").file_name, std::string(SCRATCH_SIZE - 1, 'f'));
    EXPECT_TRUE(request->truncated(Limit::name));
    // A capacity of 0 or a null buffer gets nothing.
    EXPECT_NE(request->get_file("cv", nullptr, file_name + 16, 0, nullptr, 0), nullptr);
    EXPECT_EQ(file_name[16], 'Z');
}

TEST(PairTable, NextPairWalksOnceInOrderAndCutsToTheBuffers) {
    set_cgi_env({{"QUERY_STRING", "first=1&second=22222&third=3"}});
    auto request = make_request();
    char name[4];
    char value[3];
    std::string seen;
    while (request->next_pair(name, value)) seen += std::string(name) + "=" + value + ";";
    EXPECT_EQ(seen, "fir=1;sec=22;thi=3;");
    EXPECT_FALSE(request->next_pair(name, value));
    EXPECT_TRUE(request->truncated(Limit::buffer));
    EXPECT_FALSE(request->truncated(Limit::query));
}

TEST(PairTable, AnEmptyRequestHasNoPairs) {
    set_cgi_env({});
    auto request = make_request();
    EXPECT_EQ(request->pair_count(), -1);
    EXPECT_EQ(request->get_value("name"), nullptr);
    EXPECT_EQ(request->pair_count(), 0);
}

TEST(PairTable, StopsAtMaxPairsAndSaysSoUnlessTheLimitIsRaised) {
    std::string body;
    for (int i = 0; i < 1100; ++i) body += "k" + std::to_string(i) + "=" + std::to_string(i) + "&";
    body.pop_back();
    auto request = url_encoded_post(body);
    EXPECT_STREQ(request->get_value("k1023"), "1023");
    EXPECT_EQ(request->get_value("k1024"), nullptr);
    EXPECT_EQ(request->pair_count(), MAX_PAIRS);
    EXPECT_TRUE(request->truncated(Limit::pairs));

    RequestOptions raised;
    raised.max_pairs = 1100;
    request = url_encoded_post(body, "", raised);
    EXPECT_STREQ(request->get_value("k1099"), "1099");
    EXPECT_FALSE(request->truncated());
    // A query of the same pairs: cut at 4094 characters unless raised, and said so.
    set_cgi_env({{"QUERY_STRING", body}});
    EXPECT_TRUE(make_request()->truncated(Limit::query));
    raised.max_query_chars = body.size();
    EXPECT_STREQ(make_request({"prog"}, raised)->get_value("k1099"), "1099");
}

TEST(UrlEncodedBody, ItemsAreDecodedAndCountedAgainstTheLength) {
    auto request = url_encoded_post("name=J+Doe&note=a%21b");
    EXPECT_EQ(all_pairs(*request), (Pairs{{"name", "J Doe"}, {"note", "a!b"}}));
    EXPECT_LE(request->content_length(), 0);

    EXPECT_EQ(body_pairs("a=1&&b=2"), (Pairs{{"a", "1"}, {"", ""}, {"b", "2"}}));
    EXPECT_EQ(body_pairs("k%3Dv=1"), (Pairs{{"k", "v=1"}}));
}

TEST(UrlEncodedBody, ReadingStopsAtTheDeclaredLengthOrTheEndOfInput) {
    EXPECT_EQ(body_pairs("a=1", "10"), (Pairs{{"a", "1"}}));
    EXPECT_EQ(body_pairs("a=1&b=2", "5"), (Pairs{{"a", "1"}, {"b", ""}}));
    EXPECT_EQ(body_pairs("a=1", "0"), Pairs{});
    EXPECT_EQ(body_pairs("a=1", "-4"), Pairs{});
}

TEST(UrlEncodedBody, ADecodedNulEndsTheValue) {
    auto request = url_encoded_post("a=x%00y");
    std::int32_t length = -1;
    EXPECT_STREQ(request->get_file("a", &length, nullptr, 0, nullptr, 0), "x");
    EXPECT_EQ(length, 1);
}

TEST(UrlEncodedBody, OverlongItemsAndNamesAreCutAndTheNextItemStillParses) {
    const std::string long_value(200000, 'v');
    const std::string long_name(5000, 'n');
    auto request = url_encoded_post("big=" + long_value + "&" + long_name + "=1&after=ok");
    std::int32_t length = 0;
    ASSERT_NE(request->get_file("big", &length, nullptr, 0, nullptr, 0), nullptr);
    EXPECT_EQ(length, static_cast<std::int32_t>(MAX_VALUE_BYTES - 4));
    EXPECT_STREQ(request->get_value(long_name.substr(0, SCRATCH_SIZE - 1).c_str()), "1");
    EXPECT_STREQ(request->get_value("after"), "ok");
    EXPECT_TRUE(request->truncated(Limit::value) && request->truncated(Limit::name));

    RequestOptions raised;
    raised.max_value_bytes = 300000;
    raised.max_name_bytes = long_name.size() + 1;
    request = url_encoded_post("big=" + long_value + "&" + long_name + "=1", "", raised);
    EXPECT_EQ(request->get_value("big"), long_value);
    EXPECT_STREQ(request->get_value(long_name.c_str()), "1");
    EXPECT_FALSE(request->truncated());
    // The same names in a query: cut and said so by default, whole when the limit is raised.
    const std::string query = long_name + "=1&" + long_name + "x=2";
    set_cgi_env({{"QUERY_STRING", query}});
    raised.max_query_chars = query.size();
    request = make_request({"prog"}, raised);
    EXPECT_STREQ(request->get_value((long_name + "x").c_str()), "2");
    EXPECT_FALSE(request->truncated());
    raised.max_name_bytes = MAX_NAME_BYTES;
    request = make_request({"prog"}, raised);
    EXPECT_STREQ(request->get_value(long_name.substr(0, MAX_NAME_BYTES).c_str()), "1");
    EXPECT_TRUE(request->truncated(Limit::name));
}

TEST(UrlEncodedBody, GetMethodWithUrlEncodedTypeIgnoresTheQuery) {
    set_cgi_env({{"REQUEST_METHOD", "GET"},
                 {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                 {"CONTENT_LENGTH", "3"},
                 {"QUERY_STRING", "q=1"}});
    feed_stdin("b=2");
    auto request = make_request();
    EXPECT_EQ(all_pairs(*request), (Pairs{{"b", "2"}}));
}
