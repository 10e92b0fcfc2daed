// Store faults made real against the built apply.cgi: a read-only store root, a missing one, a
// full disk (RLIMIT_FSIZE with SIGXFSZ ignored). After each: no partial resume or applicant
// page, every earlier list line intact, every "Thank You!" stored completely.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "store_checks.h"

namespace fs = std::filesystem;

namespace {

void expect_clean_exit(const CgiResult& result) {
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.signal, 0);
    // A failure is said with its status and in one line on standard error; a success is silent.
    const std::size_t header = result.out.find(HTML_HEADER);
    const bool failed = result.out.rfind(CANT_CREATE_HEADER, 0) == 0;
    EXPECT_TRUE(header == 0 || failed) << result.out.substr(0, 200);
    EXPECT_EQ(result.exit_status, failed ? 1 : 0);
    EXPECT_EQ(result.err.empty(), !failed) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), failed ? 1 : 0) << result.err;
}

CgiResult submit(const TempTree& tree, const std::string& name, const std::string& resume,
                 long file_size_limit = -1, bool unprivileged = false) {
    CgiCall call = submission(tree.work, application_parts(name, resume));
    call.file_size_limit = file_size_limit;
    call.unprivileged = unprivileged;
    CgiResult result = run_cgi(call);
    expect_clean_exit(result);
    return result;
}

