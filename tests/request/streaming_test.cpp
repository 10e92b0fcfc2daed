// A multipart body streamed through a read window of any size gives the pairs that reading it
// whole gives: captured client bodies; bodies built to put delimiters, near-delimiters, line
// breaks and header text across window edges; bodies shorter than declared; bodies that stop
// the process; a body arriving through a pipe in small pieces; and an upload far larger than the
// memory the process may use.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "request_test_support.h"
#include "sanitizers.h"

namespace {

// Collected pairs are compared as one text: a line with the pair count and the body length,
// then each field of each pair with its length, and whether a NUL follows the value.
std::string encoded_pair(const std::string& name, const std::string& value,
                         const std::string& file_name, const std::string& file_type,
                         bool terminated = true) {
    std::string text;
    for (const std::string* field : {&name, &value, &file_name, &file_type})
        text += std::to_string(field->size()) + ":" + *field + "\n";
    return text + (terminated ? "NUL\n" : "no NUL\n");
}

std::string encoded_head(std::int32_t pair_count, std::size_t content_length) {
    return std::to_string(pair_count) + " pairs, length " + std::to_string(content_length) + "\n";
}

// "" when the collections agree, else the place where they first differ.
std::string difference(const std::string& want, const std::string& got) {
    if (want == got) return "";
    const auto at = static_cast<std::size_t>(
        std::mismatch(want.begin(), want.end(), got.begin(), got.end()).first - want.begin());
    const std::size_t from = at < 40 ? 0 : at - 40;
    return "at byte " + std::to_string(at) + " got " +
           testing::PrintToString(got.substr(from, 80)) + ", not " +
           testing::PrintToString(want.substr(from, 80));
}

// A POST of what standard input holds, declared `declared` bytes long, read through a window of
// `window` bytes (0: the default), collected.
std::string collect(const std::string& content_type, std::size_t window, std::size_t declared) {
    set_post_env(content_type, std::to_string(declared));
    RequestOptions options = RequestOptions::as_designed();
    options.body_window = window;
    auto request = make_request({"/srv/cgi-bin/apply.cgi"}, options);
    request->collect_pairs();
    std::string text =
        encoded_head(request->pair_count(), static_cast<std::size_t>(request->content_length()));
    for (std::int32_t i = 0; i < request->pair_count(); ++i) {
        const FormPair& pair = *request->pair_at(i);
        const auto length = static_cast<std::size_t>(pair.value_len);
        text += encoded_pair(pair.name, std::string(pair.value, length), pair.file_name,
                             pair.file_type, pair.value[length] == '\0');
    }
    return text;
}

// The same in a child process: "stopped" when the parser ends the process.
std::string collect_in_child(const std::string& content_type, const std::string& body,
                             std::size_t declared, std::size_t window) {
    return outcome_in_child([&] {
        feed_stdin(body);  // a file without a name: nothing is left when the child stops
        return collect(content_type, window, declared);
    });
}

// A body in a file that standard input is pointed at again for each request; written in pieces,
// a body larger than memory never has to be held whole.
class BodyFile {
  public:
    BodyFile() {
        char pattern[] = "/tmp/streaming_test_body_XXXXXX";
        fd_ = mkstemp(pattern);
        if (fd_ < 0) throw std::runtime_error("mkstemp failed");
        path_ = pattern;
    }
    explicit BodyFile(std::string_view bytes) : BodyFile() { append(bytes.data(), bytes.size()); }
    ~BodyFile() {
        close(fd_);
        unlink(path_.c_str());
    }
    BodyFile(const BodyFile&) = delete;
    BodyFile& operator=(const BodyFile&) = delete;

    void append(const char* data, std::size_t size) {
        if (!platform::write_all(fd_, data, size)) throw std::runtime_error("cannot write");
        size_ += size;
    }
    std::size_t size() const { return size_; }
    void attach() const {
        if (!std::freopen(path_.c_str(), "rb", stdin)) throw std::runtime_error("freopen failed");
    }

