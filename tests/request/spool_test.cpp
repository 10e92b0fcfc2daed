// Uploads spooled into unnamed files: the same bytes as uploads held in memory, never a visible
// file, nothing left once the request is gone, memory where no file can be made or written; and
// the file operations behind them (link_as_temp_file, MappedFile).
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cgi/body_window.h"
#include "platform/mapped_file.h"
#include "request_test_support.h"

namespace {

// Descriptors of this process open on files in `folder` (an unnamed file shows there as
// "<folder>/#<inode> (deleted)").
int open_files_in(const std::string& folder) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (!error && target.starts_with(folder + "/")) ++count;
    }
    return count;
}

const std::string kEveryByte = every_byte_value("\r\n--" + std::string(5, '\0'));

struct Upload {
    std::string name;
    std::string content;
};

// Text fields around uploads of awkward lengths and bytes, one of them with a Content-Type line
// but no file name.
struct SpoolForm {
    MultipartBody form{"SpoolBoundaryK3"};
    std::vector<Upload> uploads = {{"nuls", std::string("a\0b\0\0c", 6)},
                                   {"empty", ""},
                                   {"page", pattern_bytes(4096)},
                                   {"two_pages", pattern_bytes(8192, 'A')},
                                   {"page_less_one", pattern_bytes(4095)},
                                   {"page_and_one", pattern_bytes(4097)},
                                   {"every_byte", kEveryByte},
                                   // Past the step at which a body viewed in place lets go of
                                   // the pages it has passed.
                                   {"megabytes", pattern_bytes((std::size_t{5} << 19) + 3, 'M')},
                                   {"typed_only", "a,b\r\n"}};
    std::vector<std::string> text_fields = {"before", "middle", "after"};
    std::string body;

    SpoolForm() {
        form.field("before", "first");
        for (const Upload& upload : uploads) {
            if (upload.name == "typed_only") {
                form.raw("--" + form.boundary + "\r\nContent-Disposition: form-data; name=\"" +
                         upload.name + "\"\r\nContent-Type: text/csv\r\n\r\n" + upload.content +
                         "\r\n");
            } else {
                form.file(upload.name, upload.name + ".bin",
                          upload.name == "page" ? "" : "application/octet-stream", upload.content);
            }
            if (upload.name == "page") form.field("middle", "x\r\ny\r\n");
        }
        body = form.field("after", "last").close();
    }
};

// How standard input holds the body: a pipe (read as it streams), or a file the body begins in
// after other bytes, on the spool folder's file system or on another one (an unnamed memory
// file); uploads are copied from a file in the kernel.
enum class Stdin { pipe, file, other_file_system };

void feed_stdin_after_prefix(Stdin kind, const std::string& body) {
    const std::string bytes = "bytes before the body\r\n--SpoolBoundaryK3\r\n" + body;
    const int fd = kind == Stdin::file ? open("/tmp", O_TMPFILE | O_RDWR, 0600)
                                       : memfd_create("spool-test-stdin", 0);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(platform::write_all(fd, bytes.data(), bytes.size()));
    const auto start = static_cast<off_t>(bytes.size() - body.size());
    ASSERT_EQ(lseek(fd, start, SEEK_SET), start);
    ASSERT_EQ(dup2(fd, 0), 0);
    close(fd);
}

// Standard input holding `body` as `kind` says while the request reads it.
std::unique_ptr<CgiRequest> spooled_request(Stdin kind, const std::string& body,
                                            const std::string& folder, RequestOptions options) {
    std::optional<PipedStdin> input;
    if (kind == Stdin::pipe) {
        input.emplace([&body](int out) { platform::write_all(out, body.data(), body.size()); });
    } else {
        feed_stdin_after_prefix(kind, body);
    }
    auto request = make_request({"/srv/cgi-bin/apply.cgi"}, options);
    request->spool_uploads_in(folder.c_str());
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    request->collect_pairs();
    return request;
}

}  // namespace

