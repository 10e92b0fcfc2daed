// Submissions that reach into another applicant's folder, swell the store with overlong fields or
// file while the disk is nearly full, and the leftovers of killed runs: each submission is refused
// with nothing written, each leftover cleared, and the store keeps what it held.
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>

#include "application.h"
#include "sanitizers.h"
#include "store_checks.h"

namespace {

constexpr char kMail[] = "jane@example.org";
constexpr char kInterest[] = "Systems programming in C++";

bool thanked(const CgiResult& result) {
    return result.out.find("<h1>Thank You!</h1>") != std::string::npos;
}

}  // namespace

TEST_F(AppTest, SubmissionsThatWouldReachIntoAnApplicantOrAStoreRootAreRefusedUnwritten) {
    Application bob;
    bob.name = "Bob";
    ASSERT_TRUE(thanked(submit(bob)));
    fs::create_directory(people() / "Bob" / "old");
    declare_store_root(people() / "teams");  // declared, but inside a store root: refused
    fs::create_directories(work() / "jobs" / "2026");  // staff's folders, no store root
    fs::create_directory(work() / "docs");
    write_file(work() / "docs" / "index.html", "<p>the site page</p>\n");
    const Snapshot before = snapshot(work());

    // The applicant's folder itself, a folder inside it and one that does not exist yet: each
    // would put the visitor's files inside Bob's folder. A folder inside the store root, and
    // folders of the site that no one declared a store root.
    for (const std::string root :
         {"people/Bob", "people/Bob/old", "people/Bob/new", "people/teams", "jobs", "docs"}) {
        Application visitor;
        visitor.name = "x";
        visitor.directory = root;
        visitor.file_name = "evil.html";
        visitor.resume = "<script>alert(document.cookie)</script>";
        CgiResult result = submit(visitor);
        EXPECT_EQ(result.exit_status, 1) << root;
        EXPECT_EQ(result.out,
                  CANT_CREATE_HEADER + expected_cant_create(root + "/x/index.html") + "</html>\n")
            << root;
        EXPECT_NE(result.err.find("store root '" + root + "' refused"), std::string::npos) << root;
        EXPECT_EQ(changed_paths(before, snapshot(work())), std::vector<std::string>{}) << root;
    }

    // The other way round: a name that is a store root's folder would file an applicant into
    // it, and a resume named as a folder in Bob's would fail only after his page was rewritten.
    Application squatter;
    squatter.name = "teams";
    Application folder_resume = bob;
    folder_resume.file_name = "old";
    for (const auto& [application, shown] :
         {std::pair{squatter, "people/teams/index.html"}, {folder_resume, "people/Bob/old"}}) {
        CgiResult result = submit(application);
        EXPECT_EQ(result.out, CANT_CREATE_HEADER + expected_cant_create(shown) + "</html>\n");
        EXPECT_EQ(changed_paths(before, snapshot(work())), std::vector<std::string>{}) << shown;
    }
}

TEST_F(AppTest, FieldsOverTheirLimitsAreRefusedWithTheirMessageAndNeverEchoed) {
    struct Case {
        const char* what;
        void (*change)(Application&);
        // The form as it is shown again.
        std::string name, mail, resume, interest;
        const char* message;
    };
    const Case cases[] = {
        {"name of 256 bytes", [](Application& a) { a.name = std::string(256, 'n'); }, "", kMail,
         "hello.txt", kInterest, "Please fill out the name field with a shorter name"},
        {"mail of 255 bytes",
         [](Application& a) { a.mail = std::string(243, 'm') + "@example.org"; }, "Jane Doe", "",
         "hello.txt", kInterest,
         "Please fill out the email field with an address of at most 254 bytes"},
        {"interest of 65537 bytes", [](Application& a) { a.interest = std::string(65537, 'i'); },
         "Jane Doe", kMail, "hello.txt", "",
         "Please fill out the interest field with a text of at most 65536 bytes"},
        {"empty name and overlong mail and interest: neither is shown again",
         [](Application& a) {
             a.name = "";
             a.mail = std::string(255, 'm');
             a.interest = std::string(65537, 'i');
         },
         "", "", "hello.txt", "", "Please fill out the name field"},
        {"empty name and a resume file name of 256 bytes: the file name is not shown again",
         [](Application& a) {
             a.name = "";
             a.file_name = std::string(256, 'r');
         },
         "", kMail, "", kInterest, "Please fill out the name field"},
        {"resume file name of 256 bytes",
         [](Application& a) { a.file_name = "C:\\docs\\" + std::string(256, 'r'); }, "Jane Doe",
         kMail, "", kInterest,
         "Please fill out the resume field with a file whose name is shorter"},
    };
    for (const Case& c : cases) {
        Application application;
        c.change(application);
        CgiResult result = submit(application);
        EXPECT_EQ(result.exit_status, 0) << c.what;
        EXPECT_EQ(result.out,
                  HTML_HEADER + expected_form(c.name, c.mail, c.resume, c.interest, c.message))
            << c.what;
        EXPECT_EQ(tree_of(work()), std::set<std::string>{"people"}) << c.what;
    }

    // Values at the limits are filed whole.
    Application longest;
    longest.name = std::string(255, 'n');
    longest.mail = std::string(242, 'm') + "@example.org";
    longest.interest = std::string(65536, 'i');
    longest.file_name = std::string(255, 'r');
    ASSERT_TRUE(thanked(submit(longest)));
    const std::string page = read_file(people() / longest.name / "index.html");
    EXPECT_NE(page.find(">" + longest.mail + "</a>\n<p>\n" + longest.interest + "\n"),
              std::string::npos);
    EXPECT_EQ(read_file(people() / longest.name / longest.file_name), "hello");
}

