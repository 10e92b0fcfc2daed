// A multipart body streamed through a read window of any size gives the pairs that reading it
// whole gives: the captured client bodies; bodies built to put delimiters, near-delimiters, line
// breaks and header text across window edges; bodies shorter than declared; bodies that stop
// the process; a body arriving through a pipe in small pieces; and an upload far larger than the
// memory the process may use.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cgi/body_window.h"
#include "mini_json.h"
#include "request_test_support.h"

namespace {

// An address-space limit cannot be combined with the sanitizers' huge shadow mappings.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

// One pair as collected, with every byte of its value.
struct Pair {
    std::string name;
    std::string value;
    std::string file_name;
    std::string file_type;
    bool terminated = true;  // a NUL follows the value's bytes
};

struct Collected {
    std::vector<Pair> pairs;
    std::int32_t pair_count = 0;
    std::int32_t content_length = 0;
};

std::string shown(const std::string& bytes) {
    std::string text;
    for (unsigned char ch : bytes.substr(0, 80)) {
        if (ch == '\r') {
            text += "\\r";
        } else if (ch == '\n') {
            text += "\\n";
        } else if (ch < 0x20 || ch >= 0x7F) {
            text +=
                "\\x" + std::string(1, "0123456789abcdef"[ch >> 4]) + "0123456789abcdef"[ch & 15];
        } else {
            text += static_cast<char>(ch);
        }
    }
    return bytes.size() > 80 ? text + "... (" + std::to_string(bytes.size()) + " bytes)" : text;
}

// The first way `got` differs from `want`, or "" when they are the same.
std::string first_difference(const Collected& want, const Collected& got) {
    if (want.pair_count != got.pair_count)
        return "pair_count " + std::to_string(got.pair_count) + ", not " +
               std::to_string(want.pair_count);
    if (want.content_length != got.content_length)
        return "content_length " + std::to_string(got.content_length) + ", not " +
               std::to_string(want.content_length);
    if (want.pairs.size() != got.pairs.size())
        return std::to_string(got.pairs.size()) + " pairs, not " +
               std::to_string(want.pairs.size());
    for (std::size_t i = 0; i < want.pairs.size(); ++i) {
        const Pair& a = want.pairs[i];
        const Pair& b = got.pairs[i];
        const std::string at = "pair " + std::to_string(i) + " (" + shown(a.name) + "): ";
        if (a.name != b.name) return at + "name " + shown(b.name);
        if (a.value != b.value) return at + "value " + shown(b.value) + ", not " + shown(a.value);
        if (a.file_name != b.file_name) return at + "file name " + shown(b.file_name);
        if (a.file_type != b.file_type) return at + "content-type line " + shown(b.file_type);
        if (a.terminated != b.terminated) return at + "no NUL after the value";
    }
    return "";
}

bool write_whole(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A body kept in a file that standard input is pointed at again for each request; it can be
// written in pieces, so that a body larger than memory never has to be held whole.
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
        if (!write_whole(fd_, data, size)) throw std::runtime_error("cannot write the body");
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

// The request's pairs, collected now; values held in memory.
Collected collected_from(CgiRequest& request) {
    request.collect_pairs();
    Collected out;
    out.pair_count = request.pair_count;
    out.content_length = request.content_length;
    for (const FormPair& pair : request.pairs) {
        const auto length = static_cast<std::size_t>(pair.value_len);
        out.pairs.push_back({pair.name, std::string(pair.value, length), pair.file_name,
                             pair.file_type, pair.value[length] == '\0'});
    }
    return out;
}

// A POST of what standard input holds, declared `declared` bytes long, with a window of
// `window` bytes (0: the default), collected.
Collected collect_from_stdin(const std::string& content_type, std::size_t window,
                             std::size_t declared) {
    set_body_window_size(window);
    set_cgi_env({{"REQUEST_METHOD", "POST"},
                 {"CONTENT_TYPE", content_type},
                 {"CONTENT_LENGTH", std::to_string(declared)}});
    auto request = make_request();
    return collected_from(*request);
}

Collected collect(const std::string& content_type, const BodyFile& body, std::size_t window,
                  std::size_t declared) {
    body.attach();
    return collect_from_stdin(content_type, window, declared);
}

Collected collect(const std::string& content_type, const BodyFile& body, std::size_t window) {
    return collect(content_type, body, window, body.size());
}

// The smallest window a request with this boundary uses; every smaller size is raised to it.
std::size_t smallest_window(std::size_t boundary_size) {
    return 2 * (boundary_size + 2) + 64;
}

// Window sizes to try on a body: the named small and odd sizes and the default; then, for a
// short body, every size from the smallest up to one past the body's length, so that each byte
// of the body is once the last byte of the first window; for a longer body a run of sizes past
// the smallest and a spread of sizes up to its length.
std::vector<std::size_t> window_sizes(std::size_t body_size, std::size_t boundary_size) {
    constexpr std::size_t kEverySizeUpTo = 4096;
    std::vector<std::size_t> sizes = {1, 7, 64, 4099, 0};
    const std::size_t smallest = smallest_window(boundary_size);
    if (body_size <= kEverySizeUpTo) {
        for (std::size_t size = smallest; size <= body_size + 1; ++size) sizes.push_back(size);
    } else {
        for (std::size_t size = smallest; size <= smallest + 96; ++size) sizes.push_back(size);
        for (std::size_t size = smallest + 97; size <= body_size + 1; size += 211)
            sizes.push_back(size);
        for (std::size_t size : {4096, 4097, 8191, 65521}) sizes.push_back(size);
    }
    return sizes;
}

// Every window size gives what the default window gives; the default result is returned.
Collected expect_same_at_every_window(const std::string& content_type, const std::string& body,
                                      std::size_t boundary_size) {
    const BodyFile file(body);
    const Collected whole = collect(content_type, file, 0);
    for (std::size_t window : window_sizes(body.size(), boundary_size)) {
        const std::string difference = first_difference(whole, collect(content_type, file, window));
        if (!difference.empty()) {
            ADD_FAILURE() << "window " << window << ": " << difference;
            break;  // one report per body
        }
    }
    return whole;
}

// A body built part by part together with the pairs it must give.
class Form {
  public:
    explicit Form(std::string boundary, std::string eol = "\r\n")
        : body_(std::move(boundary), std::move(eol)) {}

    // A text field: it loses its trailing line breaks (and, as the blank line's run takes them,
    // leading LFs).
    Form& text(const std::string& name, const std::string& value) {
        check_no_delimiter(value);
        std::string expected = value;
        if (body_.line_end == "\n" && !value.empty() && (value[0] == '\r' || value[0] == '\n'))
            throw std::logic_error("a leading line break is ambiguous after a bare LF");
        const std::size_t first_kept = expected.find_first_not_of('\n');
        expected.erase(0, first_kept == std::string::npos ? expected.size() : first_kept);
        while (!expected.empty() && (expected.back() == '\r' || expected.back() == '\n'))
            expected.pop_back();
        body_.field(name, value);
        expected_.push_back({cut(name), expected, "", "", true});
        return *this;
    }
    // An upload keeps every byte; an empty `type` sends no Content-Type line.
    Form& upload(const std::string& name, const std::string& file_name, const std::string& type,
                 const std::string& content) {
        check_no_delimiter(content);
        if (body_.line_end == "\n" && !content.empty() && content.back() == '\r')
            throw std::logic_error("a CR before a bare LF delimiter line goes with it");
        body_.file(name, file_name, type, content);
        expected_.push_back({cut(name), content, cut(file_name),
                             type.empty() ? "" : cut("Content-Type: " + type), true});
        return *this;
    }

    std::string body() const { return body_.close(); }
    std::string content_type() const { return body_.content_type(); }
    std::size_t boundary_size() const { return body_.boundary.size(); }
    Collected expected() const {
        const std::string text = body();
        return {expected_, static_cast<std::int32_t>(expected_.size()),
                static_cast<std::int32_t>(text.size())};
    }

  private:
    static std::string cut(const std::string& text) { return text.substr(0, SCRATCH_SIZE - 1); }
    void check_no_delimiter(const std::string& bytes) const {
        if (bytes.find("--" + body_.boundary) != std::string::npos)
            throw std::logic_error("a value may not hold the delimiter");
    }

    MultipartBody body_;
    std::vector<Pair> expected_;
};

// Text and uploads holding "--", partial delimiters and boundary text without its dashes.
Form near_delimiters() {
    Form form("AbC123");
    form.text("dashes", "x--y--")
        .upload("partials", "p.txt", "text/plain", "--AbC12\r\n--AbC12--\r\n-AbC123\r\nAbC123--")
        .upload("ends_partial", "e.bin", "application/octet-stream", "tail\r\n--AbC12")
        .upload("ends_dash", "d.bin", "", "\r\n--AbC1\r\n-")
        .text("text_partial", "x\r\n--AbC12")
        .upload("only_dashes", "o", "a/b", "--")
        .upload("typed_only", "", "text/csv", "a,b\r\n--AbC1,c\r\n")
        .text("last", "end");
    return form;
}

// CR and LF runs inside, before and at the end of values.
Form line_break_runs() {
    Form form("Lb");
    form.upload("runs", "r", "x/y", "\r\n\r\n\r\r\n\n")
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
    return form;
}

// Every line ending in a bare LF.
Form bare_lf() {
    Form form("lfBoundary9", "\n");
    form.text("name", "Jane")
        .upload("mixed", "m.txt", "text/plain", "line1\nline2\r\nline3\n")
        .upload("lfs", "n.txt", "", "\n\n")
        .text("multi", "a\nb\n\n")
        .upload("cr_inside", "c.txt", "", "a\rb\r\nc")
        .upload("empty", "e.txt", "", "")
        .text("empty_text", "")
        .text("after", "ok");
    return form;
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
    Form form("LongHeaders");
    form.text(std::string(5000, 'n'), "short")
        .upload(std::string(4200, 'u'), std::string(5000, 'f'), std::string(5000, 't'), "data")
        .upload("named", std::string(4094, 'g'), "", "edge\r\n")
        .text("after", "ok");
    return form;
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

// Every test leaves the window size as it found it: the default.
class Streaming : public testing::Test {
  protected:
    void TearDown() override { set_body_window_size(0); }
};

class StreamingCorpus : public testing::TestWithParam<std::string> {
  protected:
    void TearDown() override { set_body_window_size(0); }
};

// How collecting a body's pairs in a child process ended: the encoded pairs, "stopped" when the
// parser ended the process (status 0), or how else it ended.
std::string encoded(const Collected& collected) {
    std::string text = std::to_string(collected.pair_count) + " pairs, length " +
                       std::to_string(collected.content_length) + "\n";
    for (const Pair& pair : collected.pairs) {
        for (const std::string* field : {&pair.name, &pair.value, &pair.file_name, &pair.file_type})
            text += std::to_string(field->size()) + ":" + *field + "\n";
        text += pair.terminated ? "NUL\n" : "no NUL\n";
    }
    return text;
}

constexpr int kCollected = 20;

std::string outcome_in_child(const std::string& content_type, const std::string& body,
                             std::size_t declared, std::size_t window) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return "no pipe";
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_fds[0]);
        // Ends at once with the parser's status: no exit-time work in the child.
        on_exit([](int status, void*) { _exit(status); }, nullptr);
        feed_stdin(body);  // a file without a name: nothing is left when the child stops
        const std::string text = encoded(collect_from_stdin(content_type, window, declared));
        std::_Exit(write_whole(pipe_fds[1], text.data(), text.size()) ? kCollected : 99);
    }
    close(pipe_fds[1]);
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = read(pipe_fds[0], chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(n));
    close(pipe_fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCollected) return text;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && text.empty()) return "stopped";
    return WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                             : "signal " + std::to_string(WTERMSIG(status));
}

}  // namespace