TEST(Spool, SpooledUploadsGiveTheBytesOfMemoryUploadsAndLeaveNoFile) {
    const SpoolForm spool_form;
    std::vector<std::pair<Stdin, std::size_t>> inputs;
    for (const Stdin kind : {Stdin::pipe, Stdin::file, Stdin::other_file_system})
        for (std::size_t window : {std::size_t{1}, std::size_t{4099}, std::size_t{0}})
            inputs.emplace_back(kind, window);
    for (const auto& [kind, window] : inputs) {
        SCOPED_TRACE("standard input " + std::to_string(static_cast<int>(kind)) + ", window " +
                     std::to_string(window));
        const RequestOptions options{.body_window = window};
        auto memory = multipart_request(spool_form.form, spool_form.body, "", options);
        memory->collect_pairs();  // reads the rest of standard input before it is replaced

        TempDir folder("request-test");
        auto spooled = spooled_request(kind, spool_form.body, folder.path().string(), options);
        EXPECT_TRUE(folder.entries().empty());
        EXPECT_EQ(open_files_in(folder.path().string()), static_cast<int>(spool_form.uploads.size()));
        ASSERT_EQ(spooled->pair_count(), memory->pair_count());

        for (const auto& [name, content] : spool_form.uploads) {
            SCOPED_TRACE(name);
            const int fd = spooled->upload_descriptor(name.c_str());
            ASSERT_GE(fd, 0);
            EXPECT_EQ(memory->upload_descriptor(name.c_str()), -1);
            struct stat st {};
            ASSERT_EQ(fstat(fd, &st), 0);
            EXPECT_EQ(st.st_nlink, 0u) << "the file has a name";
            EXPECT_EQ(static_cast<std::size_t>(st.st_size), content.size());
            EXPECT_EQ(lseek(fd, 0, SEEK_CUR), static_cast<off_t>(content.size()));

            const FileValue from_file = upload(*spooled, name.c_str());
            const FileValue from_memory = upload(*memory, name.c_str());
            EXPECT_TRUE(from_file.value == content);
            EXPECT_TRUE(from_memory.value == content);
            EXPECT_EQ(from_file.file_name, from_memory.file_name);
            EXPECT_EQ(from_file.file_type, from_memory.file_type);
            EXPECT_TRUE(from_file.terminated);
            EXPECT_EQ(spooled->get_value(name.c_str()), from_file.data);
        }
        for (const std::string& name : spool_form.text_fields) {
            EXPECT_EQ(spooled->upload_descriptor(name.c_str()), -1) << name;
            EXPECT_EQ(file_value(*spooled, name.c_str()), file_value(*memory, name.c_str()));
        }
        EXPECT_EQ(spooled->upload_descriptor("no such field"), -1);
        EXPECT_EQ(all_pairs(*spooled), all_pairs(*memory));
        EXPECT_TRUE(folder.entries().empty());

        spooled.reset();
        EXPECT_EQ(open_files_in(folder.path().string()), 0);
        EXPECT_TRUE(folder.entries().empty());
    }
}

// While an upload streams into its file the folder shows nothing either: the body arrives
// through a pipe and is held back in the middle of the upload until its file is open.
TEST(Spool, TheSpoolFolderShowsNoFileWhileAnUploadArrives) {
    MultipartBody form("MidUpload");
    const std::string content = pattern_bytes(100000);
    const std::string body = form.field("a", "1").file("big", "big.bin", "", content).close();
    const std::size_t middle = body.find(content) + content.size() / 2;
    TempDir folder("request-test");
    bool file_seen_open = false;
    std::vector<std::string> listed_meanwhile = {"<not listed>"};
    set_post_env(form.content_type(), std::to_string(body.size()));
    std::unique_ptr<CgiRequest> request;
    {
        PipedStdin input([&](int out) {
            platform::write_all(out, body.data(), middle);
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!file_seen_open && std::chrono::steady_clock::now() < give_up) {
                file_seen_open = open_files_in(folder.path().string()) == 1;
                if (!file_seen_open) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            listed_meanwhile = folder.entries();
            platform::write_all(out, body.data() + middle, body.size() - middle);
        });
        request = make_request({"/srv/cgi-bin/apply.cgi"}, {.body_window = 4099});
        request->spool_uploads_in(folder.path().c_str());
        request->collect_pairs();
    }
    EXPECT_TRUE(file_seen_open);
    EXPECT_TRUE(listed_meanwhile.empty());
    EXPECT_GE(request->upload_descriptor("big"), 0);
    EXPECT_TRUE(file_value(*request, "big") == content);
    EXPECT_STREQ(request->get_value("a"), "1");
}

