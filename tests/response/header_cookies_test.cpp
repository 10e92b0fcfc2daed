// Response header and cookies: the header bytes, the cookie line, the default expiry and reading
// cookies back from HTTP_COOKIE.
#include <cstring>
#include <ctime>
#include <string>

#include "response_test_support.h"

namespace {

std::string expiry_at(std::time_t now) {
    char text[256];
    CgiRequest::default_expiry(now, text, sizeof text);
    return text;
}

// Writes the header and returns it with the default expiry it must carry; repeats in the rare
// case that the clock passed midnight while the header was being written.
std::string header_and_expiry(CgiRequest& request, std::string& expiry) {
    for (;;) {
        const std::time_t before = std::time(nullptr);
        std::string header = captured_stdout([&] { request.print_header(); });
        expiry = expiry_at(before);
        if (expiry == expiry_at(std::time(nullptr))) return header;
    }
}

}  // namespace

TEST(DefaultExpiry, NamesTheWeekdayOfTheDateFiveHundredYearsOn) {
    struct Case {
        std::time_t now;
        const char* expiry;
    };
    const Case cases[] = {
        {1796657400, "Sat, 07-Dec-2526 00:00:00 GMT"},  // Mon 7 Dec 2026, 15:30
        {1772668800, "Tue, 05-Mar-2526 00:00:00 GMT"},  // day of the month keeps two digits
        {1835481599, "Sun, 29-Feb-2528 00:00:00 GMT"},  // last second of a leap day
        {0, "Wed, 01-Jan-2470 00:00:00 GMT"},
        {-1, "Tue, 31-Dec-2469 00:00:00 GMT"},  // before the epoch: the earlier day
    };
    for (const Case& c : cases) EXPECT_EQ(expiry_at(c.now), c.expiry) << "at " << c.now;
}

TEST_F(ResponseTest, HeaderWithoutCookieIsContentTypeAndEmptyLine) {
    EXPECT_EQ(captured_stdout([&] { request.print_header(); }), "Content-type: text/html\n\n");
    EXPECT_TRUE(request.header_sent);
    // Not guarded: a second call writes the whole header again.
    EXPECT_EQ(captured_stdout([&] { request.print_header(); }), "Content-type: text/html\n\n");
    EXPECT_EQ(captured_stdout([&] { request.print_gif_header(); }), "Content-type: image/gif\n\n");
}

// The cookies as SetCookie keeps them, each "name=value" joined by ", ".
std::string cookie_pairs(const CgiRequest& request) {
    std::string pairs;
    for (const ResponseCookie& cookie : request.cookies)
        pairs += (pairs.empty() ? "" : ", ") + cookie.pair;
    return pairs;
}

TEST_F(ResponseTest, EachCookieHasALineOfItsOwnWithItsOwnAttributes) {
    request.SetCookie("a", "1");
    std::string expiry;
    std::string header = header_and_expiry(request, expiry);
    EXPECT_EQ(header, "Set-Cookie: a=1; expires=" + expiry + "\nContent-type: text/html\n\n");

    request.SetCookie("b", "2");
    request.SetCookie("c", "3", "example.org", nullptr, false);
    request.SetCookie("d", "4", nullptr, "/", true);
    header = header_and_expiry(request, expiry);
    EXPECT_EQ(header, "Set-Cookie: a=1; expires=" + expiry + "\nSet-Cookie: b=2; expires=" +
                          expiry + "\nSet-Cookie: c=3; expires=" + expiry +
                          "; domain=example.org\nSet-Cookie: d=4; expires=" + expiry +
                          "; path=/; secure\nContent-type: text/html\n\n");
}

TEST_F(ResponseTest, CookieAttributesAreCopiedAndWrittenInAFixedOrder) {
    {
        // The texts die before the header is written: the request keeps copies.
        std::string domain = "example.org";
        std::string path = "/jobs";
        request.SetCookie("e", "5", domain.c_str(), path.c_str(), false);
        std::string root = "/";
        CookieOptions options;
        options.path = root.c_str();
        options.secure = true;
        options.http_only = true;
        options.same_site = SameSite::lax;
        request.SetCookie("f", "6", options);
        options = CookieOptions{};
        options.same_site = SameSite::strict;
        request.SetCookie("g", "7", options);
        options.same_site = SameSite::none;
        options.domain = "evil.org\r\nLocation: /x";  // would end the line: left out
        options.path = "/a;b";                        // would start another attribute: left out
        request.SetCookie("h", "8", options);
        domain.assign(64, 'x');
        path.assign(64, 'y');
        root.assign(64, 'z');
    }
    request.cookie_expires = "Thu, 01-Jan-2099 00:00:00 GMT";
    EXPECT_EQ(captured_stdout([&] { request.print_gif_header(); }),
              "Set-Cookie: e=5; expires=Thu, 01-Jan-2099 00:00:00 GMT; domain=example.org; "
              "path=/jobs\n"
              "Set-Cookie: f=6; expires=Thu, 01-Jan-2099 00:00:00 GMT; path=/; secure; HttpOnly; "
              "SameSite=Lax\n"
              "Set-Cookie: g=7; expires=Thu, 01-Jan-2099 00:00:00 GMT; SameSite=Strict\n"
              "Set-Cookie: h=8; expires=Thu, 01-Jan-2099 00:00:00 GMT; SameSite=None\n"
              "Content-type: image/gif\n\n");
}

TEST_F(ResponseTest, CookieNamesAndValuesAreEscapedExceptCommaAndEquals) {
    request.SetCookie("color", "dark red");
    request.SetCookie("v", "x,y=1");
    request.SetCookie("my;id", "<b>");
    EXPECT_EQ(cookie_pairs(request), "color=dark%20red, v=x,y=1, my%3Bid=%3Cb%3E");
}