TEST_P(StreamingCorpus, GivesThePairsOfAWholeReadAtEveryWindowSize) {
    const std::string dir = std::string(CORPUS_DIR) + "/" + GetParam();
    JsonObject headers = FlatJsonReader(read_file(dir + "/headers.json")).object();
    const std::vector<JsonObject> parts =
        FlatJsonReader::array_of(read_file(dir + "/expected.json"), "parts");
    const std::string content_type = headers["content_type"].value_or("");
    const std::string boundary = content_type.substr(content_type.find('=') + 1);
    const Collected whole =
        expect_same_at_every_window(content_type, read_file(dir + "/body.bin"), boundary.size());
    EXPECT_EQ(whole.pair_count, static_cast<std::int32_t>(parts.size()));
}

INSTANTIATE_TEST_SUITE_P(Clients, StreamingCorpus, testing::ValuesIn(corpus_cases()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// The sweep of window sizes puts every byte of these bodies once at the end of the first window:
// a value ending exactly at the edge, a delimiter or the CR LF before it split by the edge,
// header lines and parameters split anywhere.
TEST_F(Streaming, CraftedBodiesGiveTheirPartsAtEveryWindowSize) {
    for (const Form& form : crafted_forms()) {
        const std::string body = form.body();
        SCOPED_TRACE(shown(body));
        const Collected whole =
            expect_same_at_every_window(form.content_type(), body, form.boundary_size());
        EXPECT_EQ(first_difference(form.expected(), whole), "");
    }
}

// An upload many windows long crosses edges inside its content, at its near-delimiters and at
// the CR LF before its delimiter line, wherever the window size puts them.
TEST_F(Streaming, AnUploadManyWindowsLongKeepsEveryByte) {
    std::mt19937 random(31);
    Form form("Zz");
    std::string content = random_bytes(random, 20000, std::string("\r\n-Zzy\0", 7), "--Zz");
    content[0] = '\0';
    form.text("before", "b")
        .upload("long", "long.bin", "application/octet-stream", content + "\r\n")
        .upload("lf_end", "l.bin", "", random_bytes(random, 3000, "\r\n-Zz", "--Zz") + "\n")
        .text("typed", random_bytes(random, 3000, "ab-Zz\r\n", "--Zz") + "\r\n\r\n")
        .text("after", "a");
    const std::string body = form.body();
    const BodyFile file(body);
    const Collected expected = form.expected();
    for (std::size_t window = smallest_window(2); window < 400; ++window)
        ASSERT_EQ(first_difference(expected, collect(form.content_type(), file, window)), "")
            << "window " << window;
    for (std::size_t window : {1021, 4096, 4099, 16411, 0})
        ASSERT_EQ(first_difference(expected, collect(form.content_type(), file, window)), "")
            << "window " << window;
}

// A body that ends before its declared length is parsed as far as it goes, whatever the window,
// and the request then knows the length it really had.
TEST_F(Streaming, ABodyShorterThanDeclaredGivesThePairsOfAWholeRead) {
    for (const Form& form : {near_delimiters(), line_break_runs(), long_boundary()}) {
        const std::string body = form.body();
        const BodyFile file(body);
        const Collected expected = form.expected();
        ASSERT_EQ(expected.content_length, static_cast<std::int32_t>(body.size()));
        const std::size_t smallest = smallest_window(form.boundary_size());
        for (std::size_t declared : {body.size() + 1, body.size() + 4099}) {
            for (std::size_t window = smallest; window <= body.size() + 1; window += 3) {
                EXPECT_EQ(first_difference(expected,
                                           collect(form.content_type(), file, window, declared)),
                          "")
                    << "window " << window << ", declared " << declared;
            }
        }
        for (std::size_t window : {std::size_t{1}, smallest + 1, std::size_t{0}}) {
            EXPECT_EQ(first_difference(expected,
                                       collect(form.content_type(), file, window, MAX_BODY_SIZE)),
                      "")
                << "window " << window << ", declared the largest length";
        }
    }
}

// Standard input as a web server gives it: a pipe that hands the body over a few bytes at a
// time, so that reads return less than asked for.
TEST_F(Streaming, ABodyArrivingInSmallPiecesGivesThePairsOfAWholeRead) {
    const Form form = near_delimiters();
    const std::string body = form.body();
    const int saved_stdin = dup(0);
    ASSERT_GE(saved_stdin, 0);
    for (std::size_t window : {std::size_t{1}, smallest_window(form.boundary_size()) + 5,
                               std::size_t{257}, std::size_t{0}}) {
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        ASSERT_EQ(dup2(pipe_fds[0], 0), 0);
        close(pipe_fds[0]);
        std::thread writer([&body, out = pipe_fds[1]] {
            std::mt19937 random(3);
            std::uniform_int_distribution<std::size_t> piece(1, 13);
            for (std::size_t at = 0; at < body.size();) {
                const std::size_t n = std::min(piece(random), body.size() - at);
                if (!write_whole(out, body.data() + at, n)) break;
                at += n;
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
            close(out);
        });
        set_body_window_size(window);
        set_cgi_env({{"REQUEST_METHOD", "POST"},
                     {"CONTENT_TYPE", form.content_type()},
                     {"CONTENT_LENGTH", std::to_string(body.size())}});
        auto request = make_request();
        const Collected got = collected_from(*request);
        writer.join();
        EXPECT_EQ(first_difference(form.expected(), got), "") << "window " << window;
    }
    dup2(saved_stdin, 0);
    close(saved_stdin);
}

// A body the parser cannot take stops the process at every window size, also when the fault
// lies beyond the first window.
TEST_F(Streaming, MalformedBodiesStopTheProcessAtEveryWindowSize) {
    MultipartBody form("StopB");
    const std::string line = "--StopB\r\n";
    const std::string long_upload =
        "Content-Disposition: form-data; name=\"u\"; filename=\"u\"\r\n"
        "Content-Type: a/b\r\n\r\n" +
        std::string(600, 'u') + "\r\n";
    const std::string bodies[] = {
        "preamble\r\n" + MultipartBody("StopB").field("a", "1").close(),
        MultipartBody("StopB").field("a", std::string(300, 'a')).close() + "\r\n\r\n",
        line + "Content-Type: text/plain\r\n\r\nx\r\n--StopB--\r\n",
        line + "Content-Disposition: form-data; name=\"a\"\r\n\r\n" + std::string(500, 'v') +
            "no closing line",
        line + "Content-Disposition: form-data; name=\"a\"\r\n\r\nx\r\n--StopB",
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
            EXPECT_EQ(outcome_in_child(form.content_type(), body, body.size(), window), "stopped")
                << "window " << window << ": " << shown(body);
        }
    }
}

// Wherever a body declared whole is cut short beyond the first window, a small window ends the
// request as the default window does: stopped, or with the same pairs and the length really
// read. (A cut within the first window reads the same at every size.)
TEST_F(Streaming, EveryCutOfABodyEndsAsAWholeReadDoesAtEveryWindowSize) {
    Form form("q");
    form.text("n", "J\r\n")
        .upload("r", "f", "a/b", std::string("\0\xFF\r\n-q\r\n--", 10) + std::string(60, 'r'))
        .upload("s", "g", "", "\r\n--")
        .text("t", "end");
    const std::string body = form.body();
    const std::size_t smallest = smallest_window(1);
    for (std::size_t cut = smallest + 1; cut <= body.size(); ++cut) {
        const std::string part = body.substr(0, cut);
        const std::string whole = outcome_in_child(form.content_type(), part, body.size(), 0);
        if (cut == body.size()) {
            ASSERT_EQ(whole, encoded(form.expected()));
        } else if (whole != "stopped") {
            // Only a body missing the end of its closing line gives pairs.
            ASSERT_GE(cut, body.size() - 2) << whole;
            ASSERT_EQ(whole.substr(0, whole.find('\n')), "4 pairs, length " + std::to_string(cut));
        }
        // One fork per size is slow under the sanitizers: the sizes take turns.
        const std::size_t window = smallest + cut % 7;
        EXPECT_EQ(outcome_in_child(form.content_type(), part, body.size(), window), whole)
            << "cut at " << cut << ", window " << window;
    }
}

namespace {

// The bytes of a large upload, made again in the same order as often as needed: pseudo-random
// bytes with, every few thousand bytes, a line break and the delimiter with its last byte
// replaced.
class UploadBytes {
  public:
    explicit UploadBytes(const std::string& delimiter)
        : near_("\r\n" + delimiter.substr(0, delimiter.size() - 1) + "#") {}
    void next(char* out, std::size_t count) {
        constexpr std::uint64_t kNearPeriod = 5003;
        for (std::size_t i = 0; i < count; ++i, ++position_) {
            const std::uint64_t in_period = position_ % kNearPeriod;
            if (in_period < near_.size()) {
                out[i] = near_[in_period];
            } else {
                state_ = state_ * 6364136223846793005u + 1442695040888963407u;
                out[i] = static_cast<char>(state_ >> 56);
            }
        }
    }

  private:
    std::string near_;
    std::uint64_t position_ = 0;
    std::uint64_t state_ = 88172645463325252u;
};

constexpr std::size_t kLargeUpload = std::size_t{96} << 20;
constexpr std::size_t kChunk = std::size_t{1} << 20;
constexpr int kLargeChecked = 30;

[[noreturn]] void fail_large(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::_Exit(1);
}

// Lets the process map no more than it has mapped now and 48 MiB.
void limit_address_space() {
    long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm || std::fscanf(statm, "%ld", &pages) != 1) fail_large("cannot read statm");
    std::fclose(statm);
    const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) +
                         (rlim_t{48} << 20);
    const rlimit cap{limit, limit};
    if (setrlimit(RLIMIT_AS, &cap) != 0) fail_large("cannot limit the address space");
}

// Under an address-space limit far below the upload's size: collects the pairs with uploads
// spooled into `folder`, then checks the upload's file in pieces, never mapping it.
[[noreturn]] void collect_large_upload_under_limit(const char* folder,
                                                   const std::string& delimiter) {
    limit_address_space();
    auto request = make_request();
    request->spool_uploads_in(folder);
    const int fd = request->upload_descriptor("big");
    if (request->pair_count != 3) fail_large("not three pairs");
    if (fd < 0) fail_large("the upload is not in a file");
    struct stat st {};
    if (fstat(fd, &st) != 0 || static_cast<std::size_t>(st.st_size) != kLargeUpload)
        fail_large("the file does not have the upload's size");
    std::vector<char> want(kChunk);
    std::vector<char> got(kChunk);
    UploadBytes bytes(delimiter);
    for (std::size_t at = 0; at < kLargeUpload; at += kChunk) {
        bytes.next(want.data(), kChunk);
        if (platform::read_at(fd, got.data(), kChunk, static_cast<std::int64_t>(at)) !=
                static_cast<std::int64_t>(kChunk) ||
            std::memcmp(want.data(), got.data(), kChunk) != 0)
            fail_large("the file's bytes differ from the upload's");
    }
    const char* before = request->get_value("before");
    const char* after = request->get_value("after");
    if (!before || std::strcmp(before, "first") != 0) fail_large("the field before is wrong");
    if (!after || std::strcmp(after, "last") != 0) fail_large("the field after is wrong");
    std::_Exit(kLargeChecked);
}

}  // namespace

