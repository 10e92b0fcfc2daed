// Building a request: environment, program path, query string, test mode and the body read.
#include <sys/resource.h>

#include <climits>
#include <cstring>

#include "request_test_support.h"

TEST(Construction, MethodAndContentTypeDecideWherePairsComeFrom) {
    struct Case {
        const char* method;
        const char* type;
        bool post;          // as designed
        bool post_by_method;  // a new program's rule: only a POST of a form type
        bool multipart;
    };
    const Case cases[] = {
        {"post", nullptr, false, false, false},
        {"GET", "application/x-www-form-urlencoded", true, false, false},
        {"POST", "application/x-www-form-urlencoded; charset=UTF-8", true, true, false},
        {"POST", "Application/X-WWW-Form-Urlencoded", true, true, false},
        {"POST", nullptr, true, true, false},
        {"POST", "application/json", true, false, false},
        {"GET", "multipart/form-data; boundary=----xyz", true, true, true},
        {"POST", "Multipart/form-data; boundary=x", true, true, true},  // the type in any case
        {nullptr, "text/plain", false, false, false},
    };
    for (const Case& c : cases) {
        set_cgi_env({});
        if (c.method) setenv("REQUEST_METHOD", c.method, 1);
        if (c.type) setenv("CONTENT_TYPE", c.type, 1);
        feed_stdin("");
        auto request = make_request();
        const std::string label =
            std::string(c.method ? c.method : "-") + " " + (c.type ? c.type : "-");
        EXPECT_EQ(request->was_post(), c.post) << label;
        EXPECT_EQ(request->is_multipart(), c.multipart) << label;
        EXPECT_EQ(make_request({"prog"}, {})->was_post(), c.post_by_method) << label;
    }
}

TEST(Construction, OtherBodiesAreReadRawAndTheQueryStaysReadable) {
    const std::string json = R"({"name": "Jo", "tags": ["a&b=c"]})";
    set_post_env("application/json", std::to_string(json.size()));
    setenv("QUERY_STRING", "id=7&q=a+b%21", 1);
    feed_stdin(json);
    auto request = make_request({"prog"}, {});
    EXPECT_STREQ(request->get_value("id"), "7");  // the pairs come from the query
    EXPECT_EQ(request->raw_body(), json);
    EXPECT_EQ(request->raw_body(), json);  // read once, kept

    // A form body gives the pairs; the query is still there through its own accessor.
    set_post_env("application/x-www-form-urlencoded", "3");
    setenv("QUERY_STRING", "id=7&q=a+b%21", 1);
    feed_stdin("a=1");
    request = make_request({"prog"}, {});
    EXPECT_STREQ(request->get_value("a"), "1");
    EXPECT_EQ(request->get_value("id"), nullptr);
    EXPECT_EQ(request->query_value("q"), "a b!");
    EXPECT_EQ(request->query_value("none"), std::nullopt);
    EXPECT_EQ(request->raw_body(), "");

    // A body over the limit is not read.
    set_post_env("application/json", std::to_string(json.size()));
    feed_stdin(json);
    request = make_request({"prog"}, {.max_body_bytes = 8});
    EXPECT_TRUE(request->body_too_large());
    EXPECT_EQ(request->raw_body(), "");
}

TEST(Construction, BoundaryParameterIsReadAsMediaTypesAreWritten) {
    struct Case {
        const char* type;
        const char* boundary;  // null: not multipart
    };
    const Case cases[] = {
        // The fixed form: everything after "boundary=" (or after any 30th character).
        {"multipart/form-data; boundary=----xyz", "----xyz"},
        {"multipart/form-data; boundary=a b ", "a b "},
        {"multipart/form-data; boundaryXabc", "abc"},
        // Parameters in any order and case, spaces around ';' and '=', a later parameter apart.
        {"multipart/form-data; boundary=abc; charset=x", "abc"},
        {"multipart/form-data;boundary=abc", "abc"},
        {"Multipart/Form-Data; charset=UTF-8; BOUNDARY = abc ;x=y", "abc"},
        {" multipart/form-data ;\tboundary=abc", "abc"},
        {"multipart/form-data; foo; boundary=abc", "abc"},
        {"multipart/form-data; boundary=abc; boundary=def", "abc"},
        // Quoted: unquoted, with '\' escapes; what follows the closing quote is not part of it.
        {"multipart/form-data; boundary=\"a;b c\"", "a;b c"},
        {"multipart/form-data; boundary=\"a\\\"b\\\\c\"x; y=1", "a\"b\\c"},
        {"multipart/form-data; boundary=\"unclosed", "unclosed"},
        {"multipart/form-data; boundary=\"\"", ""},
        // No boundary parameter, or another type: not multipart.
        {"multipart/form-data", nullptr},
        {"multipart/form-data; charset=x", nullptr},
        {"multipart/mixed; boundary=abc", nullptr},
        {"multipart/form-dataX; boundary=abc", nullptr},
        {"text/plain; boundary=abc", nullptr},
    };
    for (const Case& c : cases) {
        set_cgi_env({{"CONTENT_TYPE", c.type}});
        feed_stdin("");
        auto request = make_request();
        EXPECT_EQ(request->is_multipart(), c.boundary != nullptr) << c.type;
        if (!c.boundary) continue;
        EXPECT_STREQ(request->boundary(), c.boundary) << c.type;
        EXPECT_EQ(request->boundary_len(), static_cast<std::int32_t>(std::strlen(c.boundary)));
    }
}