  private:
    std::string path_;
    int fd_ = -1;
    std::size_t size_ = 0;
};

// Every window in `windows` gives `want` (declared: the file's size unless given); one report
// per call.
void expect_at_windows(const std::string& want, const std::string& content_type,
                       const BodyFile& body, const std::vector<std::size_t>& windows,
                       std::size_t declared = 0) {
    if (declared == 0) declared = body.size();
    for (std::size_t window : windows) {
        body.attach();
        const std::string differs = difference(want, collect(content_type, window, declared));
        if (!differs.empty()) {
            ADD_FAILURE() << "window " << window << ", declared " << declared << ": " << differs;
            return;
        }
    }
}

// The smallest window a request with this boundary uses; every smaller size is raised to it.
std::size_t smallest_window(std::size_t boundary_size) {
    return 2 * (boundary_size + 2) + 64;
}

// Small, odd and default sizes; for a short body every size from the smallest to one past its
// length, so that each byte is once the last of the first window; for a longer body a run past
// the smallest and a spread up to its length.
std::vector<std::size_t> window_sizes(std::size_t body_size, std::size_t boundary_size) {
    std::vector<std::size_t> sizes = {1, 7, 64, 4099, 0};
    const std::size_t smallest = smallest_window(boundary_size);
    const bool every = body_size <= 4096;
    for (std::size_t size = smallest; size <= (every ? body_size + 1 : smallest + 96); ++size)
        sizes.push_back(size);
    if (every) return sizes;
    for (std::size_t size = smallest + 97; size <= body_size + 1; size += 211)
        sizes.push_back(size);
    sizes.insert(sizes.end(), {4096, 4097, 8191, 65521});
    return sizes;
}

// A body built part by part together with the pairs it must give. No value holds the delimiter;
// after bare LF line ends no text starts with a line break and no upload ends in CR.
class Form {
  public:
    explicit Form(std::string boundary, std::string eol = "\r\n")
        : body_(std::move(boundary), std::move(eol)) {}

    // A text field: it loses its trailing line breaks (and, as the blank line's run takes them,
    // leading LFs).
    Form& text(const std::string& name, const std::string& value) {
        std::string expected = value;
        const std::size_t first_kept = expected.find_first_not_of('\n');
        expected.erase(0, first_kept == std::string::npos ? expected.size() : first_kept);
        while (!expected.empty() && (expected.back() == '\r' || expected.back() == '\n'))
            expected.pop_back();
        body_.field(name, value);
        expected_ += encoded_pair(cut(name), expected, "", "");
        ++count_;
        return *this;
    }
    // An upload keeps every byte; an empty `type` sends no Content-Type line.
    Form& upload(const std::string& name, const std::string& file_name, const std::string& type,
                 const std::string& content) {
        body_.file(name, file_name, type, content);
        expected_ += encoded_pair(cut(name), content, cut(file_name),
                                  type.empty() ? "" : cut("Content-Type: " + type));
        ++count_;
        return *this;
    }

    std::string body() const { return body_.close(); }
    std::string content_type() const { return body_.content_type(); }
    std::size_t boundary_size() const { return body_.boundary.size(); }
    std::string expected() const { return encoded_head(count_, body().size()) + expected_; }

  private:
    static std::string cut(const std::string& text) { return text.substr(0, SCRATCH_SIZE - 1); }

