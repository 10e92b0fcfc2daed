// The trace log: its file name, timed and untimed writes, and the inert channel.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "app/apply/startup_trace.h"
#include "trace/trace_channels.h"

using cgi::cgi_trace;
using cgi::TraceLog;

namespace {

std::uint32_t fake_now = 0;
std::uint32_t fake_tick() {
    return fake_now;
}

std::string own_file_name(const char* tag) {
    char name[256];
    EXPECT_TRUE(TraceLog::file_name_for(name, sizeof name, tag, platform::process_id()));
    return name;
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The working directory at start-up, where the static start-up log put its file.
const std::string startup_directory = [] {
    char path[PATH_MAX];
    return std::string(getcwd(path, sizeof path) ? path : "");
}();

// Runs each test in a fresh empty working directory.
class TraceLogTest : public testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/trace_test_XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        directory = templ;
        ASSERT_EQ(chdir(directory.c_str()), 0);
    }
    void TearDown() override {
        ASSERT_EQ(chdir(startup_directory.c_str()), 0);
        std::filesystem::remove_all(directory);
    }
    std::string directory;
};

}  // namespace

TEST(TraceFileName, CarriesTheTagAndTheProcessIdInHex) {
    char name[256];
    ASSERT_TRUE(TraceLog::file_name_for(name, sizeof name, "Quenby", 2748));
    EXPECT_STREQ(name, "debug_Quenby_ABC.txt");
    ASSERT_TRUE(TraceLog::file_name_for(name, sizeof name, nullptr, 1));
    EXPECT_STREQ(name, "debug_1.txt");
    ASSERT_TRUE(
        TraceLog::file_name_for(name, sizeof name, std::string(236, 't').c_str(), 0xFFFFFFFF));
    EXPECT_FALSE(
        TraceLog::file_name_for(name, sizeof name, std::string(237, 't').c_str(), 0xFFFFFFFF));
}

TEST(TraceFileName, StartupLogLeavesAnEmptyFile) {
    EXPECT_TRUE(startup_trace.is_open());
    struct stat info {};
    ASSERT_EQ(stat((startup_directory + "/" + own_file_name("Quenby")).c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
}

TEST_F(TraceLogTest, ConstructionTruncatesAnEarlierFileWhichGoesAtTheEndWhenNothingWasWritten) {
    std::ofstream(own_file_name("T")) << "left over";
    {
        TraceLog log("T");
        EXPECT_TRUE(log.is_open());
        EXPECT_EQ(contents(own_file_name("T")), "");
        TraceLog untagged;
        EXPECT_TRUE(untagged.is_open());
        EXPECT_EQ(access(own_file_name(nullptr).c_str(), F_OK), 0);
    }
    EXPECT_NE(access(own_file_name("T").c_str(), F_OK), 0);
    EXPECT_NE(access(own_file_name(nullptr).c_str(), F_OK), 0);
}

TEST_F(TraceLogTest, TimedWritesShowTheMillisecondsSinceThePreviousOne) {
    const std::string expected =
        "   30 ms: first write\nuntimed 1,    12 ms: second\n123456 ms: wide\n";
    {
        fake_now = 1000;
        TraceLog log("T", fake_tick);
        fake_now += 30;
        log.log_timed("first %s\n", "write");
        fake_now += 7;
        log.log("untimed %d, ", 1);
        fake_now += 5;
        log.log_timed("second\n");
        fake_now += 123456;
        log.log_timed("wide\n");
        EXPECT_EQ(contents(own_file_name("T")), expected);  // flushed after every write
    }
    EXPECT_EQ(contents(own_file_name("T")), expected) << "a file written to stays at the end";
}

TEST_F(TraceLogTest, ElapsedTimeSurvivesTheCounterWrappingAround) {
    fake_now = 0xFFFFFFF0u;
    TraceLog log("T", fake_tick);
    fake_now = 0x10;
    log.log_timed("x");
    EXPECT_EQ(contents(own_file_name("T")), "   32 ms: x");
}

TEST_F(TraceLogTest, IsInertWhenTheFileCannotBeCreated) {
    ASSERT_EQ(mkdir(own_file_name("T").c_str(), 0755), 0);  // a directory takes the name
    fake_now = 0;
    TraceLog log("T", fake_tick);
    EXPECT_FALSE(log.is_open());
    log.log("dropped %d\n", 1);
    log.log_timed("dropped\n");
    struct stat info {};
    ASSERT_EQ(stat(own_file_name("T").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

TEST(NullTrace, DiscardsWithoutReadingItsArguments) {
    // A dangling text would crash any channel that formats it.
    cgi_trace.log("%s %d\n", reinterpret_cast<const char*>(16), 1);
}
