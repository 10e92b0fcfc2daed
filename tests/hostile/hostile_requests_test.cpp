// A table of hostile requests against the built apply.cgi: each is answered with a page or the
// documented early end, never a crash or a sanitizer report, and nothing is written outside the
// store root.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store_checks.h"

namespace fs = std::filesystem;

namespace {

enum class Expect {
    kThankYou,         // stored; the resume is checked byte for byte
    kFormAgain,        // the form again with a "Please" message; nothing stored
    kCantCreate,       // the "Can't create" page; nothing stored
    kTooLarge,         // the "too large" page; nothing stored
    kStoredOrRefused,  // either stored completely, or refused with nothing stored
    kRefused,          // any page but "Thank You!"; nothing stored
    kPage,             // some page; nothing written outside the store root
    kPageOrEnd,        // some page, or the header alone (an unparsable multipart body)
};

struct Hostile {
    std::string what;
    std::function<CgiCall(TempTree&)> make;
    Expect expect;
    // For stored answers: the resume's path below the working directory and its bytes.
    std::string resume_path;
    std::string resume;
};

const std::string kResume = binary_content(3000, 7);

// Built on first use only: every test process builds the table, few rows need this.
const std::string& ten_megabytes() {
    static const std::string text(10 << 20, 'a');
    return text;
}

// CONTENT_LENGTH is `length`, or the body's size when not given.
CgiCall raw_multipart(const std::string& work, const std::string& body,
                      const std::optional<std::string>& length = std::nullopt,
                      const std::string& boundary = TEST_BOUNDARY) {
    return multipart_request(work, body, boundary, length);
}

CgiCall url_encoded(const std::string& work, const std::string& body,
                    const std::optional<std::string>& length = std::nullopt) {
    return post_request(work, body, "application/x-www-form-urlencoded", length);
}

// A GET without a query, run with `argument0` as its argument 0.
Hostile argument0_row(std::string what, std::string argument0) {
    return {std::move(what),
            [argument0](TempTree& tree) {
                CgiCall call = get_request(tree.work);
                call.argv = {argument0};
                return call;
            },
            Expect::kPage, "", ""};
}

// A submission whose name is `name`.
Hostile name_row(std::string what, std::string name, Expect expect) {
    std::string stored = "people/" + name.substr(0, name.find('\0')) + "/cv.txt";
    return {
        std::move(what),
        [name](TempTree& tree) { return submission(tree.work, application_parts(name, kResume)); },
        expect, stored, kResume};
}

// A submission whose directory value is `directory`; "@ROOT@" stands for the temporary root.
Hostile directory_row(std::string what, std::string directory, Expect expect,
                      std::vector<std::string> make_dirs = {}) {
    return {std::move(what),
            [directory, make_dirs](TempTree& tree) {
                std::string value = directory;
                if (auto at = value.find("@ROOT@"); at != std::string::npos)
                    value.replace(at, 6, tree.root);
                for (const std::string& dir : make_dirs)
                    fs::create_directories(tree.root + "/" + dir);
                return submission(tree.work, application_parts("Jo", kResume, value));
            },
            expect, "", ""};
}

// A complete submission with `parts` added before (or after) the application's own.
Hostile extra_parts_row(std::string what, std::vector<Part> extra, bool before, Expect expect) {
    return {std::move(what),
            [extra, before](TempTree& tree) {
                std::vector<Part> parts = application_parts("Jo", kResume);
                parts.insert(before ? parts.begin() : parts.end(), extra.begin(), extra.end());
                return submission(tree.work, parts);
            },
            expect, "people/Jo/cv.txt", kResume};
}

// A relative store root of exactly `length` bytes ("deep/ddd.../ddd"), created in the tree and
// declared a store root.
std::string long_root(TempTree& tree, std::size_t length) {
    std::string root = "deeps";
    while (root.size() < length) {
        std::size_t component = std::min<std::size_t>(200, length - root.size() - 1);
        if (component == 0) {  // one byte left: lengthen the last component instead
            root += "d";
            break;
        }
        root += "/" + std::string(component, 'd');
    }
    declare_store_root(tree.work + "/" + root);
    return root;
}

// A submission under a store root long enough that the applicant page's path
// (root "/" name "/index.html") is `page_path_length` bytes.
Hostile page_path_row(std::size_t page_path_length, Expect expect) {
    const std::string name(200, 'n');
    return {"applicant page path of " + std::to_string(page_path_length) + " bytes",
            [=](TempTree& tree) {
                std::string root = long_root(tree, page_path_length - name.size() - 12);
                return submission(tree.work, application_parts(name, kResume, root));
            },
            expect, "", ""};
}

// A submission whose store root is a `length`-byte path that exists.
Hostile root_length_row(std::size_t length, Expect expect) {
    return {"directory value of " + std::to_string(length) + " bytes",
            [=](TempTree& tree) {
                return submission(tree.work,
                                  application_parts("Jo", kResume, long_root(tree, length)));
            },
            expect, "", ""};
}

std::vector<Part> junk_parts(int count) {
    std::vector<Part> parts;
    for (int i = 0; i < count; ++i) parts.push_back({"junk" + std::to_string(i), "x", {}, {}});
    return parts;
}

// A submission with the CONTENT_LENGTH text `length` instead of the body's size.
Hostile length_row(std::string what, std::string length, Expect expect) {
    return {std::move(what),
            [length](TempTree& tree) {
                return raw_multipart(
                    tree.work, multipart_body(application_parts("Jo", kResume), TEST_BOUNDARY), length);
            },
            expect, "people/Jo/cv.txt", kResume};
}

std::vector<Hostile> hostile_requests() {
    const std::string body = multipart_body(application_parts("Jo", kResume), TEST_BOUNDARY);
    std::vector<Hostile> rows = {
        // Names that would reach outside the store root, or hold control bytes.
        name_row("name ..", "..", Expect::kFormAgain),
        name_row("name .", ".", Expect::kFormAgain),
        name_row("name ../escape", "../escape", Expect::kFormAgain),
        name_row("name ../../escape", "../../escape", Expect::kFormAgain),
        name_row("name with a slash", "a/b", Expect::kFormAgain),
        name_row("name with a backslash", "a\\..\\b", Expect::kFormAgain),
        name_row("name deep traversal", "../../../../../../../../../tmp/hardening-escape", Expect::kFormAgain),
        name_row("name with 0x01", "Jo\x01", Expect::kFormAgain),
        name_row("name with a tab", "Jo\tDoe", Expect::kFormAgain),
        name_row("name with a line feed inside", "Jo\nDoe", Expect::kFormAgain),
        name_row("name with DEL", "Jo\x7f", Expect::kFormAgain),
        name_row("name with ESC sequence", "\x1b[2JJo", Expect::kFormAgain),
        // Invisible format characters that make a name read as another, and their neighbours.
        name_row("name with U+202E right-to-left override", "Jo\xe2\x80\xae" "eoD", Expect::kFormAgain),
        name_row("name with U+202F narrow no-break space", "Jo\xe2\x80\xaf" "Doe", Expect::kFormAgain),
        name_row("name with U+2010 hyphen", "Jo\xe2\x80\x90" "Doe", Expect::kThankYou),
        name_row("name with U+FEFF cut short", "Jo\xef\xbb", Expect::kFormAgain),
        name_row("name with a NUL then traversal", std::string("Jo\0/../../x", 11), Expect::kStoredOrRefused),
        name_row("name ending in %", "Jo%", Expect::kThankYou),
        name_row("name ending in %4", "Jo%4", Expect::kThankYou),
        name_row("name with markup", "<b>Jo</b>&amp;\"'", Expect::kFormAgain),
        name_row("name 255 bytes", std::string(255, 'n'), Expect::kThankYou),
        name_row("name 256 bytes", std::string(256, 'n'), Expect::kFormAgain),
        {"name 10 MB",
         [](TempTree& tree) {
             return submission(tree.work, application_parts(ten_megabytes(), kResume));
         },
         Expect::kFormAgain, "", ""},
        name_row("name with high bytes", "J\xc3\xb6rg \xff\xfe", Expect::kFormAgain),
        // Store roots that are absolute, climb out, or hold empty or dot components.
        directory_row("directory empty", "", Expect::kCantCreate),
        directory_row("directory absolute", "@ROOT@/abs", Expect::kCantCreate, {"abs"}),
        directory_row("directory ..", "..", Expect::kCantCreate),
        directory_row("directory ../outside", "../outside", Expect::kCantCreate, {"outer/outside"}),
        directory_row("directory people/../..", "people/../..", Expect::kCantCreate),
        directory_row("directory people/.", "people/.", Expect::kCantCreate),
        directory_row("directory people//", "people//", Expect::kCantCreate),
        directory_row("directory backslash", "people\\..\\..", Expect::kCantCreate),
        directory_row("directory drive", "C:", Expect::kCantCreate),
        directory_row("directory drive path", "C:\\people", Expect::kCantCreate),
        directory_row("directory control byte", "peo\x01ple", Expect::kCantCreate, {"outer/work/peo\x01ple"}),
        {"directory 10 MB",
         [](TempTree& tree) {
             return submission(tree.work, application_parts("Jo", kResume, ten_megabytes()));
         },
         Expect::kFormAgain, "", ""},
        // The longest store root (1023 bytes) and paths past 1023 bytes are filed whole, never
        // cut; names of '#' (which would escape to three bytes each) are refused.
        root_length_row(1023, Expect::kThankYou),
        root_length_row(1024, Expect::kRefused),
        root_length_row(1025, Expect::kRefused),
        page_path_row(1023, Expect::kThankYou),
        page_path_row(1024, Expect::kThankYou),
        page_path_row(1025, Expect::kThankYou),
        name_row("name escaping to a 1023-byte link", std::string(341, '#'), Expect::kRefused),
        name_row("name escaping to a 1024-byte link", std::string(341, '#') + "a", Expect::kRefused),
        name_row("name escaping to a 1025-byte link", std::string(341, '#') + "ab", Expect::kRefused),
        // The 4096-byte scratch buffers: part names, file names and content-type lines.
        extra_parts_row("part name 4095 bytes", {{std::string(4095, 'p'), "v", {}, {}}}, true, Expect::kThankYou),
        extra_parts_row("part name 4096 bytes", {{std::string(4096, 'p'), "v", {}, {}}}, true, Expect::kStoredOrRefused),
        extra_parts_row("part name 4097 bytes", {{std::string(4097, 'p'), "v", {}, {}}}, true, Expect::kStoredOrRefused),
        {"part name 10 MB",
         [](TempTree& tree) {
             std::vector<Part> parts = application_parts("Jo", kResume);
             parts.insert(parts.begin(), {ten_megabytes(), "v", {}, {}});
             return submission(tree.work, parts);
         },
         Expect::kPageOrEnd, "people/Jo/cv.txt", kResume},
        extra_parts_row("file name 4095 bytes", {{"other", "v", std::string(4095, 'f'), "text/plain"}}, true, Expect::kThankYou),
        extra_parts_row("file name 4096 bytes", {{"other", "v", std::string(4096, 'f'), "text/plain"}}, true, Expect::kStoredOrRefused),
        extra_parts_row("file name 4097 bytes", {{"other", "v", std::string(4097, 'f'), "text/plain"}}, true, Expect::kStoredOrRefused),
        extra_parts_row("content type line 4095 bytes", {{"other", "v", "f", std::string(4095 - 14, 't')}}, true, Expect::kThankYou),
        extra_parts_row("content type line 4096 bytes", {{"other", "v", "f", std::string(4096 - 14, 't')}}, true, Expect::kStoredOrRefused),
        extra_parts_row("content type line 4097 bytes", {{"other", "v", "f", std::string(4097 - 14, 't')}}, true, Expect::kStoredOrRefused),
        // The pair table's 1024 entries and thousands of parts.
        // With 1020 parts before them the resume is the 1024th pair and the directory is lost
        // (the store root stays "people"); one more and the resume does not fit.
        extra_parts_row("1020 parts before the form", junk_parts(1020), true, Expect::kThankYou),
        extra_parts_row("1021 parts before the form", junk_parts(1021), true, Expect::kFormAgain),
        extra_parts_row("5000 parts after the form", junk_parts(5000), false, Expect::kThankYou),
        extra_parts_row("5000 parts before the form", junk_parts(5000), true, Expect::kPage),
        // Declared lengths that lie, in both directions, and huge and negative ones.
        length_row("length 100 bytes too long", std::to_string(body.size() + 100), Expect::kThankYou),
        length_row("length cut inside the closing line", std::to_string(body.size() - 4), Expect::kPageOrEnd),
        length_row("length cut inside the resume", std::to_string(body.size() - 1500), Expect::kPageOrEnd),
        length_row("length 1", "1", Expect::kPageOrEnd),
        length_row("length 0", "0", Expect::kPage),
        length_row("length -1", "-1", Expect::kTooLarge),
        length_row("length -2147483648", "-2147483648", Expect::kTooLarge),
        length_row("length 134217728 (the limit)", "134217728", Expect::kThankYou),
        length_row("length 134217729", "134217729", Expect::kTooLarge),
        length_row("length 2147483647", "2147483647", Expect::kTooLarge),
        length_row("length past 32 bits", "99999999999999999999", Expect::kTooLarge),
        length_row("length far negative", "-99999999999999999999", Expect::kPage),
        length_row("length not a number", "abc", Expect::kPage),
        length_row("length with trailing text", std::to_string(body.size()) + "abc", Expect::kThankYou),
        // Boundaries that are empty, missing, quoted or huge.
        {"content type without boundary text", [body](TempTree& tree) {
             CgiCall call = raw_multipart(tree.work, body);
             set_env(call, "CONTENT_TYPE", "multipart/form-data; boundary");
             return call;
         }, Expect::kPageOrEnd, "", ""},
        {"empty boundary", [](TempTree& tree) {
             std::string b = multipart_body(application_parts("Jo", kResume), "");
             return raw_multipart(tree.work, b, std::nullopt, "");
         }, Expect::kPageOrEnd, "", ""},
        {"quoted boundary", [body](TempTree& tree) {
             return raw_multipart(tree.work, body, std::nullopt, std::string("\"") + TEST_BOUNDARY + "\"");
         }, Expect::kThankYou, "people/Jo/cv.txt", kResume},
        {"boundary of 100000 bytes", [](TempTree& tree) {
             std::string boundary(100000, 'B');
             std::string b = multipart_body(application_parts("Jo", kResume), boundary);
             return raw_multipart(tree.work, b, std::nullopt, boundary);
         }, Expect::kThankYou, "people/Jo/cv.txt", kResume},
        // NUL bytes in every place of a multipart body.
        {"NUL in a part name", [](TempTree& tree) {
             auto parts = application_parts("Jo", kResume);
             parts[0].name = std::string("na\0me", 5);
             return submission(tree.work, parts);
         }, Expect::kPage, "", ""},
        {"NUL in the file name", [](TempTree& tree) {
             auto parts = application_parts("Jo", kResume);
             parts[3].file_name = std::string("cv\0/../../x.txt", 15);
             return submission(tree.work, parts);
         }, Expect::kStoredOrRefused, "people/Jo/cv", kResume},
        {"NUL in the Content-Disposition line", [body](TempTree& tree) {
             std::string b = body;
             b[b.find("form-data") + 4] = '\0';
             return raw_multipart(tree.work, b);
         }, Expect::kPageOrEnd, "", ""},
        {"NUL first in the resume", [](TempTree& tree) {
             return submission(tree.work, application_parts("Jo", std::string("\0abc", 4)));
         }, Expect::kFormAgain, "", ""},
        {"NUL in the directory value", [](TempTree& tree) {
             fs::create_directories(tree.root + "/outer/escape");
             return submission(tree.work, application_parts("Jo", kResume, std::string("people\0/../../escape", 20)));
         }, Expect::kStoredOrRefused, "people/Jo/cv.txt", kResume},
        {"NUL bytes throughout the body", [body](TempTree& tree) {
             std::string b = body;
             for (std::size_t i = 0; i < b.size(); i += 97) b[i] = '\0';
             return raw_multipart(tree.work, b);
         }, Expect::kPageOrEnd, "", ""},
        {"a preamble before the first boundary", [body](TempTree& tree) {
             std::string b = "preamble\r\n" + body;
             return raw_multipart(tree.work, b);
         }, Expect::kPageOrEnd, "", ""},
        {"bare line feeds throughout", [](TempTree& tree) {
             return multipart_request(
                 tree.work, multipart_body(application_parts("Jo", kResume), TEST_BOUNDARY, "\n"),
                 TEST_BOUNDARY);
         }, Expect::kThankYou, "people/Jo/cv.txt", kResume},
        // URL-encoded bodies and query strings: items at RAW_PAIR_BUF, '%' at the end, NULs.
        {"URL-encoded item of 131071 bytes", [](TempTree& tree) {
             std::string b = "name=" + std::string(131071 - 5, 'a') + "&mail=m";
             return url_encoded(tree.work, b);
         }, Expect::kPage, "", ""},
        {"URL-encoded item of 131072 bytes", [](TempTree& tree) {
             std::string b = "name=" + std::string(131072 - 5, 'a') + "&mail=m";
             return url_encoded(tree.work, b);
         }, Expect::kPage, "", ""},
        {"URL-encoded item of 131073 bytes", [](TempTree& tree) {
             std::string b = "name=" + std::string(131073 - 5, 'a') + "&mail=m";
             return url_encoded(tree.work, b);
         }, Expect::kPage, "", ""},
        {"URL-encoded name of 10 MB", [](TempTree& tree) {
             std::string b = ten_megabytes() + "=x&name=Jo";
             return url_encoded(tree.work, b);
         }, Expect::kPage, "", ""},
        {"URL-encoded values ending in %", [](TempTree& tree) {
             std::string b = "name=Jo%&mail=m%4&interest=%&directory=..%2F..%2F";
             return url_encoded(tree.work, b);
         }, Expect::kPage, "", ""},
        {"URL-encoded NUL bytes raw and decoded", [](TempTree& tree) {
             std::string b = std::string("name=J\0o&mail=%00&na%00me=x&interest=i\0", 39);
             return url_encoded(tree.work, b);
         }, Expect::kPage, "", ""},
        {"URL-encoded length far too long", [](TempTree& tree) {
             return url_encoded(tree.work, "name=Jo", "2147483647");
         }, Expect::kTooLarge, "", ""},
        {"URL-encoded length negative", [](TempTree& tree) {
             return url_encoded(tree.work, "name=Jo", "-1");
         }, Expect::kPage, "", ""},
        {"query of 4094 bytes", [](TempTree& tree) {
             static const std::string q = "name=" + std::string(4094 - 5, 'q');
             return get_request(tree.work, q.c_str());
         }, Expect::kPage, "", ""},
        {"query of 4095 bytes", [](TempTree& tree) {
             static const std::string q = "name=" + std::string(4095 - 5, 'q');
             return get_request(tree.work, q.c_str());
         }, Expect::kPage, "", ""},
        {"query of 100000 bytes ending in %", [](TempTree& tree) {
             static const std::string q = "name=" + std::string(100000, 'q') + "%";
             return get_request(tree.work, q.c_str());
         }, Expect::kPage, "", ""},
        {"query with traversal and %-tails", [](TempTree& tree) {
             return get_request(tree.work, "name=..%2F..%2Fx&mail=m&interest=i&directory=%2Ftmp&resume=%");
         }, Expect::kPage, "", ""},
        {"query with a decoded NUL", [](TempTree& tree) {
             return get_request(tree.work, "name=%00&mail=%0&interest=%");
         }, Expect::kPage, "", ""},
        argument0_row("argument 0 of 1023 bytes", "/" + std::string(1022, 'c')),
        argument0_row("argument 0 of 1024 bytes", "/" + std::string(1023, 'c')),
        argument0_row("argument 0 of 1025 bytes", "/" + std::string(1024, 'c')),
        argument0_row("argument 0 of 100000 bytes with markup", "x\"><script>" + std::string(100000, 'c')),
        {"test mode with a traversal query", [](TempTree& tree) {
             CgiCall call = get_request(tree.work);
             call.argv = {"apply.cgi", "-t", "name=../../x&mail=m&interest=i&directory=/"};
             return call;
         }, Expect::kPage, "", ""},
    };
    return rows;
}

std::string describe(const CgiResult& result) {
    return "exit " + std::to_string(result.exit_status) + ", signal " +
           std::to_string(result.signal) + ", stderr: " + result.err.substr(0, 2000) +
           "\nstdout begins: " + result.out.substr(0, 300);
}

bool in_store(const std::string& path) {
    return path.rfind("outer/work/people/", 0) == 0 || path.rfind("outer/work/deeps", 0) == 0;
}

void check_answer(const Hostile& row, TempTree& tree, const CgiCall& call) {
    Snapshot before = snapshot(tree.root);
    CgiResult result = run_cgi(call);
    Snapshot after = snapshot(tree.root);
    SCOPED_TRACE(row.what);

    ASSERT_FALSE(result.timed_out) << describe(result);
    ASSERT_EQ(result.signal, 0) << describe(result);
    EXPECT_EQ(result.exit_status, exit_status_for(result)) << describe(result);
    // Nothing but a failure's one line may reach the error stream (sanitizer reports included),
    // and a failure's header names its status.
    const bool failed = result.out.rfind("Status: ", 0) == 0;
    if (failed) {
        EXPECT_EQ(without_time(result.err).rfind("apply.cgi: ", 0), 0u) << describe(result);
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << describe(result);
    } else {
        EXPECT_EQ(result.err, "") << describe(result);
    }
    const std::size_t header = failed ? result.out.find('\n') + 1 : 0;
    ASSERT_EQ(result.out.find(HTML_HEADER), header) << describe(result);
    const bool header_only = result.out == HTML_HEADER;
    const bool page = result.out.find("</body>\n") != std::string::npos;
    EXPECT_TRUE(page || (header_only && row.expect == Expect::kPageOrEnd)) << describe(result);

    std::vector<std::string> changed = changed_paths(before, after);
    bool store_changed = false;
    for (const std::string& path : changed) {
        // The run's trace file, empty, is gone too once it has ended.
        EXPECT_TRUE(in_store(path)) << "written outside the store: " << path;
        store_changed = store_changed || in_store(path);
    }
    EXPECT_FALSE(fs::exists("/tmp/hardening-escape"));

    const bool thanked = is_thank_you(result);
    auto expect_stored = [&] {
        if (row.resume_path.empty()) return;
        EXPECT_EQ(read_file(tree.work + "/" + row.resume_path), row.resume)
            << "resume stored whole";
    };
    switch (row.expect) {
        case Expect::kThankYou:
            EXPECT_TRUE(thanked) << describe(result);
            expect_stored();
            break;
        case Expect::kFormAgain:
            EXPECT_NE(result.out.find("Please"), std::string::npos) << describe(result);
            EXPECT_FALSE(thanked);
            EXPECT_FALSE(store_changed);
            break;
        case Expect::kCantCreate:
            EXPECT_TRUE(is_cant_create(result)) << describe(result);
            EXPECT_FALSE(store_changed);
            break;
        case Expect::kTooLarge:
            EXPECT_NE(result.out.find("too large"), std::string::npos) << describe(result);
            EXPECT_FALSE(store_changed);
            break;
        case Expect::kRefused:
            EXPECT_FALSE(thanked) << describe(result);
            EXPECT_FALSE(store_changed) << "a refused submission leaves the store as it was";
            break;
        case Expect::kStoredOrRefused:
            if (thanked) {
                expect_stored();
            } else {
                EXPECT_FALSE(store_changed) << "a refused submission leaves the store as it was";
            }
            break;
        case Expect::kPage:
        case Expect::kPageOrEnd:
            if (thanked) expect_stored();
            break;
    }
}

class HostileRequest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(HostileRequest, AnsweredWithoutCrashOrWritesOutsideTheStore) {
    static const std::vector<Hostile> rows = hostile_requests();
    const Hostile& row = rows.at(GetParam());
    TempTree tree;
    CgiCall call = row.make(tree);
    check_answer(row, tree, call);
}

INSTANTIATE_TEST_SUITE_P(Table, HostileRequest,
                         ::testing::Range<std::size_t>(0, hostile_requests().size()));

TEST(HostileRequestTable, HoldsAtLeastFortyRequests) {
    EXPECT_GE(hostile_requests().size(), 40u);
}

// The body cut at every byte of the header lines (boundary line, Content-Disposition line,
// Content-Type line, blank line) of a text field, of the upload, of the text field after it
// and of the closing line, with CONTENT_LENGTH telling the truth; at every fifth of those places
// also with CONTENT_LENGTH still claiming the whole body.
class TruncatedBody : public ::testing::TestWithParam<std::size_t> {};

TEST_P(TruncatedBody, EveryHeaderPositionIsAnsweredSafely) {
    const std::vector<Part> parts = application_parts("Jo", kResume);
    const std::string body = multipart_body(parts, TEST_BOUNDARY);
    // Where each part's headers begin and end: its boundary line up to its content.
    std::vector<std::pair<std::size_t, std::size_t>> header_ranges;
    std::size_t at = 0;
    for (const Part& part : parts) {
        std::size_t content = body.find(part.value + "\r\n--", at);
        header_ranges.emplace_back(at, content);
        at = content + part.value.size() + 2;
    }
    header_ranges.emplace_back(at, body.size());
    const std::size_t part_index = std::vector<std::size_t>{0, 3, 4, parts.size()}.at(GetParam());
    const auto [from, to] = header_ranges.at(part_index);
    ASSERT_LT(from, to);

    for (std::size_t cut = from; cut < to; ++cut) {
        TempTree tree;
        Hostile row{"cut at byte " + std::to_string(cut), nullptr, Expect::kPageOrEnd, "", ""};
        check_answer(row, tree, raw_multipart(tree.work, body.substr(0, cut), std::to_string(cut)));
        if (cut % 5 == 0) {
            row.what += " with the whole length declared";
            check_answer(
                row, tree,
                raw_multipart(tree.work, body.substr(0, cut), std::to_string(body.size())));
        }
        if (HasFailure()) return;
    }
}

// The name field, the upload, the field after the upload, the closing line.
INSTANTIATE_TEST_SUITE_P(Headers, TruncatedBody, ::testing::Range<std::size_t>(0, 4));

}  // namespace
