// The resume streams into an unnamed file in the store while the body arrives and is linked into
// place: one regular file, byte for byte, with a plain create's permissions and no temporary name
// left behind. Where it cannot be linked (no default store root to spool in, a store root on
// another file system) its bytes are written as before.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "application.h"

namespace {

// Resume bytes of every value, with the test delimiter but its last byte every few thousand.
std::string resume_bytes(std::size_t size) {
    const std::string near = "\r\n--" + std::string(TEST_BOUNDARY).substr(0, 20);
    std::string bytes(size, '\0');
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t in_period = i % 4093;
        if (in_period < near.size()) {
            bytes[i] = near[in_period];
        } else {
            state = state * 6364136223846793005u + 1442695040888963407u;
            bytes[i] = static_cast<char>(state >> 56);
        }
    }
    return bytes;
}

// Every name under `root` that begins ".tmp-": a staged file left behind. The register of runs
// (the folder .tmp-runs, kept from run to run) is none, but an entry left in it is.
std::vector<std::string> temporary_names(const fs::path& root) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename() == ".tmp-runs" && entry.is_directory()) continue;
        if (entry.path().filename().string().rfind(".tmp-", 0) == 0)
            names.push_back(entry.path().string());
    }
    return names;
}

// A stored resume is one regular file of exactly these bytes with a plain create's permissions.
void expect_stored_resume(const fs::path& path, const std::string& bytes, mode_t mask = 022) {
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
    EXPECT_EQ(st.st_nlink, 1u) << path;
    EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask) << path << std::oct << " umask " << mask;
    const std::string stored = read_file(path);
    EXPECT_EQ(stored.size(), bytes.size()) << path;
    EXPECT_TRUE(stored == bytes) << path << ": the bytes differ";
}

bool thanked(const CgiResult& result) {
    return result.exit_status == 0 && result.out.find("<h1>Thank You!</h1>") != std::string::npos;
}

}  // namespace

// Folders, pages, the list and the resume (a small one and one of many windows) get the
// permissions of a plain create under every umask.
TEST_F(AppTest, StoredFilesAndFoldersGetThePermissionsOfAPlainCreate) {
    Application small;
    Application application;
    application.file_name = "cv.bin";
    application.resume = resume_bytes(70000);
    for (const Application* sent : {&small, &application}) {
        for (mode_t mask : {mode_t{022}, mode_t{027}, mode_t{002}, mode_t{077}}) {
            StoreDir work("apply-spool");
            CgiCall call = work.call_for(*sent);
            call.umask_value = mask;
            EXPECT_TRUE(thanked(run_cgi(call))) << std::oct << mask;
            fs::path folder = work.path() / "people" / "Jane Doe";
            expect_stored_resume(folder / sent->file_name, sent->resume, mask);
            EXPECT_EQ(mode_of(folder), 0777u & ~mask) << std::oct << mask;
            EXPECT_EQ(mode_of(folder / "index.html"), 0666u & ~mask) << std::oct << mask;
            EXPECT_EQ(mode_of(work.path() / "people" / "index.html"), 0666u & ~mask)
                << std::oct << mask;
            EXPECT_EQ(temporary_names(work.path()), std::vector<std::string>{});
        }
    }
}

TEST_F(AppTest, AStoredResumeSubmittedAgainIsReplacedInPlace) {
    Application application;
    application.file_name = "cv.bin";
    application.resume = resume_bytes(70000);
    // Submitted again, the new resume replaces the old one in place: still one link.
    submit(application);
    application.resume = resume_bytes(1000);
    EXPECT_TRUE(thanked(submit(application)));
    expect_stored_resume(people() / "Jane Doe" / "cv.bin", application.resume);
    EXPECT_EQ(temporary_names(work()), std::vector<std::string>{});
}

TEST_F(AppTest, WithoutTheDefaultStoreRootTheResumeIsStoredFromMemory) {
    fs::remove(people());
    declare_store_root(work() / "applicants");
    Application application;
    application.directory = "applicants";
    application.file_name = "cv.bin";
    application.resume = resume_bytes(50000);
    EXPECT_TRUE(thanked(submit(application)));
    expect_stored_resume(work() / "applicants" / "Jane Doe" / "cv.bin", application.resume);
    EXPECT_FALSE(fs::exists(people()));
    EXPECT_EQ(temporary_names(work()), std::vector<std::string>{});
}

TEST_F(AppTest, AStoreRootOnAnotherFileSystemGetsTheResumeWritten) {
    struct stat here {};
    ASSERT_EQ(stat(work().c_str(), &here), 0);
    struct stat shm {};
    if (stat("/dev/shm", &shm) != 0 || shm.st_dev == here.st_dev || access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no writable /dev/shm on another file system";
    TempDir elsewhere("apply-elsewhere", "/dev/shm");
    fs::create_directory_symlink(elsewhere.path(), work() / "elsewhere");
    declare_store_root(elsewhere.path());
    Application application;
    application.directory = "elsewhere";
    application.file_name = "cv.bin";
    application.resume = resume_bytes(30000);
    EXPECT_TRUE(thanked(submit(application)));
    expect_stored_resume(elsewhere.path() / "Jane Doe" / "cv.bin", application.resume);
    EXPECT_EQ(temporary_names(elsewhere.path()), std::vector<std::string>{});
    EXPECT_EQ(temporary_names(work()), std::vector<std::string>{});
}

TEST_F(AppTest, AFortyMebibyteResumeIsStoredByteForByte) {
    Application application;
    application.file_name = "large.bin";
    application.resume = resume_bytes(std::size_t{40} << 20);
    EXPECT_TRUE(thanked(submit(application)));
    expect_stored_resume(people() / "Jane Doe" / "large.bin", application.resume);
    EXPECT_EQ(temporary_names(work()), std::vector<std::string>{});
}