TEST_F(Streaming, AnUploadFarLargerThanTheMemoryAllowedIsSpooledWhole) {
    if (kUnderAddressSanitizer) GTEST_SKIP() << "an address-space limit needs a plain build";
    const MultipartBody form("LargeBodyBoundary5f2c9e");
    const std::string delimiter = "--" + form.boundary;
    const std::string head =
        delimiter + "\r\nContent-Disposition: form-data; name=\"before\"\r\n\r\nfirst\r\n" +
        delimiter + "\r\nContent-Disposition: form-data; name=\"big\"; filename=\"big.bin\"\r\n" +
        "Content-Type: application/octet-stream\r\n\r\n";
    const std::string tail =
        "\r\n" + MultipartBody(form.boundary).field("after", "last\r\n").close();
    BodyFile file(head);
    std::vector<char> chunk(kChunk);
    UploadBytes bytes(delimiter);
    for (std::size_t at = 0; at < kLargeUpload; at += kChunk) {
        bytes.next(chunk.data(), kChunk);
        file.append(chunk.data(), kChunk);
    }
    file.append(tail.data(), tail.size());

    TempFolder spool;
    set_cgi_env({{"REQUEST_METHOD", "POST"},
                 {"CONTENT_TYPE", form.content_type()},
                 {"CONTENT_LENGTH", std::to_string(file.size())}});
    file.attach();
    EXPECT_EXIT(collect_large_upload_under_limit(spool.path().c_str(), delimiter),
                testing::ExitedWithCode(kLargeChecked), "");
}