TEST_F(ResponseTest, ControlBytesInACookieCannotStartAHeaderLineOfTheirOwn) {
    request.SetCookie("a\nb", "x\r\nLocation: /elsewhere\x7F");
    std::string expiry;
    std::string header = header_and_expiry(request, expiry);
    EXPECT_EQ(header, "Set-Cookie: a%0Ab=x%0D%0ALocation:%20/elsewhere%7F; expires=" + expiry +
                          "\nContent-type: text/html\n\n");

    // What the browser sends back decodes to the bytes that were set.
    setenv("HTTP_COOKIE", "a%0Ab=x%0D%0ALocation:%20/elsewhere%7F", 1);
    char value[SCRATCH_SIZE];
    ASSERT_TRUE(request.get_cookie("a\nb", value));
    EXPECT_STREQ(value, "x\r\nLocation: /elsewhere\x7F");
    unsetenv("HTTP_COOKIE");
}

TEST_F(ResponseTest, LongCookiePartsAreCutToWhatTheirEscapedFormAllows) {
    // Names and values keep at most 1024 bytes before escaping.
    const std::string long_name(2000, 'n');
    request.SetCookie(long_name.c_str(), "v");
    EXPECT_EQ(cookie_pairs(request), std::string(1024, 'n') + "=v");

    // 512 "x " pairs escape to 2048 bytes, two more than the work area holds: the last byte goes.
    std::string spaced;
    for (int i = 0; i < 700; ++i) spaced += "x ";
    std::string expected;
    for (int i = 0; i < 511; ++i) expected += "x%20";
    request.SetCookie("s", spaced.c_str());
    const std::string list = cookie_pairs(request);
    EXPECT_EQ(list.substr(list.find(", s=") + 4), expected + "x");

    // The cut never splits an escape: "a" and 681 "%3B" fill 2044 of the 2046 bytes.
    const std::string semicolons = "a" + std::string(1023, ';');
    std::string escaped = "a";
    for (int i = 0; i < 681; ++i) escaped += "%3B";
    request.SetCookie(semicolons.c_str(), "1");
    const std::string longer = cookie_pairs(request);
    EXPECT_EQ(longer.substr(longer.rfind(", a") + 2), escaped + "=1");
}

struct CookieLookup {
    const char* http_cookie;
    const char* wanted;
    const char* value;  // null: not found
};

class GetCookie : public ResponseTest, public testing::WithParamInterface<CookieLookup> {};

TEST_P(GetCookie, SplitsAtSemicolonOrCommaAndDecodes) {
    const CookieLookup& lookup = GetParam();
    setenv("HTTP_COOKIE", lookup.http_cookie, 1);
    char out[SCRATCH_SIZE] = "untouched";
    const bool found = request.get_cookie(lookup.wanted, out);
    unsetenv("HTTP_COOKIE");
    if (lookup.value) {
        EXPECT_TRUE(found);
        EXPECT_STREQ(out, lookup.value);
    } else {
        EXPECT_FALSE(found);
        EXPECT_STREQ(out, "untouched");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cookies, GetCookie,
    testing::Values(CookieLookup{"a=1; b=2", "a", "1"}, CookieLookup{"a=1; b=2", "b", "2"},
                    CookieLookup{"a=1; b=2", "c", nullptr}, CookieLookup{"", "a", nullptr},
                    CookieLookup{"a=", "a", ""}, CookieLookup{"a=1,b=2", "b", "2"},
                    CookieLookup{"a=1;b=2", "b", "2"}, CookieLookup{"a=1 ; b=2", "a", "1 "},
                    CookieLookup{"a=1 ; b=2", "b", "2"}, CookieLookup{"a=1;\t \tb=2", "b", "2"},
                    CookieLookup{"a=1; a=2", "a", "2"}, CookieLookup{"flag; a=1", "a", nullptr},
                    CookieLookup{"flag; a=1", "flag; a", "1"}, CookieLookup{" a=1", "a", nullptr},
                    CookieLookup{"my%20id=%41%42", "my id", "AB"},
                    CookieLookup{"my%20id=%41%42", "my%20id", nullptr},
                    CookieLookup{"x=1=2", "x", "1=2"}));

TEST_F(ResponseTest, GetCookieWithoutHttpCookieLeavesTheBufferAlone) {
    char out[SCRATCH_SIZE] = "untouched";
    EXPECT_FALSE(request.get_cookie("a", out));
    EXPECT_STREQ(out, "untouched");
}

TEST_F(ResponseTest, GetCookieReadsOnlyTheFirst4095BytesOfHttpCookie) {
    const std::string header = "a=" + std::string(5000, 'x') + "; b=2";
    setenv("HTTP_COOKIE", header.c_str(), 1);
    char out[SCRATCH_SIZE];
    EXPECT_TRUE(request.get_cookie("a", out));
    EXPECT_EQ(std::strlen(out), 4093u);
    EXPECT_FALSE(request.get_cookie("b", out));

    // With the buffer's capacity, a long value is cut to fit and nothing past it is written.
    char small[32];
    std::memset(small, 'Z', sizeof small);
    const CgiRequest& const_request = request;
    EXPECT_TRUE(const_request.get_cookie("a", small, 16));
    EXPECT_EQ(std::string(small), std::string(15, 'x'));
    EXPECT_EQ(std::string(small + 16, 16), std::string(16, 'Z'));
    EXPECT_FALSE(const_request.get_cookie("a", small, 0));
    unsetenv("HTTP_COOKIE");
}