TEST_F(AppTest, AMalformedReserveSettingIsIgnoredWithALineOnStandardError) {
    for (const std::string setting : {" -5", "-5", "5 MiB", "0x10", "18446744073709551616"}) {
        CgiCall call = call_for(Application{});
        set_env(call, "APPLY_FREE_SPACE_RESERVE", setting);
        CgiResult result = run_cgi(call);
        EXPECT_TRUE(thanked(result)) << setting;
        EXPECT_NE(result.err.find("APPLY_FREE_SPACE_RESERVE=\"" + setting + "\" ignored"),
                  std::string::npos)
            << result.err;
    }
    // The largest number of bytes is a setting like any other: no file system has that free.
    CgiCall call = call_for(Application{});
    set_env(call, "APPLY_FREE_SPACE_RESERVE", "18446744073709551615");
    CgiResult result = run_cgi(call);
    EXPECT_EQ(result.err.find("ignored"), std::string::npos) << result.err;
    EXPECT_EQ(result.out.rfind("Status: 503 Service Unavailable\n", 0), 0u) << result.out;
}

TEST_F(AppTest, AHugeMailOfAmpersandsIsRefusedWithoutSwellingTheAnswerOrTheStore) {
    // Each '&' would take eight bytes in the applicant page and five in the answer. 64 MiB as
    // sent by an attacker; a few MiB show the same under the sanitizers' slower pace.
    const std::size_t size = kUnderAddressSanitizer ? (4u << 20) : (64u << 20);
    Application application;
    application.mail.assign(size, '&');
    CgiResult result = run_cgi(call_for(application), 60);
    ASSERT_FALSE(result.timed_out);
    EXPECT_EQ(result.out, HTML_HEADER + expected_form("Jane Doe", "", "hello.txt", kInterest,
                                                      "Please fill out the email field with an "
                                                      "address of at most 254 bytes"));
    EXPECT_EQ(tree_of(work()), std::set<std::string>{"people"});
}