    MultipartBody body_;
    std::string expected_;
    std::int32_t count_ = 0;
};

// Text and uploads holding "--", partial delimiters and boundary text without its dashes.
Form near_delimiters() {
    return Form("AbC123")
        .text("dashes", "x--y--")
        .upload("partials", "p.txt", "text/plain", "--AbC12\r\n--AbC12--\r\n-AbC123\r\nAbC123--")
        .upload("ends_partial", "e.bin", "application/octet-stream", "tail\r\n--AbC12")
        .upload("ends_dash", "d.bin", "", "\r\n--AbC1\r\n-")
        .text("text_partial", "x\r\n--AbC12")
        .upload("only_dashes", "o", "a/b", "--")
        .upload("typed_only", "", "text/csv", "a,b\r\n--AbC1,c\r\n")
        .text("last", "end");
}

// CR and LF runs inside, before and at the end of values.
Form line_break_runs() {
    return Form("Lb")
        .upload("runs", "r", "x/y", "\r\n\r\n\r\r\n\n")
        .upload("cr", "c", "", "\r")
        .upload("lf", "l", "", "\n")
        .upload("crlf", "cl", "", "\r\n")
        .upload("cr_crlf", "x", "", "x\r\r\n")
        .upload("lf_cr", "y", "", "\n\r")
        .upload("empty", "z", "a/b", "")
        .text("typed", "a\r\n\r\n\r\n")
        .text("lead_crlf", "\r\n\r\nz")
        .text("lead_lfs", std::string(300, '\n') + "v")
        .text("inner", "x\r\r\ny\n\n")
        .text("only_breaks", "\r\n\r\n")
        .text("only_cr", "\r\r\r")
        .text("empty_text", "");
}

// Every line ending in a bare LF.
Form bare_lf() {
    return Form("lfBoundary9", "\n")
        .text("name", "Jane")
        .upload("mixed", "m.txt", "text/plain", "line1\nline2\r\nline3\n")
        .upload("lfs", "n.txt", "", "\n\n")
        .text("multi", "a\nb\n\n")
        .upload("cr_inside", "c.txt", "", "a\rb\r\nc")
        .upload("empty", "e.txt", "", "")
        .text("empty_text", "")
        .text("after", "ok");
}

// Bytes drawn from `alphabet`, never holding `delimiter`.
std::string random_bytes(std::mt19937& random, std::size_t size, const std::string& alphabet,
                         const std::string& delimiter) {
    std::string bytes;
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    while (bytes.size() < size) {
        bytes.push_back(alphabet[pick(random)]);
        // Breaking a delimiter just completed keeps every earlier near-delimiter.
        if (bytes.size() >= delimiter.size() &&
            bytes.compare(bytes.size() - delimiter.size(), delimiter.size(), delimiter) == 0)
            bytes.back() = 'x';
    }
    return bytes;
}

// A boundary of 240 characters; values hold it without its dashes, and the delimiter but its
// last byte.
Form long_boundary() {
    std::string boundary = "LongBoundary";
    while (boundary.size() < 240) boundary += "-x7_Q" + std::to_string(boundary.size());
    Form form(boundary);
    std::mt19937 random(240);
    const std::string delimiter = "--" + boundary;
    const std::string near = "\r\n" + delimiter.substr(0, delimiter.size() - 1);
    form.text("first", "one")
        .upload("big", "big.bin", "application/octet-stream",
                random_bytes(random, 700, "\r\n-LB", delimiter) + near +
                    random_bytes(random, 500, "\r\n-x7", delimiter) + "\r\n" + boundary)
        .text("near", "a" + near)
        .upload("ends_near", "e", "", near)
        .text("last", "z\r\n");
    return form;
}

// Names, file names and content-type lines longer than the 4095 characters that are kept.
Form long_header_lines() {
    return Form("LongHeaders")
        .text(std::string(5000, 'n'), "short")
        .upload(std::string(4200, 'u'), std::string(5000, 'f'), std::string(5000, 't'), "data")
        .upload("named", std::string(4094, 'g'), "", "edge\r\n")
        .text("after", "ok");
}

// Many parts of every kind with values drawn from the delimiter's own bytes and line breaks,
// so that near-delimiters and header lines fall at every offset.
Form dense_random() {
    Form form("Rq7");
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> length(0, 160);
    for (int i = 0; i < 24; ++i) {
        const std::string content = random_bytes(random, length(random), "\r\n-Rq7x", "--Rq7");
        const std::string name = "p" + std::to_string(i);
        switch (i % 3) {
            case 0:
                form.upload(name, name + ".bin", "application/octet-stream", content);
                break;
            case 1:
                form.upload(name, name + ".txt", "", content);
                break;
            default:
                form.text(name, "T" + content);
                break;
        }
    }
    return form;
}

std::vector<Form> crafted_forms() {
    return {near_delimiters(), line_break_runs(),   bare_lf(),
            long_boundary(),   long_header_lines(), dense_random()};
}

class StreamingCorpus : public testing::TestWithParam<std::string> {};

}  // namespace