void make_read_only(const std::string& dir) {
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        fs::permissions(entry.path(),
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    fs::permissions(dir, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

TEST(StoreFaults, ReadOnlyStoreRootRefusesAndChangesNothing) {
    TempTree tree;
    ASSERT_TRUE(is_thank_you(submit(tree, "Ann", binary_content(5000, 1))));
    make_read_only(tree.store);
    Snapshot before = snapshot(tree.store);

    CgiResult again = submit(tree, "Ann", binary_content(6000, 2), -1, true);
    EXPECT_TRUE(is_cant_create(again)) << again.out;
    CgiResult fresh = submit(tree, "Bob", binary_content(6000, 3), -1, true);
    EXPECT_TRUE(is_cant_create(fresh)) << fresh.out;
    EXPECT_NE(fresh.out.find("people/Bob/index.html"), std::string::npos) << fresh.out;

    EXPECT_TRUE(changed_paths(before, snapshot(tree.store)).empty());
}

TEST(StoreFaults, MissingStoreRootNamesTheApplicantPageAndWritesNothing) {
    TempTree tree(false);
    Snapshot before = snapshot(tree.root);
    CgiResult result = submit(tree, "Ann", binary_content(5000, 1));
    EXPECT_TRUE(is_cant_create(result));
    EXPECT_NE(result.out.find("people/Ann/index.html"), std::string::npos) << result.out;
    EXPECT_EQ(result.out, CANT_CREATE_HEADER + expected_cant_create("people/Ann/index.html") + "</html>\n");
    for (const std::string& path : changed_paths(before, snapshot(tree.root))) {
        EXPECT_EQ(path.rfind("outer/work/debug_Quenby_", 0), 0u) << "unexpected file " << path;
    }
    EXPECT_FALSE(fs::exists(tree.store));
}

TEST(StoreFaults, AFolderHoldingAListPageIsAStoreRootNeverAnApplicant) {
    // A store root an older program left inside this one: its list stays its list.
    TempTree tree;
    fs::create_directory(fs::path(tree.store) / "Ann");
    write_file(fs::path(tree.store) / "Ann" / "index.html", "<br><a href=\"Old\">Old</a>\n");
    Snapshot before = snapshot(tree.store);
    CgiResult result = submit(tree, "Ann", binary_content(5000, 1), -1, true);
    EXPECT_TRUE(is_cant_create(result)) << result.out;
    EXPECT_TRUE(changed_paths(before, snapshot(tree.store)).empty());
}

// One run under a file-size limit: whatever the answer, the store stays whole.
struct LimitedRun {
    std::string name;
    std::string resume;
    long limit;
};

TEST(StoreFaults, FullDiskNeverLeavesAPartialFileOrLosesAListLine) {
    TempTree tree;
    // A store with a few applicants, so that the list is longer than the smallest limits.
    std::map<std::string, std::string> stored;  // name -> the resume stored last
    for (const std::string name : {"Ann", "Bea", "Cyd", "Dan"}) {
        stored[name] = binary_content(20000, static_cast<unsigned>(name[0]));
        ASSERT_TRUE(is_thank_you(submit(tree, name, stored[name])));
    }
    const std::string list_path = tree.store + "/index.html";
    const long list_size = static_cast<long>(fs::file_size(list_path));
    const long page_size = static_cast<long>(fs::file_size(tree.store + "/Ann/index.html"));

    std::vector<LimitedRun> runs;
    unsigned seed = 100;
    for (long limit :
         {0L, 1L, 50L, list_size - 1, list_size, list_size + 1, list_size + 20, page_size - 1,
          page_size, page_size + 1, 1000L, 4096L, 19999L, 20000L, 20001L, 65536L}) {
        if (limit < 0) continue;
        // A new applicant and a returning one with a new resume, at every limit.
        seed += 2;
        runs.push_back({"New" + std::to_string(limit), binary_content(20000, seed), limit});
        runs.push_back({"Ann", binary_content(20000 + seed, seed + 1), limit});
    }

    int refused = 0;
    for (const LimitedRun& run : runs) {
        SCOPED_TRACE(run.name + " with a file-size limit of " + std::to_string(run.limit));
        const std::string old_list = read_file(list_path);
        CgiResult result = submit(tree, run.name, run.resume, run.limit);
        const std::string list = read_file(list_path);
        bool whole = false;
        std::vector<std::string> lines = list_lines(list, &whole);

        EXPECT_TRUE(whole) << "the list ends in a whole line";
        EXPECT_EQ(list.rfind(old_list, 0), 0u) << "every earlier list line is intact";
        EXPECT_LE(list.size(), old_list.size() + 200) << "at most one line was added";
        EXPECT_LE(lines_for(lines, run.name), 1);
        EXPECT_TRUE(stray_files(tree.store, {"cv.txt"}).empty())
            << "left behind: " << stray_files(tree.store, {"cv.txt"}).front();

        const std::string dir = tree.store + "/" + run.name;
        const std::string resume = read_file(dir + "/cv.txt");
        const std::string page = read_file(dir + "/index.html");
        if (is_thank_you(result)) {
            EXPECT_EQ(resume, run.resume) << "a thanked submission is stored completely";
            EXPECT_TRUE(applicant_page_complete(page, run.name));
            EXPECT_EQ(lines_for(lines, run.name), 1);
            stored[run.name] = run.resume;
        } else {
            ++refused;
            EXPECT_TRUE(is_cant_create(result)) << result.out.substr(0, 400);
            // The previous version, or nothing, never a part of the new one.
            if (fs::exists(dir + "/cv.txt")) {
                EXPECT_EQ(resume, stored[run.name]);
            }
            if (fs::exists(dir + "/index.html")) {
                EXPECT_TRUE(applicant_page_complete(page, run.name));
            }
            // A new applicant whose list line could not be written leaves no page, so that the
            // next submission of the name still counts as new.
            if (!stored.count(run.name) && lines_for(lines, run.name) == 0) {
                EXPECT_FALSE(fs::exists(dir + "/index.html")) << "an unlisted new applicant's page";
            }
        }
    }
    EXPECT_GT(refused, 0) << "the limits made some writes fail";

    // Without a limit every name goes through and is listed exactly once.
    for (const LimitedRun& run : runs) {
        std::string resume = binary_content(3000, 9);
        ASSERT_TRUE(is_thank_you(submit(tree, run.name, resume)));
        EXPECT_EQ(read_file(tree.store + "/" + run.name + "/cv.txt"), resume);
    }
    bool whole = false;
    std::vector<std::string> lines = list_lines(read_file(list_path), &whole);
    for (const LimitedRun& run : runs) EXPECT_EQ(lines_for(lines, run.name), 1) << run.name;
}

}  // namespace