namespace {

constexpr int kUploadCount = 8;
constexpr std::size_t kMemoryUpload = std::size_t{2} << 20;

std::string memory_upload(int index) {
    std::string bytes(kMemoryUpload, static_cast<char>('a' + index));
    bytes[kMemoryUpload / 2] = '\0';
    return bytes;
}

// Under the same limit, with the uploads held in memory: collects them and checks each one.
[[noreturn]] void collect_memory_uploads_under_limit() {
    limit_address_space();
    auto request = make_request();
    request->collect_pairs();
    if (request->pair_count != kUploadCount + 1) fail_large("pairs are missing");
    for (int i = 0; i < kUploadCount; ++i) {
        const std::string name = "u" + std::to_string(i);
        if (file_value(*request, name.c_str()) != memory_upload(i)) fail_large("an upload differs");
    }
    const char* after = request->get_value("after");
    if (!after || std::strcmp(after, "last") != 0) fail_large("the field after is wrong");
    std::_Exit(kLargeChecked);
}

}  // namespace

// Uploads held in memory take about the memory of their bytes, however much of the body is
// still to come when each begins: 16 MiB of uploads fit a limit of 48 MiB.
TEST_F(Streaming, UploadsHeldInMemoryNeedAboutTheMemoryOfTheirBytes) {
    if (kUnderAddressSanitizer) GTEST_SKIP() << "an address-space limit needs a plain build";
    MultipartBody form("MemoryUploadsBoundary");
    for (int i = 0; i < kUploadCount; ++i) {
        const std::string name = "u" + std::to_string(i);
        form.file(name, name + ".bin", "application/octet-stream", memory_upload(i));
    }
    const std::string body = form.field("after", "last").close();
    set_cgi_env({{"REQUEST_METHOD", "POST"},
                 {"CONTENT_TYPE", form.content_type()},
                 {"CONTENT_LENGTH", std::to_string(body.size())}});
    const BodyFile file(body);
    file.attach();
    EXPECT_EXIT(collect_memory_uploads_under_limit(), testing::ExitedWithCode(kLargeChecked), "");
}