TEST_P(StreamingCorpus, GivesThePairsOfAWholeReadAtEveryWindowSize) {
    const CorpusCase sent(GetParam());
    const std::string boundary = sent.content_type.substr(sent.content_type.find('=') + 1);
    const BodyFile file(sent.body);
    file.attach();
    const std::string whole = collect(sent.content_type, 0, file.size());
    EXPECT_EQ(whole.substr(0, whole.find(' ')), std::to_string(sent.parts.size()));
    expect_at_windows(whole, sent.content_type, file,
                      window_sizes(sent.body.size(), boundary.size()));
}

INSTANTIATE_TEST_SUITE_P(Clients, StreamingCorpus, testing::ValuesIn(corpus_cases()),
                         corpus_case_name);

// The sweep puts every byte of these bodies once at the end of the first window: a value ending
// at the edge, a delimiter or the CR LF before it split by the edge, header lines split anywhere.
TEST(Streaming, CraftedBodiesGiveTheirPartsAtEveryWindowSize) {
    for (const Form& form : crafted_forms()) {
        const BodyFile file(form.body());
        expect_at_windows(form.expected(), form.content_type(), file,
                          window_sizes(file.size(), form.boundary_size()));
    }
}

// An upload many windows long crosses edges inside its content, at near-delimiters and at the
// CR LF before its delimiter line, wherever the window size puts them.
TEST(Streaming, AnUploadManyWindowsLongKeepsEveryByte) {
    std::mt19937 random(31);
    Form form("Zz");
    std::string content = random_bytes(random, 20000, std::string("\r\n-Zzy\0", 7), "--Zz");
    content[0] = '\0';
    form.text("before", "b")
        .upload("long", "long.bin", "application/octet-stream", content + "\r\n")
        .upload("lf_end", "l.bin", "", random_bytes(random, 3000, "\r\n-Zz", "--Zz") + "\n")
        .text("typed", random_bytes(random, 3000, "ab-Zz\r\n", "--Zz") + "\r\n\r\n")
        .text("after", "a");
    std::vector<std::size_t> windows = {1021, 4096, 4099, 16411, 0};
    for (std::size_t window = smallest_window(2); window < 400; ++window) windows.push_back(window);
    expect_at_windows(form.expected(), form.content_type(), BodyFile(form.body()), windows);
}

// A body that ends before its declared length is parsed as far as it goes, whatever the window,
// and the request then knows the length it really had.
TEST(Streaming, ABodyShorterThanDeclaredGivesThePairsOfAWholeRead) {
    for (const Form& form : {near_delimiters(), line_break_runs(), long_boundary()}) {
        const BodyFile file(form.body());
        const std::size_t smallest = smallest_window(form.boundary_size());
        std::vector<std::size_t> windows;
        for (std::size_t window = smallest; window <= file.size() + 1; window += 3)
            windows.push_back(window);
        for (std::size_t declared : {file.size() + 1, file.size() + 4099})
            expect_at_windows(form.expected(), form.content_type(), file, windows, declared);
        expect_at_windows(form.expected(), form.content_type(), file, {1, smallest + 1, 0},
                          MAX_BODY_SIZE);
    }
}

