// Response header and cookies: the header bytes, the cookie line, the default expiry and reading
// cookies back from HTTP_COOKIE.
#include <cstring>
#include <ctime>
#include <sstream>
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
    EXPECT_TRUE(request.header_sent());
    // Not guarded: a second call writes the whole header again.
    EXPECT_EQ(captured_stdout([&] { request.print_header(); }), "Content-type: text/html\n\n");
    EXPECT_EQ(captured_stdout([&] { request.print_gif_header(); }), "Content-type: image/gif\n\n");
}

// The "name=value" of each Set-Cookie line the request's header carries, joined by ", ".
std::string cookie_pairs(CgiRequest& request) {
    std::istringstream header(captured_stdout([&] { request.print_header(); }));
    std::string pairs;
    for (std::string line; std::getline(header, line);) {
        if (line.rfind("Set-Cookie: ", 0) != 0) continue;
        pairs += (pairs.empty() ? "" : ", ") + line.substr(12, line.find(';') - 12);
    }
    return pairs;
}

// The "name=value" a fresh request sends for one cookie.
std::string cookie_pair(const char* name, const char* value) {
    CgiRequest request{1, plain_visit_arguments()};
    request.SetCookie(name, value);
    return cookie_pairs(request);
}

TEST_F(ResponseTest, StatusRedirectTypeAndHeaderLinesGoFirstAndCannotSplitTheHeader) {
    EXPECT_FALSE(request.set_status(99));
    EXPECT_FALSE(request.set_status(500, "Oops\r\nX: y"));
    EXPECT_FALSE(request.redirect("/next\r\nX: y"));
    EXPECT_FALSE(request.redirect("/next", 200));
    EXPECT_FALSE(request.set_content_type("text/plain\n"));
    EXPECT_FALSE(request.set_content_type("text/plain", "utf-8; x=y"));
    EXPECT_FALSE(request.add_header("X-Bad Name", "1"));
    EXPECT_FALSE(request.add_header("Set-Cookie", "a=1"));
    EXPECT_FALSE(request.add_header("X-Note", "a\rb"));
    EXPECT_TRUE(request.redirect("/thanks?id=1"));
    EXPECT_TRUE(request.add_header("Cache-Control", "no-store"));
    EXPECT_TRUE(request.set_content_type("application/json", "utf-8"));
    EXPECT_TRUE(request.SetCookie("a", "1", CookieOptions{.expiry = Expiry::session}));
    EXPECT_EQ(captured_stdout([&] { request.print_header(); }),
              "Status: 303 See Other\nLocation: /thanks?id=1\nCache-Control: no-store\n"
              "Set-Cookie: a=1\nContent-type: application/json; charset=utf-8\n\n");
    // Once the header is out, nothing more can join it.
    EXPECT_FALSE(request.set_status(404));
    EXPECT_FALSE(request.add_header("X-Late", "1"));
    EXPECT_FALSE(request.SetCookie("late", "1"));
}

TEST_F(ResponseTest, EachCookieHasALineOfItsOwnWithItsOwnAttributes) {
    request.SetCookie("a", "1");
    request.SetCookie("b", "2");
    request.SetCookie("c", "3", "example.org", nullptr, false);
    request.SetCookie("d", "4", nullptr, "/", true);
    std::string expiry;
    const std::string header = header_and_expiry(request, expiry);
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
        options.max_age = 3600;
        options.expiry = Expiry::session;
        EXPECT_TRUE(request.SetCookie("h", "8", options));
        options.domain = "evil.org\r\nLocation: /x";  // would end the line: refused
        EXPECT_FALSE(request.SetCookie("i", "9", options));
        options.domain = nullptr;
        options.path = "/a;b";  // would start another attribute: refused
        EXPECT_FALSE(request.SetCookie("i", "9", options));
        EXPECT_TRUE(request.delete_cookie("old", CookieOptions{.path = root.c_str()}));
        domain.assign(64, 'x');
        path.assign(64, 'y');
        root.assign(64, 'z');
    }
    std::string expiry;
    const std::string header = header_and_expiry(request, expiry);
    EXPECT_EQ(header,
              "Set-Cookie: e=5; expires=" + expiry + "; domain=example.org; path=/jobs\n" +
                  "Set-Cookie: f=6; expires=" + expiry +
                  "; path=/; secure; HttpOnly; SameSite=Lax\n" +
                  "Set-Cookie: g=7; expires=" + expiry + "; SameSite=Strict\n" +
                  "Set-Cookie: h=8; Max-Age=3600; SameSite=None\n" +
                  "Set-Cookie: old=; expires=Thu, 01-Jan-1970 00:00:00 GMT; Max-Age=0; path=/\n" +
                  "Content-type: text/html\n\n");
}

TEST_F(ResponseTest, CookieNamesAndValuesAreEscapedExceptCommaAndEquals) {
    request.SetCookie("color", "dark red");
    request.SetCookie("v", "x,y=1");
    request.SetCookie("my;id", "<b>");
    EXPECT_EQ(cookie_pairs(request), "color=dark%20red, v=x,y=1, my%3Bid=%3Cb%3E");
    EXPECT_FALSE(request.truncated());
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

TEST_F(ResponseTest, LongCookiePartsAreCutSayingSoUnlessTheLimitIsRaised) {
    // Names and values keep at most 1024 bytes before escaping, whole escapes after it.
    const std::string long_name(2000, 'n');
    EXPECT_EQ(cookie_pair(long_name.c_str(), "v"), std::string(1024, 'n') + "=v");
    std::string semicolons(3000, ';');
    std::string escaped;
    for (int i = 0; i < 1024; ++i) escaped += "%3B";
    EXPECT_EQ(cookie_pair("a", semicolons.c_str()), "a=" + escaped);

    request.SetCookie("a", std::string(3000, 'v').c_str());
    EXPECT_TRUE(request.truncated(Limit::cookie));
    RequestOptions raised;
    raised.max_cookie_bytes = 4000;
    CgiRequest roomy(1, plain_visit_arguments(), raised);
    roomy.SetCookie("a", std::string(3000, 'v').c_str());
    EXPECT_EQ(cookie_pairs(roomy), "a=" + std::string(3000, 'v'));
    EXPECT_FALSE(roomy.truncated());
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

TEST_F(ResponseTest, TheCookieHeaderIsReadWholeAndBuffersAreNeverOverrun) {
    const std::string header = "a=" + std::string(5000, 'x') + "; b=2";
    setenv("HTTP_COOKIE", header.c_str(), 1);
    EXPECT_EQ(request.cookie("a"), std::string(5000, 'x'));
    EXPECT_EQ(request.cookie("b"), "2");
    EXPECT_FALSE(request.truncated());

    // Into a buffer, a long value is cut to fit, nothing past it is written, and it is said.
    char small[32];
    std::memset(small, 'Z', sizeof small);
    const CgiRequest& const_request = request;
    EXPECT_TRUE(const_request.get_cookie("a", small, 16));
    EXPECT_EQ(std::string(small), std::string(15, 'x'));
    EXPECT_EQ(std::string(small + 16, 16), std::string(16, 'Z'));
    EXPECT_TRUE(request.truncated(Limit::buffer));
    EXPECT_FALSE(const_request.get_cookie("a", small, 0));
    // An array's size is its capacity: a 16-byte array takes 15 bytes, whatever the value.
    char sixteen[16];
    EXPECT_TRUE(request.get_cookie("a", sixteen));
    EXPECT_EQ(std::string(sixteen), std::string(15, 'x'));
    unsetenv("HTTP_COOKIE");
}
