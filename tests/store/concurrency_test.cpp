// Many processes at once against one store: the list gains exactly one whole line per new name.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "application.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The test's own exclusive fcntl lock on the list page, as a concurrent run would take it.
class ListLock {
  public:
    explicit ListLock(const fs::path& list) : fd_(open(list.c_str(), O_RDWR | O_CREAT, 0666)) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        held_ = fd_ >= 0 && fcntl(fd_, F_SETLKW, &lock) == 0;
    }
    ~ListLock() { release(); }
    bool held() const { return held_; }
    void release() {
        if (fd_ >= 0) close(fd_);  // closing drops the lock
        fd_ = -1;
    }

  private:
    int fd_;
    bool held_ = false;
};

// Starts every run and hands out all bodies together while the test holds the list's lock, so
// that every run gets as far as the lock; checks that none gets past it (nothing listed, no
// applicant page placed); then lets them all go at once and waits for them.
std::vector<CgiResult> run_all_at_the_lock(const fs::path& store,
                                           const std::vector<CgiCall>& calls) {
    ListLock lock(store / "index.html");
    EXPECT_TRUE(lock.held());
    std::vector<std::unique_ptr<CgiProcess>> running;
    for (const CgiCall& call : calls) {
        running.push_back(std::make_unique<CgiProcess>(call, /*hold_input=*/true));
    }
    for (auto& run : running) run->release_input();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(fs::file_size(store / "index.html"), 0u) << "a run wrote the list without the lock";
    for (const auto& entry : fs::directory_iterator(store)) {
        EXPECT_FALSE(fs::exists(entry.path() / "index.html"))
            << entry.path() << " was placed without the lock";
    }
    lock.release();
    std::vector<CgiResult> results;
    for (auto& run : running) results.push_back(run->wait());
    return results;
}

}  // namespace

TEST_F(AppTest, ConcurrentNewApplicantsEachGetExactlyOneWholeLine) {
    constexpr int kApplicants = 32;
    std::vector<CgiCall> calls;
    std::set<std::string> expected_lines;
    for (int i = 0; i < kApplicants; ++i) {
        Application application;
        application.name = "Applicant " + std::to_string(100 + i);
        application.resume = std::string(64 * 1024, static_cast<char>('a' + i % 26));
        calls.push_back(call_for(application));
        expected_lines.insert("<br><a href=\"Applicant%20" + std::to_string(100 + i) + "\">" +
                              application.name + "</a>");
    }
    for (const CgiResult& result : run_all_at_the_lock(people(), calls)) {
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_NE(result.out.find("<h1>Thank You!</h1>"), std::string::npos);
    }
    std::string list = read_file(people() / "index.html");
    std::vector<std::string> lines = lines_of(list);
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(kApplicants));
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected_lines);
    EXPECT_EQ(list.back(), '\n');
}

TEST_F(AppTest, ConcurrentSubmissionsOfOneNewNameAddOneLine) {
    constexpr int kSubmissions = 8;
    std::vector<CgiCall> calls;
    for (int i = 0; i < kSubmissions; ++i) {
        Application application;
        application.resume = std::string(64 * 1024, 'r');
        calls.push_back(call_for(application));
    }
    for (const CgiResult& result : run_all_at_the_lock(people(), calls)) {
        EXPECT_NE(result.out.find("<h1>Thank You!</h1>"), std::string::npos);
    }
    EXPECT_EQ(read_file(people() / "index.html"), "<br><a href=\"Jane%20Doe\">Jane Doe</a>\n");
    // Every submission is kept whole, the latest in the folder and each earlier one in a folder
    // of its own; no temporary file is left behind.
    std::set<std::string> files;
    int earlier = 0;
    for (const auto& entry : fs::directory_iterator(people() / "Jane Doe")) {
        if (!entry.is_directory()) {
            files.insert(entry.path().filename().string());
            continue;
        }
        ++earlier;
        EXPECT_EQ(tree_of(entry.path()), (std::set<std::string>{"index.html", "index.json", "hello.txt"}));
    }
    EXPECT_EQ(files, (std::set<std::string>{"index.html", "index.json", "hello.txt"}));
    EXPECT_EQ(earlier, kSubmissions - 1);
}

// Pollers that name a new applicant's folder as their store root while that applicant's first
// submission runs: no folder of an applicant is ever a store root, so they never get in, and the
// victim is listed every time.
TEST_F(AppTest, PollersNeverReachIntoANewApplicantsFolder) {
    constexpr int kTries = 200;
    constexpr int kPollers = 3;
    for (int t = 0; t < kTries; ++t) {
        const std::string victim = "Victim " + std::to_string(t);
        std::vector<std::unique_ptr<CgiProcess>> running;
        running.push_back(std::make_unique<CgiProcess>(call_for({.name = victim}), true));
        for (int p = 0; p < kPollers; ++p) {
            running.push_back(std::make_unique<CgiProcess>(
                call_for({.name = "x", .directory = "people/" + victim}), true));
        }
        for (auto& run : running) run->release_input();
        for (auto& run : running) run->wait();
        EXPECT_EQ(tree_of(people() / victim),
                  (std::set<std::string>{"index.html", "index.json", "hello.txt"}))
            << victim;
    }
    const std::vector<std::string> lines = lines_of(read_file(people() / "index.html"));
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(kTries));
}
