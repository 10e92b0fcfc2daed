// The text codecs: %XX decoding, '+' and space, hex digits, escaping and searches.
#include <string>

#include "request_test_support.h"

namespace {

std::string decoded(std::string text) {
    CgiRequest::url_decode(text.data());
    return text.c_str();
}

std::string percent_escaped(std::string text) {
    text.resize(text.size() * 3 + 1);
    EXPECT_TRUE(CgiRequest::escape_percent(text.data(), text.size()));
    return text.c_str();
}

}  // namespace

TEST(Codecs, HexPairValueUsesUncheckedArithmetic) {
    EXPECT_EQ(CgiRequest::hex_pair_value("41"), 0x41);
    EXPECT_EQ(CgiRequest::hex_pair_value("2b"), 0x2B);
    EXPECT_EQ(CgiRequest::hex_pair_value("2B"), 0x2B);
    EXPECT_EQ(CgiRequest::hex_pair_value("zz"), 0x53);
    EXPECT_EQ(CgiRequest::hex_pair_value("G0"), 0x00);
    EXPECT_EQ(CgiRequest::hex_pair_value("%%"), 0x45);
    EXPECT_EQ(CgiRequest::hex_pair_value("ff"), 0xFF);
}

TEST(Codecs, UrlDecodeTakesTwoCharactersAfterEachPercent) {
    EXPECT_EQ(decoded("100%25"), "100%");
    EXPECT_EQ(decoded("%41%42C"), "ABC");
    EXPECT_EQ(decoded("%zz"), "S");
    EXPECT_EQ(decoded("a+b%2B"), "a+b+");
    EXPECT_EQ(decoded("%00tail"), "");
}

TEST(Codecs, UrlDecodeKeepsAPercentCutShortByTheEnd) {
    // Nothing after the terminator is read: a short tail stays as it is.
    EXPECT_EQ(decoded("50%"), "50%");
    EXPECT_EQ(decoded("x%4"), "x%4");
    EXPECT_EQ(decoded("%"), "%");
}

TEST(Codecs, PlusAndSpaceSwapInPlace) {
    char text[] = "a+b c+";
    CgiRequest::plus_to_space(text);
    EXPECT_STREQ(text, "a b c ");
    CgiRequest::space_to_plus(text);
    EXPECT_STREQ(text, "a+b+c+");
}

TEST(Codecs, HexDigitsAreUpperCase) {
    EXPECT_EQ(CgiRequest::hex_high(0xAF), 'A');
    EXPECT_EQ(CgiRequest::hex_low(0xAF), 'F');
    EXPECT_EQ(CgiRequest::hex_high(0x09), '0');
    EXPECT_EQ(CgiRequest::hex_low(0x09), '9');
}

TEST(Codecs, IndexOfNeverMatchesTheTerminator) {
    EXPECT_EQ(CgiRequest::index_of("abc", 'c'), 2);
    EXPECT_EQ(CgiRequest::index_of("abc", 'z'), -1);
    EXPECT_EQ(CgiRequest::index_of("abc", '\0'), -1);
}

TEST(Codecs, EscapePercentCoversTheShellAndMarkupSet) {
    EXPECT_EQ(percent_escaped("a b&c"), "a%20b%26c");
    EXPECT_EQ(percent_escaped("<x>"), "%3Cx%3E");
    EXPECT_EQ(percent_escaped("50%+=,#\xC3\xBC"), "50%+=,#\xC3\xBC");
    EXPECT_EQ(percent_escaped("&;`'\"|*?~<>^()[]{}$\\ "),
              "%26%3B%60%27%22%7C%2A%3F%7E%3C%3E%5E%28%29%5B%5D%7B%7D%24%5C%20");
}

TEST(Codecs, EscapeBackslashLeavesTheSpace) {
    char text[32] = "a b&c$";
    ASSERT_TRUE(CgiRequest::escape_backslash(text, sizeof text));
    EXPECT_STREQ(text, "a b\\&c\\$");
}

TEST(Codecs, EscapersLeaveATextThatWouldNotFitUnchanged) {
    char text[8] = "a b c";  // needs 10 bytes escaped
    EXPECT_FALSE(CgiRequest::escape_percent(text, sizeof text));
    EXPECT_STREQ(text, "a b c");
    char one_short[9] = "a b c";
    EXPECT_FALSE(CgiRequest::escape_percent(one_short, sizeof one_short));
    char enough[10] = "a b c";
    EXPECT_TRUE(CgiRequest::escape_percent(enough, sizeof enough));
    EXPECT_STREQ(enough, "a%20b%20c");
    char tight[4] = "&&&";
    EXPECT_FALSE(CgiRequest::escape_backslash(tight, sizeof tight));
    EXPECT_STREQ(tight, "&&&");
}

TEST(Codecs, FindTextLooksOnlyAtTheFirstNPositions) {
    const char text[] = "hello world";
    EXPECT_EQ(CgiRequest::find_text(text, 11, "world"), text + 6);
    EXPECT_EQ(CgiRequest::find_text(text, 6, "world"), nullptr);
    EXPECT_EQ(CgiRequest::find_text(text, 7, "world"), text + 6);
    EXPECT_EQ(CgiRequest::find_text("abX", 3, "abc"), nullptr);
}