// A pipe that hands the body over a few bytes at a time: reads return less than asked for.
TEST(Streaming, ABodyArrivingInSmallPiecesGivesThePairsOfAWholeRead) {
    const Form form = near_delimiters();
    const std::string body = form.body();
    for (std::size_t window : {std::size_t{1}, smallest_window(form.boundary_size()) + 5,
                               std::size_t{257}, std::size_t{0}}) {
        PipedStdin input([&body](int out) {
            std::mt19937 random(3);
            std::uniform_int_distribution<std::size_t> piece(1, 13);
            for (std::size_t at = 0; at < body.size();) {
                const std::size_t n = std::min(piece(random), body.size() - at);
                if (!platform::write_all(out, body.data() + at, n)) break;
                at += n;
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        });
        const std::string got = collect(form.content_type(), window, body.size());
        input.join();
        EXPECT_EQ(difference(form.expected(), got), "") << "window " << window;
    }
}

// A body the parser cannot take stops the process at every window size, also when the fault
// lies beyond the first window. A request built to report instead ends collection there and
// says so; a pair before the fault stays.
TEST(Streaming, MalformedBodiesStopTheProcessOrAreReportedAtEveryWindowSize) {
    MultipartBody form("StopB");
    const std::string line = "--StopB\r\n";
    const std::string long_upload =
        "Content-Disposition: form-data; name=\"u\"; filename=\"u\"\r\n"
        "Content-Type: a/b\r\n\r\n" +
        std::string(600, 'u') + "\r\n";
    // Read whole by a program that asks for reports: a preamble and an epilogue (RFC 2046), and
    // a body that ends after a delimiter line without the closing "--".
    const std::string readable[] = {
        "preamble\r\n" + MultipartBody("StopB").field("a", "1").close(),
        MultipartBody("StopB").field("a", "1").close() + "\r\n\r\n",
        line + "Content-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--StopB",
    };
    const std::string bodies[] = {
        readable[0],
        readable[1],
        readable[2],
        line + "Content-Type: text/plain\r\n\r\nx\r\n--StopB--\r\n",
        // The name not first: an empty pair, then no Content-Disposition where one must be.
        line + "Content-Disposition: form-data; filename=\"a\"; name=\"b\"\r\n\r\nx\r\n" +
            "--StopB--\r\n",
        line + "Content-Disposition: form-data; name=\"a\"\r\n\r\n" + std::string(500, 'v') +
            "no closing line",
        // After a value many windows long: a part without a Content-Disposition line.
        line + long_upload + line + "Content-Type: text/plain\r\n\r\nx\r\n--StopB--\r\n",
        // An upload cut short inside its content.
        line + "Content-Disposition: form-data; name=\"u\"; filename=\"u\"\r\n\r\n" +
            std::string(700, 'c'),
    };
    const std::size_t smallest = smallest_window(form.boundary.size());
    for (const std::string& body : bodies) {
        for (std::size_t window :
             {std::size_t{1}, std::size_t{7}, std::size_t{64}, smallest + 1, smallest + 2,
              smallest + 13, std::size_t{251}, std::size_t{4099}, std::size_t{0}}) {
            const std::string label = "window " + std::to_string(window) + ": " +
                                      testing::PrintToString(body.substr(0, 80));
            EXPECT_EQ(collect_in_child(form.content_type(), body, body.size(), window), "stopped")
                << label;

            set_post_env(form.content_type(), std::to_string(body.size()));
            feed_stdin(body);
            auto reporting = make_request({"report.cgi"}, {.body_window = window});
            reporting->collect_pairs();
            if (static_cast<std::size_t>(&body - bodies) < std::size(readable)) {
                EXPECT_STREQ(reporting->get_value("a"), "1") << label;
                EXPECT_FALSE(reporting->body_unreadable()) << label;
                continue;
            }
            EXPECT_TRUE(reporting->body_unreadable()) << label;
            EXPECT_LE(reporting->pair_count(), 1) << label;
            EXPECT_EQ(reporting->get_value("b"), nullptr) << label;
        }
    }
    // A body it can read is not reported.
    const std::string good = MultipartBody("StopB").field("a", "1").close();
    set_post_env(form.content_type(), std::to_string(good.size()));
    feed_stdin(good);
    auto reporting = make_request({"report.cgi"}, {.unreadable_body = UnreadableBody::report});
    EXPECT_STREQ(reporting->get_value("a"), "1");
    EXPECT_FALSE(reporting->body_unreadable());
}

// A body cut anywhere, declared with the length really sent or still whole, stops the process,
// or yields no pairs (a body of "--" and at most two more bytes ends at once), or, when only the
// end of its closing line is missing, every part whole with the length really read: a cut-short
// upload is never handed out. Beyond the first window a small window ends the request as the
// default window does. (A cut within the first window reads the same at every size.)
TEST(Streaming, EveryCutOfABodyStopsOrYieldsWholePartsAtEveryWindowSize) {
    Form form("q");
    form.text("n", "J\r\n")
        .upload("r", "f", "a/b", std::string("\0\xFF\r\n-q\r\n--", 10) + std::string(60, 'r'))
        .upload("s", "g", "", "\r\n--")
        .text("t", "end");
    const std::string body = form.body();
    const std::string expected = form.expected();
    const std::string expected_pairs = expected.substr(expected.find('\n') + 1);
    const std::size_t smallest = smallest_window(1);
    for (std::size_t cut = 1; cut <= body.size(); ++cut) {
        const std::string part = body.substr(0, cut);
        std::string whole;  // as the default window reads it, declared whole
        for (std::size_t declared : {cut, body.size()}) {
            SCOPED_TRACE("cut at " + std::to_string(cut) + ", declared " +
                         std::to_string(declared));
            whole = collect_in_child(form.content_type(), part, declared, 0);
            if (cut == body.size()) {
                ASSERT_EQ(whole, expected);
            } else if (whole.rfind("0 pairs,", 0) == 0) {
                EXPECT_LT(cut, 5u) << whole;
            } else if (whole != "stopped") {
                // Only a body missing the end of its closing line gives pairs.
                ASSERT_GE(cut, body.size() - 2) << whole;
                ASSERT_EQ(whole, encoded_head(4, cut) + expected_pairs);
            }
        }
        if (cut <= smallest) continue;
        // One fork per size is slow under the sanitizers: the sizes take turns.
        const std::size_t window = smallest + cut % 7;
        EXPECT_EQ(collect_in_child(form.content_type(), part, body.size(), window), whole)
            << "cut at " << cut << ", window " << window;
    }
}

namespace {

// The bytes of a large upload, made again in the same order as often as needed: pseudo-random
// bytes with, every 5003 bytes, a line break and the delimiter with its last byte replaced.
class UploadBytes {
  public:
    explicit UploadBytes(const std::string& delimiter)
        : near_("\r\n" + delimiter.substr(0, delimiter.size() - 1) + "#") {}
    void next(char* out, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i, ++position_) {
            if (position_ % 5003 < near_.size()) {
                out[i] = near_[position_ % 5003];
                continue;
            }
            state_ = state_ * 6364136223846793005u + 1442695040888963407u;
            out[i] = static_cast<char>(state_ >> 56);
        }
    }

  private:
    std::string near_;
    std::uint64_t position_ = 0;
    std::uint64_t state_ = 88172645463325252u;
};

constexpr std::size_t kLargeUpload = std::size_t{96} << 20;
constexpr std::size_t kChunk = std::size_t{1} << 20;

// In a child limited to what it maps now and 48 MiB, builds the request from standard input and
// runs `check` on it, which names the first fault it finds or returns null.
void expect_under_memory_limit(const std::function<const char*(CgiRequest&)>& check,
                               RequestOptions options = RequestOptions::as_designed()) {
    constexpr int kChecked = 30;
    auto run = [&] {
        long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (!statm || std::fscanf(statm, "%ld", &pages) != 1) child_fails("cannot read statm");
        std::fclose(statm);
        const rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (48 << 20);
        const rlimit cap{limit, limit};
        if (setrlimit(RLIMIT_AS, &cap) != 0) child_fails("cannot limit the address space");
        auto request = make_request({"/srv/cgi-bin/apply.cgi"}, options);
        if (const char* fault = check(*request)) child_fails(fault);
        std::_Exit(kChecked);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(kChecked), "");
}

}  // namespace