TEST(Spool, AFolderThatCannotHoldAnUnnamedFileKeepsUploadsInMemory) {
    const SpoolForm spool_form;
    TempDir scratch("request-test");
    const std::string plain_file = scratch.path().string() + "/plain";
    std::ofstream(plain_file) << "x";
    const std::string read_only = scratch.path().string() + "/read-only";
    ASSERT_EQ(mkdir(read_only.c_str(), 0555), 0);
    std::vector<std::string> folders = {scratch.path().string() + "/missing", plain_file, "/proc"};
    // The superuser writes into any folder: a read-only one only stops others.
    if (geteuid() != 0) folders.push_back(read_only);
    for (std::size_t window : {std::size_t{1}, std::size_t{0}}) {
        for (const std::string& spool_folder : folders) {
            SCOPED_TRACE(spool_folder + ", window " + std::to_string(window));
            auto request =
                multipart_request(spool_form.form, spool_form.body, "", {.body_window = window});
            request->spool_uploads_in(spool_folder.c_str());
            request->collect_pairs();
            ASSERT_EQ(request->pair_count(),
                      static_cast<std::int32_t>(spool_form.uploads.size() +
                                                spool_form.text_fields.size()));
            for (const auto& [name, content] : spool_form.uploads) {
                EXPECT_EQ(request->upload_descriptor(name.c_str()), -1) << name;
                const FileValue value = upload(*request, name.c_str());
                EXPECT_TRUE(value.value == content) << name;
                EXPECT_TRUE(value.terminated) << name;
            }
        }
    }
}

namespace {

constexpr int kMovedIntoMemory = 40;

// With files limited to fewer bytes than the first upload: the write that crosses the limit
// fails, and the value goes on in memory whole; a later, smaller upload is still spooled.
[[noreturn]] void collect_past_file_size_limit(std::size_t window, const std::string& folder) {
    MultipartBody form("FsizeBoundary");
    const std::string large = kEveryByte + pattern_bytes(50000);
    const std::string small = pattern_bytes(300, 'K');
    const std::string body = form.field("before", "b")
                                 .file("large", "large.bin", "application/octet-stream", large)
                                 .file("small", "small.bin", "", small)
                                 .field("after", "a")
                                 .close();
    set_post_env(form.content_type(), std::to_string(body.size()));
    feed_stdin(body);  // before the limit, which would cut this file too
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{20000, 20000};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) child_fails("cannot limit file sizes");

    auto request = make_request({"/srv/cgi-bin/apply.cgi"}, {.body_window = window});
    request->spool_uploads_in(folder.c_str());
    if (request->upload_descriptor("large") != -1) child_fails("the large upload is in a file");
    if (file_value(*request, "large") != large) child_fails("the large upload lost bytes");
    if (request->upload_descriptor("small") < 0) child_fails("the small upload is not spooled");
    if (file_value(*request, "small") != small) child_fails("the small upload differs");
    if (file_value(*request, "before") != "b" || file_value(*request, "after") != "a")
        child_fails("a text field differs");
    if (request->pair_count() != 4) child_fails("not four pairs");
    std::_Exit(kMovedIntoMemory);
}

}  // namespace

