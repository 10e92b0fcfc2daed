// 200 submissions to the built apply.cgi, each killed with SIGKILL at a random moment of its
// run. After each: no partial resume or applicant page, every earlier list line intact, every
// "Thank You!" stored completely; at the end every name, submitted once more, is listed once.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "store_checks.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSubmissions = 200;
constexpr int kNames = 12;  // names repeat, so killed rewrites of existing applicants happen too

double seconds_now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void sleep_seconds(double seconds) {
    timespec pause{
        static_cast<time_t>(seconds),
        static_cast<long>((seconds - static_cast<double>(static_cast<time_t>(seconds))) * 1e9)};
    nanosleep(&pause, nullptr);
}

TEST(KilledSubmissions, NeverLeaveAPartialFileOrLoseAListLine) {
    TempTree tree;
    const std::string list_path = tree.store + "/index.html";

    // The length of one whole run, so that the kills spread over all of it.
    double whole_run = 0;
    for (int i = 0; i < 3; ++i) {
        double start = seconds_now();
        CgiResult result =
            run_cgi(submission(tree.work, application_parts("Warmup", binary_content(200000, 1))));
        whole_run += seconds_now() - start;
        ASSERT_TRUE(is_thank_you(result)) << result.out.substr(0, 300);
    }
    whole_run /= 3;

    std::mt19937 random(20261208);
    std::map<std::string, std::set<std::string>> submitted;  // name -> every resume sent
    int killed = 0;
    int completed = 0;
    int stray_seen = 0;
    for (int i = 0; i < kSubmissions; ++i) {
        const std::string name = "Applicant" + std::to_string(i % kNames);
        const std::string resume =
            binary_content(100000 + 997 * static_cast<std::size_t>(i), 1000 + i);
        submitted[name].insert(resume);
        SCOPED_TRACE("submission " + std::to_string(i) + " for " + name);
        const std::string old_list = read_file(list_path);

        CgiProcess process(submission(tree.work, application_parts(name, resume)));
        sleep_seconds(std::uniform_real_distribution<double>(0, 1.2 * whole_run)(random));
        process.kill_now();
        CgiResult result = process.wait();
        // The window follows the machine's pace, so that about half the runs die mid-way
        // whether it is busy or idle.
        if (result.signal == SIGKILL) {
            ++killed;
            whole_run *= 1.05;
        } else {
            ++completed;
            whole_run *= 0.9;
            EXPECT_EQ(result.exit_status, 0);
            EXPECT_EQ(result.err, "");
        }

        const std::string list = read_file(list_path);
        bool whole = false;
        std::vector<std::string> lines = list_lines(list, &whole);
        ASSERT_EQ(list.rfind(old_list, 0), 0u) << "every earlier list line is intact";
        EXPECT_TRUE(whole) << "no torn list line";
        EXPECT_LE(lines_for(lines, name), 1);

        const std::string dir = tree.store + "/" + name;
        if (fs::exists(dir + "/cv.txt")) {
            EXPECT_EQ(submitted[name].count(read_file(dir + "/cv.txt")), 1u) << "a partial resume";
        }
        if (fs::exists(dir + "/index.html")) {
            EXPECT_TRUE(applicant_page_complete(read_file(dir + "/index.html"), name))
                << "a partial page";
        }
        if (is_thank_you(result)) {
            EXPECT_EQ(read_file(dir + "/cv.txt"), resume) << "a thanked submission is stored whole";
            EXPECT_EQ(lines_for(lines, name), 1);
        }
        // A killed run can leave only its hidden temporary file, never a partial file under a
        // name that is served as the applicant's.
        std::vector<std::string> stray = stray_files(tree.store, {"cv.txt"});
        for (const std::string& path : stray) {
            EXPECT_EQ(path.find("/.tmp-"), path.find('/')) << "left behind: " << path;
        }
        stray_seen = static_cast<int>(stray.size());
        if (HasFatalFailure()) return;
    }
    RecordProperty("killed", killed);
    RecordProperty("completed", completed);
    std::printf(
        "%d of %d submissions killed mid-run, %d ran to the end; %d files left under "
        "hidden temporary names by killed runs\n",
        killed, kSubmissions, completed, stray_seen);
    EXPECT_GE(killed, kSubmissions / 4) << "the kills should land inside many runs";

    // Every name once more, to completion: each is then listed exactly once and holds its resume.
    for (int n = 0; n < kNames; ++n) {
        const std::string name = "Applicant" + std::to_string(n);
        const std::string resume = binary_content(5000, 77 + n);
        ASSERT_TRUE(is_thank_you(run_cgi(submission(tree.work, application_parts(name, resume)))));
        EXPECT_EQ(read_file(tree.store + "/" + name + "/cv.txt"), resume);
    }
    // Those runs clear away the temporary files that killed runs left in their folders.
    EXPECT_EQ(stray_files(tree.store, {"cv.txt"}), std::vector<std::string>{});
    bool whole = false;
    std::vector<std::string> lines = list_lines(read_file(list_path), &whole);
    EXPECT_TRUE(whole);
    for (int n = 0; n < kNames; ++n) {
        EXPECT_EQ(lines_for(lines, "Applicant" + std::to_string(n)), 1) << "Applicant" << n;
    }
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(kNames + 1))
        << "one line per name, Warmup included";
}

}  // namespace