namespace {

// A tmpfs of its own for one test, mounted on a fresh folder in a private mount namespace of the
// test process: nothing of it is seen outside the process, and it goes with the process at the
// latest. Needs root (CI runs the tests as root); mounted() tells whether it could be had.
class SmallFileSystem : public TempDir {
  public:
    SmallFileSystem(int megabytes, int inodes) : TempDir("small-fs") {
        if (unshare(CLONE_NEWNS) != 0) return;
        if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
        const std::string options = "size=" + std::to_string(megabytes) +
                                    "m,nr_inodes=" + std::to_string(inodes) + ",mode=0777";
        mounted_ = mount("tmpfs", path().c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallFileSystem() {
        if (mounted_) umount2(path().c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    std::uint64_t available() const {
        struct statvfs info {};
        statvfs(path().c_str(), &info);
        return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    }
    std::uint64_t available_inodes() const {
        struct statvfs info {};
        statvfs(path().c_str(), &info);
        return static_cast<std::uint64_t>(info.f_favail);
    }

  private:
    bool mounted_ = false;
};

}  // namespace

TEST(FreeSpaceReserve, ANearlyFullStoreRefusesSubmissionsAndWritesNothing) {
    // 16 MiB, below what one largest submission needs: the default reserve pauses it. Room for
    // 10,100 files, whose default inode reserve is 10 % of them.
    SmallFileSystem small(16, 10100);
    if (!small.mounted()) GTEST_SKIP() << "a private tmpfs needs root";
    const fs::path work = small.path();
    fs::create_directory(work / "people");
    // `reserve` empty: the program's default, scaled to the file system.
    auto submit_with = [&](const std::string& resume, const std::string& reserve) {
        Application application;
        application.resume = resume;
        CgiCall call = multipart_request(work, body_of(application), TEST_BOUNDARY);
        set_env(call, "APPLY_FREE_SPACE_RESERVE", reserve);
        return run_cgi(call);
    };
    auto expect_paused = [&](const CgiResult& result, const Snapshot& before, const char* what) {
        EXPECT_EQ(result.exit_status, 1) << what;
        EXPECT_EQ(result.out.rfind("Status: 503 Service Unavailable\n", 0), 0u) << what;
        EXPECT_EQ(without_time(result.err).rfind("apply.cgi: Applications paused: ", 0), 0u) << what;
        EXPECT_NE(result.out.find("<h1>Applications paused</h1>\n"), std::string::npos) << what;
        EXPECT_NE(result.out.find("nearly full"), std::string::npos) << what;
        EXPECT_EQ(result.out.substr(result.out.size() - 8), "</html>\n") << what;
        EXPECT_EQ(changed_paths(before, snapshot(work / "people")), std::vector<std::string>{})
            << what;
    };

    Snapshot empty = snapshot(work / "people");
    expect_paused(submit_with("hello", ""), empty, "16 MiB free, the default reserve");

    const std::string reserve = std::to_string(8 << 20);
    ASSERT_TRUE(thanked(submit_with("hello", reserve))) << "16 MiB free, a reserve of 8 MiB";

    // With 10 MiB left, a 3 MiB upload would eat into the reserve: it counts once received.
    ASSERT_GT(small.available(), std::uint64_t{10} << 20);
    write_file(work / "ballast", std::string(small.available() - (10 << 20), 'b'));
    Snapshot filed = snapshot(work / "people");
    expect_paused(submit_with(binary_content(3 << 20, 5), reserve), filed, "a 3 MiB upload");
    EXPECT_TRUE(thanked(submit_with("hello", reserve))) << "a small upload still fits";

    // Free inodes count as free bytes do: below the reserve, nothing is written either.
    fs::remove(work / "ballast");
    for (int i = 0; small.available_inodes() >= 1010; ++i)
        write_file(work / ("f" + std::to_string(i)), "");
    Snapshot few_inodes = snapshot(work / "people");
    expect_paused(submit_with("hello", reserve), few_inodes, "fewer than 1,010 free inodes");
}

TEST(FreeSpaceReserve, ASmallStoreVolumeStaysOpenUnderTheDefaultReserve) {
    // A 512 MiB volume with 11 MB used: the default reserve (at least what one largest
    // submission needs, at most 10 % here) leaves it open; a fixed 1 GiB would pause it.
    SmallFileSystem small(512, 32768);
    if (!small.mounted()) GTEST_SKIP() << "a private tmpfs needs root";
    const fs::path work = small.path();
    fs::create_directory(work / "people");
    write_file(work / "ballast", std::string(11 << 20, 'b'));
    Application application;
    EXPECT_TRUE(thanked(run_cgi(multipart_request(work, body_of(application), TEST_BOUNDARY))));
}

TEST_F(AppTest, TemporaryFilesOfKilledRunsGoFromTheFoldersTheyWroteIn) {
    for (const char* name : {"Ann", "Bob"}) {
        Application application;
        application.name = name;
        ASSERT_TRUE(thanked(submit(application)));
    }
    // The names create_temp_file gives: ".tmp-<process id in hex>-<counter>".
    auto temp_name = [](long pid, const char* n) {
        char name[64];
        std::snprintf(name, sizeof name, ".tmp-%lx-%s", pid, n);
        return std::string(name);
    };
    long killed_pid = 0;
    {
        CgiProcess killed(call_for(Application{}), true);
        killed_pid = killed.pid();
        killed.kill_now();
        killed.wait();
    }
    // What a run killed while it wrote leaves: its files, and its entry in the register of runs
    // naming the folder it wrote in (the root itself, for a list or catalogue rewritten).
    const fs::path stale_in_folder = people() / "Bob" / temp_name(killed_pid, "0");
    const fs::path stale_in_root = people() / temp_name(killed_pid, "1");
    const fs::path in_progress = people() / "Ann" / temp_name(getpid(), "0");  // a live process's
    write_file(stale_in_folder, "<html>\n<head>\n<title>\nBo");
    write_file(stale_in_root, "partial");
    write_file(in_progress, "being written");
    fs::create_directory(people() / ".tmp-runs");
    fs::create_symlink("Bob", people() / ".tmp-runs" / temp_name(killed_pid, "run"));
    fs::create_symlink(".", people() / ".tmp-runs" / temp_name(killed_pid, "root"));
    fs::create_symlink("Ann", people() / ".tmp-runs" / temp_name(getpid(), "run"));

    Application other;
    other.name = "Cy";
    ASSERT_TRUE(thanked(submit(other)));
    EXPECT_FALSE(fs::exists(stale_in_folder));
    EXPECT_FALSE(fs::exists(stale_in_root));
    EXPECT_TRUE(fs::exists(in_progress));
    EXPECT_EQ(tree_of(people() / ".tmp-runs"), std::set<std::string>{temp_name(getpid(), "run")});
}