TEST(Spool, AnUploadWhoseFileCannotGrowContinuesInMemory) {
    TempDir folder("request-test");
    for (std::size_t window : {std::size_t{1}, std::size_t{4099}, std::size_t{0}}) {
        EXPECT_EXIT(collect_past_file_size_limit(window, folder.path().string()),
                    testing::ExitedWithCode(kMovedIntoMemory), "")
            << "window " << window;
    }
    EXPECT_TRUE(folder.entries().empty());
}

namespace {

// An unnamed file in `folder` holding `bytes`.
platform::UniqueFd file_holding(const TempDir& folder, const std::string& bytes) {
    platform::UniqueFd file = platform::create_unnamed_file(folder.path().c_str());
    if (!file.valid() || !platform::write_all(file.get(), bytes.data(), bytes.size()))
        throw std::runtime_error("cannot make the file");
    return file;
}

// A failed link leaves an empty path, never a cut one.
void expect_link_fails(int fd, const std::string& folder, std::size_t capacity) {
    char path[256];
    std::memset(path, 'x', sizeof path);
    EXPECT_FALSE(platform::link_as_temp_file(fd, folder.c_str(), path, capacity)) << folder;
    EXPECT_EQ(path[0], '\0') << folder;
}

}  // namespace

TEST(LinkAsTempFile, GivesTheUnnamedFileATemporaryNameWithThePermissionsOfAPlainCreate) {
    const std::string content("linked\0bytes\r\n", 14);
    for (mode_t mask : {mode_t{027}, mode_t{002}}) {
        TempDir folder("request-test");
        const mode_t before = umask(mask);
        platform::UniqueFd file = platform::create_unnamed_file(folder.path().c_str());
        umask(before);
        ASSERT_TRUE(file.valid());
        ASSERT_TRUE(platform::write_all(file.get(), content.data(), content.size()));

        char first[256];
        char second[256];
        ASSERT_TRUE(platform::link_as_temp_file(file.get(), folder.path().c_str(), first, sizeof first));
        ASSERT_TRUE(platform::link_as_temp_file(file.get(), folder.path().c_str(), second, sizeof second));
        EXPECT_STRNE(first, second);
        char pid_hex[32];
        std::snprintf(pid_hex, sizeof pid_hex, "%lx", static_cast<unsigned long>(getpid()));
        const std::regex form(folder.path().string() + "/\\.tmp-" + pid_hex + "-[0-9a-f]+");
        struct stat unnamed {};
        ASSERT_EQ(fstat(file.get(), &unnamed), 0);
        EXPECT_EQ(unnamed.st_nlink, 2u);
        for (const char* path : {first, second}) {
            SCOPED_TRACE(path);
            EXPECT_TRUE(std::regex_match(path, form));
            EXPECT_TRUE(read_file(path) == content);
            struct stat named {};
            ASSERT_EQ(stat(path, &named), 0);
            EXPECT_TRUE(S_ISREG(named.st_mode));
            EXPECT_EQ(named.st_ino, unnamed.st_ino);
            EXPECT_EQ(named.st_mode & 07777, 0666u & ~mask) << std::oct << mask;
        }
        EXPECT_EQ(folder.entries().size(), 2u);
    }
}

TEST(LinkAsTempFile, FailsWithAnEmptyPathWhereTheNameCannotBeMade) {
    TempDir folder("request-test");
    platform::UniqueFd file = file_holding(folder, "");
    expect_link_fails(file.get(), folder.path().string() + "/missing", 256);
    expect_link_fails(file.get(), folder.path().string(), folder.path().string().size() + 8);  // no room
    EXPECT_TRUE(folder.entries().empty());
}