// Spooled under a limit far below its size, the upload's file is then checked in pieces.
TEST(Streaming, AnUploadFarLargerThanTheMemoryAllowedIsSpooledWhole) {
    if (kUnderAddressSanitizer) GTEST_SKIP() << "an address-space limit needs a plain build";
    const MultipartBody form("LargeBodyBoundary5f2c9e");
    const std::string delimiter = "--" + form.boundary;
    BodyFile file(
        delimiter + "\r\nContent-Disposition: form-data; name=\"before\"\r\n\r\nfirst\r\n" +
        delimiter + "\r\nContent-Disposition: form-data; name=\"big\"; filename=\"big.bin\"\r\n" +
        "Content-Type: application/octet-stream\r\n\r\n");
    std::vector<char> chunk(kChunk);
    UploadBytes bytes(delimiter);
    for (std::size_t at = 0; at < kLargeUpload; at += kChunk) {
        bytes.next(chunk.data(), kChunk);
        file.append(chunk.data(), kChunk);
    }
    const std::string tail =
        "\r\n" + MultipartBody(form.boundary).field("after", "last\r\n").close();
    file.append(tail.data(), tail.size());

    TempDir spool("request-test");
    set_post_env(form.content_type(), std::to_string(file.size()));
    file.attach();
    expect_under_memory_limit([&](CgiRequest& request) -> const char* {
        request.spool_uploads_in(spool.path().c_str());
        const int fd = request.upload_descriptor("big");
        if (request.pair_count() != 3) return "not three pairs";
        if (fd < 0) return "the upload is not in a file";
        if (platform::file_size(fd) != static_cast<std::int64_t>(kLargeUpload))
            return "the file does not have the upload's size";
        std::vector<char> want(kChunk);
        UploadBytes expected(delimiter);
        for (std::size_t at = 0; at < kLargeUpload; at += kChunk) {
            expected.next(want.data(), kChunk);
            if (platform::read_at(fd, chunk.data(), kChunk, static_cast<std::int64_t>(at)) !=
                    static_cast<std::int64_t>(kChunk) ||
                std::memcmp(want.data(), chunk.data(), kChunk) != 0)
                return "the file's bytes differ from the upload's";
        }
        if (file_value(request, "before") != "first") return "the field before is wrong";
        if (file_value(request, "after") != "last") return "the field after is wrong";
        return nullptr;
    });
}