TEST(Construction, ContentTypeEndingBeforeTheBoundaryFindsNoPairs) {
    for (const char* type : {"multipart/form-data; boundary", "multipart/form-data; boundary="}) {
        set_cgi_env({{"CONTENT_TYPE", type}, {"CONTENT_LENGTH", "9"}});
        feed_stdin("--\r\nabcde");
        auto request = make_request();
        EXPECT_TRUE(request->is_multipart());
        EXPECT_STREQ(request->boundary(), "");
        EXPECT_EQ(request->content_length(), 9);  // the body is still read
        EXPECT_EQ(request->get_value("a"), nullptr);
        EXPECT_EQ(request->pair_count(), 0);
    }
}

TEST(Construction, ContentLengthIsReadLikeAtoiButClamped) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"12abc", 12}, {"abc", 0}, {"  +7", 7}, {"-5", -5}, {"-99999999999", INT32_MIN}};
    for (const auto& [text, expected] : cases) {
        set_cgi_env({{"CONTENT_LENGTH", text}});
        EXPECT_EQ(make_request()->content_length(), expected) << text;
        EXPECT_FALSE(make_request()->body_too_large()) << text;
    }
    // Above MAX_BODY_SIZE (clamped or not) the body is refused unread, whatever its type.
    for (const char* text : {"134217729", "99999999999"}) {
        set_cgi_env(
            {{"CONTENT_LENGTH", text}, {"CONTENT_TYPE", "application/x-www-form-urlencoded"}});
        auto request = make_request();
        EXPECT_TRUE(request->body_too_large()) << text;
        EXPECT_EQ(request->content_length(), 0) << text;
    }
}

TEST(Construction, ScriptNameIsTheLastPathComponent) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\cgi-bin\\app.exe", "app.exe"}, {"/srv/cgi/app", "app"}, {"app", "app"}, {"", ""}};
    set_cgi_env({});
    for (const auto& [path, name] : cases) {
        EXPECT_STREQ(make_request(Args{path})->script_name(), name) << path;
    }
}

TEST(Construction, OverlongProgramPathIsCutToTheBuffer) {
    set_cgi_env({});
    const std::string path = "/" + std::string(1500, 'd') + "/apply.cgi";
    auto request = make_request(Args{path});
    EXPECT_EQ(std::strlen(request->script_path()), SCRIPT_PATH_SIZE - 1);
    EXPECT_EQ(path.compare(0, SCRIPT_PATH_SIZE - 1, request->script_path()), 0);
    EXPECT_EQ(std::string(request->script_name()), std::string(SCRIPT_PATH_SIZE - 2, 'd'));
}

TEST(Construction, QueryIsPlusConvertedThenDecoded) {
    set_cgi_env({{"QUERY_STRING", "a=1+2%2B3"}});
    EXPECT_STREQ(make_request()->query(), "a=1 2+3");

    setenv("QUERY_STRING", std::string(5000, 'q').c_str(), 1);
    EXPECT_EQ(std::strlen(make_request()->query()), MAX_QUERY_CHARS);
}

TEST(Construction, TestModeTakesTheQueryFromTheCommandLine) {
    set_cgi_env({{"REQUEST_METHOD", "POST"}, {"QUERY_STRING", "name=env"}});
    auto request = make_request(Args{"prog", "-test", "name=J%20Doe"});
    EXPECT_FALSE(request->was_post());
    EXPECT_STREQ(request->get_value("name"), "J Doe");

    EXPECT_STREQ(make_request(Args{"prog", "-t"})->query(), "");
    EXPECT_EQ(make_request(Args{"prog", "-t", "a=1+2"})->query_value("a"), "1 2");
    EXPECT_STREQ(make_request(Args{"prog", "-x", "a=1"})->query(), "name=env");
}

TEST(Construction, TestModeKeepsAMultipartBodyAlreadyRead) {
    MultipartBody form;
    set_cgi_env({{"CONTENT_TYPE", form.content_type()}, {"CONTENT_LENGTH", "4"}});
    feed_stdin("body");
    auto request = make_request(Args{"prog", "-t", "a=1"});
    EXPECT_TRUE(request->is_multipart());
    EXPECT_EQ(rest_of_stdin(), "");
    EXPECT_STREQ(request->get_value("a"), "1");
}