TEST(LinkAsTempFile, FailsWithAnEmptyPathOnAnotherFileSystem) {
    TempDir folder("request-test");
    struct stat here {};
    ASSERT_EQ(stat(folder.path().c_str(), &here), 0);
    std::unique_ptr<TempDir> elsewhere;
    for (const char* parent : {"/dev/shm", "/run", "/var/tmp", "/tmp"}) {
        struct stat there {};
        if (stat(parent, &there) != 0 || there.st_dev == here.st_dev) continue;
        try {
            elsewhere = std::make_unique<TempDir>("request-test", parent);
            break;
        } catch (const std::runtime_error&) {
        }
    }
    if (!elsewhere) GTEST_SKIP() << "no writable folder on another file system";
    platform::UniqueFd file = file_holding(folder, "");
    expect_link_fails(file.get(), elsewhere->path().string(), 256);
    EXPECT_TRUE(elsewhere->entries().empty());
}

namespace {

const std::size_t kPage = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));

// Whether any page of [address, address + size) is mapped.
bool is_mapped(const void* address, std::size_t size) {
    return msync(const_cast<void*>(address), size, MS_ASYNC) == 0;
}

}  // namespace

TEST(MappedFile, ShowsTheFileFollowedByANul) {
    TempDir folder("request-test");
    for (std::size_t length :
         {std::size_t{0}, std::size_t{1}, kPage - 1, kPage, kPage + 1, 2 * kPage}) {
        SCOPED_TRACE(length);
        const std::string bytes = pattern_bytes(length);
        platform::UniqueFd file = file_holding(folder, bytes);
        platform::MappedFile view;
        EXPECT_EQ(view.data(), nullptr);
        ASSERT_TRUE(view.map(file.get(), length));
        ASSERT_NE(view.data(), nullptr);
        EXPECT_EQ(std::memcmp(view.data(), bytes.data(), length), 0);
        EXPECT_EQ(view.data()[length], '\0');
    }
}

TEST(MappedFile, ARangeViewedInOnePassKeepsItsBytesAfterItsPagesAreLetGo) {
    TempDir folder("request-test");
    const std::string bytes = pattern_bytes(4 * kPage + 5);
    platform::UniqueFd file = file_holding(folder, bytes);
    for (std::size_t offset : {std::size_t{0}, std::size_t{1}, kPage + 3}) {
        SCOPED_TRACE(offset);
        const std::size_t length = 3 * kPage;
        platform::MappedFile view;
        ASSERT_TRUE(view.map_for_one_pass(file.get(), static_cast<std::int64_t>(offset), length));
        EXPECT_EQ(std::memcmp(view.data(), bytes.data() + offset, length), 0);
        view.let_go_before(2 * kPage + 1);
        EXPECT_EQ(std::memcmp(view.data(), bytes.data() + offset, length), 0);
    }
}

TEST(MappedFile, AMoveKeepsTheViewAndEmptiesTheSource) {
    TempDir folder("request-test");
    const std::string first_bytes = pattern_bytes(kPage);
    platform::UniqueFd first_file = file_holding(folder, first_bytes);
    platform::UniqueFd second_file = file_holding(folder, pattern_bytes(kPage + 1, 'K'));
    const char* first_view = nullptr;
    {
        platform::MappedFile source;
        ASSERT_TRUE(source.map(first_file.get(), kPage));
        first_view = source.data();
        platform::MappedFile moved(std::move(source));
        EXPECT_EQ(source.data(), nullptr);
        EXPECT_EQ(moved.data(), first_view);

        platform::MappedFile target;
        ASSERT_TRUE(target.map(second_file.get(), kPage + 1));
        const char* second_view = target.data();
        target = std::move(moved);
        EXPECT_EQ(moved.data(), nullptr);
        EXPECT_EQ(target.data(), first_view);
        EXPECT_FALSE(is_mapped(second_view, kPage)) << "the view assigned over is still mapped";
        EXPECT_EQ(std::memcmp(target.data(), first_bytes.data(), kPage), 0);
        EXPECT_EQ(target.data()[kPage], '\0');
        EXPECT_TRUE(is_mapped(first_view, kPage));
    }
    EXPECT_FALSE(is_mapped(first_view, kPage)) << "the view outlived its object";
}