// A raw body the memory cannot hold is said to be too large, never handed out empty as if there
// were none.
TEST(Streaming, ARawBodyTheMemoryCannotHoldIsSaidToBeTooLarge) {
    if (kUnderAddressSanitizer) GTEST_SKIP() << "an address-space limit needs a plain build";
    BodyFile file;
    const std::vector<char> chunk(kChunk, 'j');
    for (std::size_t at = 0; at < std::size_t{64} << 20; at += kChunk)
        file.append(chunk.data(), kChunk);
    set_post_env("application/json", std::to_string(file.size()));
    file.attach();
    expect_under_memory_limit(
        [](CgiRequest& request) -> const char* {
            if (request.body_too_large()) return "too large before it was read";
            if (!request.raw_body().empty()) return "a body past the memory was handed out";
            if (!request.body_too_large()) return "the body is not said to be too large";
            return nullptr;
        },
        {});
}

// Uploads held in memory take about the memory of their bytes, however much of the body is
// still to come when each begins: 16 MiB of uploads fit a limit of 48 MiB.
TEST(Streaming, UploadsHeldInMemoryNeedAboutTheMemoryOfTheirBytes) {
    if (kUnderAddressSanitizer) GTEST_SKIP() << "an address-space limit needs a plain build";
    constexpr int kUploads = 8;
    auto content = [](int index) {
        std::string bytes(std::size_t{2} << 20, static_cast<char>('a' + index));
        bytes[bytes.size() / 2] = '\0';
        return bytes;
    };
    MultipartBody form("MemoryUploadsBoundary");
    for (int i = 0; i < kUploads; ++i) {
        const std::string name = "u" + std::to_string(i);
        form.file(name, name + ".bin", "application/octet-stream", content(i));
    }
    const BodyFile file(form.field("after", "last").close());
    set_post_env(form.content_type(), std::to_string(file.size()));
    file.attach();
    expect_under_memory_limit([&](CgiRequest& request) -> const char* {
        request.collect_pairs();
        if (request.pair_count() != kUploads + 1) return "pairs are missing";
        for (int i = 0; i < kUploads; ++i) {
            if (file_value(request, ("u" + std::to_string(i)).c_str()) != content(i))
                return "an upload differs";
        }
        return file_value(request, "after") != "last" ? "the field after is wrong" : nullptr;
    });
}