TEST(Construction, GetEnvLooksUpByIndex) {
    set_cgi_env({{"SERVER_NAME", "jobs.example"}, {"AUTH_TYPE", "Basic"}});
    auto request = make_request();
    EXPECT_STREQ(request->get_env(CgiEnv::SERVER_NAME), "jobs.example");
    EXPECT_STREQ(request->get_env(0), "Basic");
    EXPECT_EQ(request->get_env(CgiEnv::SERVER_SOFTWARE), nullptr);
    EXPECT_EQ(request->get_env(31), nullptr);
    EXPECT_EQ(request->get_env(-1), nullptr);
    EXPECT_STREQ(CGI_ENV_NAMES[30], "SERVER_SOFTWARE");
}

TEST(Construction, MultipartBodyIsReadToItsDeclaredLength) {
    MultipartBody form;
    set_cgi_env({{"CONTENT_TYPE", form.content_type()}, {"CONTENT_LENGTH", "5"}});
    feed_stdin("12345rest");
    auto request = make_request();
    EXPECT_FALSE(request->body_too_large());
    EXPECT_EQ(request->content_length(), 5);
    EXPECT_EQ(rest_of_stdin(), "rest");
}

TEST(Construction, ShortBodyReplacesTheDeclaredLength) {
    MultipartBody form;
    set_cgi_env({{"CONTENT_TYPE", form.content_type()}, {"CONTENT_LENGTH", "100"}});
    feed_stdin("short");
    EXPECT_EQ(make_request()->content_length(), 5);
}

// Every reader tells a body cut short from a whole one: the bytes that came stay readable, and
// body_incomplete() says they are not all.
TEST(Construction, EveryReaderFlagsABodyShorterThanItsLength) {
    MultipartBody form;
    const std::string whole = form.field("a", "1").close();
    struct Case {
        std::string type;
        std::string body;
        std::string declared;
        bool incomplete;
    };
    const Case cases[] = {
        {"application/json", R"({"a": 1})", "8", false},
        {"application/json", R"({"a": 1})", "100", true},
        {"application/x-www-form-urlencoded", "a=1&b=2", "7", false},
        {"application/x-www-form-urlencoded", "a=1&b=2", "100", true},
        {form.content_type(), whole, std::to_string(whole.size()), false},
        {form.content_type(), whole, std::to_string(whole.size() + 50), true},
    };
    for (const Case& c : cases) {
        set_post_env(c.type.c_str(), c.declared);
        feed_stdin(c.body);
        auto request = make_request({"prog"}, {});
        const std::string label = c.type + " declared " + c.declared;
        if (c.type == "application/json") {
            EXPECT_EQ(request->raw_body(), c.body) << label;
        } else {
            EXPECT_STREQ(request->get_value("a"), "1") << label;
        }
        EXPECT_EQ(request->body_incomplete(), c.incomplete) << label;
    }
}

// The pair table and query_value see the same characters of a query cut at its limit.
TEST(Construction, QueryValueAndPairsAgreeOnACutQuery) {
    std::string query;
    for (int i = 0; i < 5000; ++i) query += "k" + std::to_string(i) + "=v&";
    query += "last=1";
    set_cgi_env({{"QUERY_STRING", query}});
    auto request = make_request();
    EXPECT_TRUE(request->truncated(cgi::Limit::query));
    EXPECT_EQ(request->get_value("last"), nullptr);
    EXPECT_EQ(request->query_value("last"), std::nullopt);
    EXPECT_STREQ(request->get_value("k1"), "v");
    EXPECT_EQ(request->query_value("k1"), "v");
    const int pairs = request->pair_count();
    const std::string last_kept = "k" + std::to_string(pairs - 2);
    EXPECT_NE(request->get_value(last_kept.c_str()), nullptr);
    EXPECT_TRUE(request->query_value(last_kept.c_str()).has_value());
}

TEST(Construction, OutOfRangeLengthsAreRefusedUnread) {
    MultipartBody form;
    for (const char* length : {"-1", "134217729", "99999999999"}) {
        set_cgi_env({{"CONTENT_TYPE", form.content_type()}, {"CONTENT_LENGTH", length}});
        feed_stdin("--x");
        auto request = make_request();
        EXPECT_TRUE(request->body_too_large()) << length;
        EXPECT_EQ(request->get_value("a"), nullptr);
        EXPECT_EQ(rest_of_stdin(), "--x");
    }
}

TEST(Construction, LargestLengthIsAccepted) {
    MultipartBody form;
    set_cgi_env({{"CONTENT_TYPE", form.content_type()}, {"CONTENT_LENGTH", "134217728"}});
    feed_stdin("abc");
    auto request = make_request();
    EXPECT_FALSE(request->body_too_large());
    EXPECT_EQ(request->content_length(), 3);
}

TEST(Construction, UrlEncodedBodyIsLeftOnStandardInput) {
    set_cgi_env({{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "3"}});
    feed_stdin("a=1");
    auto request = make_request();
    EXPECT_FALSE(request->body_too_large());
    EXPECT_EQ(rest_of_stdin(), "a=1");
}
