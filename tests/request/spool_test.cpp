// Uploads spooled into unnamed files: the same bytes as uploads held in memory, never a visible
// file, nothing left once the request is gone, memory where no file can be made or written; and
// the file operations behind them (link_as_temp_file, MappedFile).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cgi/body_window.h"
#include "platform/files.h"
#include "platform/mapped_file.h"
#include "request_test_support.h"

namespace {

// Descriptors of this process open on files in `folder` (an unnamed file shows there as
// "<folder>/#<inode> (deleted)").
int open_files_in(const std::string& folder) {
    int count = 0;
    const std::string prefix = folder + "/";
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (!error && target.compare(0, prefix.size(), prefix) == 0) ++count;
    }
    return count;
}

// `size` bytes without a NUL, so that a terminator read from the wrong place shows.
std::string pattern_bytes(std::size_t size, char first = 'a') {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(first + i % 23);
    return bytes;
}

std::string every_byte_value() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
    return bytes + "\r\n--" + std::string(5, '\0');
}

struct Upload {
    std::string name;
    std::string content;
};

// Text fields around uploads of awkward lengths and bytes, one of them with a Content-Type line
// but no file name.
struct SpoolForm {
    MultipartBody form{"SpoolBoundaryK3"};
    std::vector<Upload> uploads = {
        {"nuls", std::string("a\0b\0\0c", 6)},  {"empty", ""},
        {"page", pattern_bytes(4096)},          {"two_pages", pattern_bytes(8192, 'A')},
        {"page_less_one", pattern_bytes(4095)}, {"page_and_one", pattern_bytes(4097)},
        {"every_byte", every_byte_value()},     {"typed_only", "a,b\r\n"}};
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
        form.field("after", "last");
        body = form.close();
    }
};

struct Seen {
    std::string value;
    std::string file_name;
    std::string file_type;
    bool terminated = false;
    bool same_as_get_value = false;
};

Seen seen(CgiRequest& request, const std::string& name) {
    std::int32_t length = -1;
    char file_name[SCRATCH_SIZE];
    char file_type[SCRATCH_SIZE];
    const char* value = request.get_file(name.c_str(), &length, file_name, file_type);
    if (!value || length < 0) return {"<missing>", "", "", false, false};
    const auto size = static_cast<std::size_t>(length);
    return {std::string(value, size), file_name, file_type, value[size] == '\0',
            request.get_value(name.c_str()) == value};
}

// What next_pair hands out, pair by pair.
std::vector<std::string> walked(CgiRequest& request) {
    std::vector<std::string> walk;
    char name[64];
    static char value[16384];
    while (request.next_pair(name, value)) walk.push_back(std::string(name) + "=" + value);
    return walk;
}

class Spool : public testing::Test {
  protected:
    void TearDown() override { set_body_window_size(0); }
};

}  // namespace

TEST_F(Spool, SpooledUploadsGiveTheBytesOfMemoryUploadsAndLeaveNoFile) {
    const SpoolForm spool_form;
    for (std::size_t window : {std::size_t{1}, std::size_t{0}}) {
        SCOPED_TRACE("window " + std::to_string(window));
        set_body_window_size(window);
        auto memory = multipart_request(spool_form.form, spool_form.body);
        memory->collect_pairs();  // reads the rest of standard input before it is replaced

        TempFolder folder;
        auto spooled = multipart_request(spool_form.form, spool_form.body);
        spooled->spool_uploads_in(folder.c_str());
        EXPECT_TRUE(folder.entries().empty());
        spooled->collect_pairs();
        EXPECT_TRUE(folder.entries().empty());
        EXPECT_EQ(open_files_in(folder.path()), static_cast<int>(spool_form.uploads.size()));
        ASSERT_EQ(spooled->pair_count, memory->pair_count);

        for (const Upload& upload : spool_form.uploads) {
            SCOPED_TRACE(upload.name);
            const int fd = spooled->upload_descriptor(upload.name.c_str());
            ASSERT_GE(fd, 0);
            EXPECT_EQ(memory->upload_descriptor(upload.name.c_str()), -1);
            struct stat st {};
            ASSERT_EQ(fstat(fd, &st), 0);
            EXPECT_EQ(st.st_nlink, 0u) << "the file has a name";
            EXPECT_EQ(static_cast<std::size_t>(st.st_size), upload.content.size());
            EXPECT_EQ(lseek(fd, 0, SEEK_CUR), static_cast<off_t>(upload.content.size()));

            const Seen from_file = seen(*spooled, upload.name);
            const Seen from_memory = seen(*memory, upload.name);
            EXPECT_TRUE(from_file.value == upload.content);
            EXPECT_TRUE(from_memory.value == upload.content);
            EXPECT_EQ(from_file.file_name, from_memory.file_name);
            EXPECT_EQ(from_file.file_type, from_memory.file_type);
            EXPECT_TRUE(from_file.terminated);
            EXPECT_TRUE(from_file.same_as_get_value);
        }
        for (const std::string& name : spool_form.text_fields) {
            EXPECT_EQ(spooled->upload_descriptor(name.c_str()), -1) << name;
            EXPECT_EQ(seen(*spooled, name).value, seen(*memory, name).value) << name;
        }
        EXPECT_EQ(spooled->upload_descriptor("no such field"), -1);
        EXPECT_EQ(walked(*spooled), walked(*memory));
        EXPECT_TRUE(folder.entries().empty());

        spooled.reset();
        EXPECT_EQ(open_files_in(folder.path()), 0);
        EXPECT_TRUE(folder.entries().empty());
    }
}

// While an upload streams into its file the folder shows nothing either: the body arrives
// through a pipe and is held back in the middle of the upload until its file is open.
TEST_F(Spool, TheSpoolFolderShowsNoFileWhileAnUploadArrives) {
    MultipartBody form("MidUpload");
    const std::string content = pattern_bytes(100000);
    const std::string body = form.field("a", "1").file("big", "big.bin", "", content).close();
    const std::size_t middle = body.find(content) + content.size() / 2;
    TempFolder folder;
    const int saved_stdin = dup(0);
    ASSERT_GE(saved_stdin, 0);
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    ASSERT_EQ(dup2(pipe_fds[0], 0), 0);
    close(pipe_fds[0]);

    bool file_seen_open = false;
    std::vector<std::string> listed_meanwhile = {"<not listed>"};
    std::thread writer([&, out = pipe_fds[1]] {
        auto send = [out](const char* data, std::size_t size) {
            while (size > 0) {
                const ssize_t n = write(out, data, size);
                if (n <= 0) return;
                data += n;
                size -= static_cast<std::size_t>(n);
            }
        };
        send(body.data(), middle);
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!file_seen_open && std::chrono::steady_clock::now() < give_up) {
            file_seen_open = open_files_in(folder.path()) == 1;
            if (!file_seen_open) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        listed_meanwhile = folder.entries();
        send(body.data() + middle, body.size() - middle);
        close(out);
    });
    set_body_window_size(4099);
    set_cgi_env({{"REQUEST_METHOD", "POST"},
                 {"CONTENT_TYPE", form.content_type()},
                 {"CONTENT_LENGTH", std::to_string(body.size())}});
    auto request = make_request();
    request->spool_uploads_in(folder.c_str());
    request->collect_pairs();
    writer.join();
    dup2(saved_stdin, 0);
    close(saved_stdin);

    EXPECT_TRUE(file_seen_open);
    EXPECT_TRUE(listed_meanwhile.empty());
    EXPECT_GE(request->upload_descriptor("big"), 0);
    EXPECT_TRUE(file_value(*request, "big") == content);
    EXPECT_STREQ(request->get_value("a"), "1");
}

TEST_F(Spool, AFolderThatCannotHoldAnUnnamedFileKeepsUploadsInMemory) {
    const SpoolForm spool_form;
    TempFolder scratch;
    const std::string plain_file = scratch.path() + "/plain";
    std::ofstream(plain_file) << "x";
    const std::string read_only = scratch.path() + "/read-only";
    ASSERT_EQ(mkdir(read_only.c_str(), 0555), 0);
    std::vector<std::string> folders = {scratch.path() + "/missing", plain_file, "/proc"};
    // The superuser writes into any folder: a read-only one only stops others.
    if (geteuid() != 0) folders.push_back(read_only);
    for (std::size_t window : {std::size_t{1}, std::size_t{0}}) {
        set_body_window_size(window);
        for (const std::string& spool_folder : folders) {
            SCOPED_TRACE(spool_folder + ", window " + std::to_string(window));
            auto request = multipart_request(spool_form.form, spool_form.body);
            request->spool_uploads_in(spool_folder.c_str());
            request->collect_pairs();
            ASSERT_EQ(request->pair_count,
                      static_cast<std::int32_t>(spool_form.uploads.size() +
                                                spool_form.text_fields.size()));
            for (const Upload& upload : spool_form.uploads) {
                EXPECT_EQ(request->upload_descriptor(upload.name.c_str()), -1) << upload.name;
                const Seen value = seen(*request, upload.name);
                EXPECT_TRUE(value.value == upload.content) << upload.name;
                EXPECT_TRUE(value.terminated) << upload.name;
            }
        }
    }
}

namespace {

constexpr int kMovedIntoMemory = 40;
constexpr rlim_t kFileSizeLimit = 20000;

[[noreturn]] void fail_child(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::_Exit(1);
}

// With files limited to fewer bytes than the first upload: the write that crosses the limit
// fails, and the value goes on in memory whole; a later, smaller upload is still spooled.
[[noreturn]] void collect_past_file_size_limit(std::size_t window, const std::string& folder) {
    MultipartBody form("FsizeBoundary");
    const std::string large = every_byte_value() + pattern_bytes(50000);
    const std::string small = pattern_bytes(300, 'K');
    const std::string body = form.field("before", "b")
                                 .file("large", "large.bin", "application/octet-stream", large)
                                 .file("small", "small.bin", "", small)
                                 .field("after", "a")
                                 .close();
    set_body_window_size(window);
    set_cgi_env({{"REQUEST_METHOD", "POST"},
                 {"CONTENT_TYPE", form.content_type()},
                 {"CONTENT_LENGTH", std::to_string(body.size())}});
    feed_stdin(body);  // before the limit, which would cut this file too
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kFileSizeLimit, kFileSizeLimit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) fail_child("cannot limit file sizes");

    auto request = make_request();
    request->spool_uploads_in(folder.c_str());
    if (request->upload_descriptor("large") != -1) fail_child("the large upload is in a file");
    if (file_value(*request, "large") != large) fail_child("the large upload lost bytes");
    if (request->upload_descriptor("small") < 0) fail_child("the small upload is not spooled");
    if (file_value(*request, "small") != small) fail_child("the small upload differs");
    if (file_value(*request, "before") != "b" || file_value(*request, "after") != "a")
        fail_child("a text field differs");
    if (request->pair_count != 4) fail_child("not four pairs");
    std::_Exit(kMovedIntoMemory);
}

}  // namespace

TEST_F(Spool, AnUploadWhoseFileCannotGrowContinuesInMemory) {
    TempFolder folder;
    for (std::size_t window : {std::size_t{1}, std::size_t{4099}, std::size_t{0}}) {
        EXPECT_EXIT(collect_past_file_size_limit(window, folder.path()),
                    testing::ExitedWithCode(kMovedIntoMemory), "")
            << "window " << window;
    }
    EXPECT_TRUE(folder.entries().empty());
}

// ---- platform::link_as_temp_file ----

TEST(LinkAsTempFile, GivesTheUnnamedFileATemporaryNameWithThePermissionsOfAPlainCreate) {
    const std::string content("linked\0bytes\r\n", 14);
    for (mode_t mask : {mode_t{027}, mode_t{002}}) {
        TempFolder folder;
        const mode_t before = umask(mask);
        platform::UniqueFd file = platform::create_unnamed_file(folder.c_str());
        umask(before);
        ASSERT_TRUE(file.valid());
        ASSERT_TRUE(platform::write_all(file.get(), content.data(), content.size()));

        char first[256];
        char second[256];
        ASSERT_TRUE(platform::link_as_temp_file(file.get(), folder.c_str(), first, sizeof first));
        ASSERT_TRUE(platform::link_as_temp_file(file.get(), folder.c_str(), second, sizeof second));
        EXPECT_STRNE(first, second);
        char pid_hex[32];
        std::snprintf(pid_hex, sizeof pid_hex, "%lx", static_cast<unsigned long>(getpid()));
        const std::regex form(folder.path() + "/\\.tmp-" + pid_hex + "-[0-9a-f]+");
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
    TempFolder folder;
    platform::UniqueFd file = platform::create_unnamed_file(folder.c_str());
    ASSERT_TRUE(file.valid());
    char path[256];
    std::memset(path, 'x', sizeof path);
    EXPECT_FALSE(platform::link_as_temp_file(file.get(), (folder.path() + "/missing").c_str(), path,
                                             sizeof path));
    EXPECT_EQ(path[0], '\0');

    // A path that does not fit is never cut to fit.
    std::memset(path, 'x', sizeof path);
    EXPECT_FALSE(
        platform::link_as_temp_file(file.get(), folder.c_str(), path, folder.path().size() + 8));
    EXPECT_EQ(path[0], '\0');
    EXPECT_TRUE(folder.entries().empty());
}

TEST(LinkAsTempFile, FailsWithAnEmptyPathOnAnotherFileSystem) {
    TempFolder folder;
    struct stat here {};
    ASSERT_EQ(stat(folder.c_str(), &here), 0);
    std::unique_ptr<TempFolder> elsewhere;
    for (const char* parent : {"/dev/shm", "/run", "/var/tmp", "/tmp"}) {
        struct stat there {};
        if (stat(parent, &there) != 0 || there.st_dev == here.st_dev) continue;
        try {
            elsewhere = std::make_unique<TempFolder>(parent);
            break;
        } catch (const std::runtime_error&) {
        }
    }
    if (!elsewhere) GTEST_SKIP() << "no writable folder on another file system";
    platform::UniqueFd file = platform::create_unnamed_file(folder.c_str());
    ASSERT_TRUE(file.valid());
    char path[256];
    std::memset(path, 'x', sizeof path);
    EXPECT_FALSE(platform::link_as_temp_file(file.get(), elsewhere->c_str(), path, sizeof path));
    EXPECT_EQ(path[0], '\0');
    EXPECT_TRUE(elsewhere->entries().empty());
}

// ---- platform::MappedFile ----

namespace {

std::size_t page_size() {
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// An unnamed file in `folder` holding `bytes`.
platform::UniqueFd file_holding(const TempFolder& folder, const std::string& bytes) {
    platform::UniqueFd file = platform::create_unnamed_file(folder.c_str());
    if (!file.valid() || !platform::write_all(file.get(), bytes.data(), bytes.size()))
        throw std::runtime_error("cannot make the file");
    return file;
}

// Whether any page of [address, address + size) is mapped.
bool is_mapped(const void* address, std::size_t size) {
    return msync(const_cast<void*>(address), size, MS_ASYNC) == 0;
}

}  // namespace

TEST(MappedFile, ShowsTheFileFollowedByANul) {
    TempFolder folder;
    const std::size_t page = page_size();
    for (std::size_t length :
         {std::size_t{0}, std::size_t{1}, page - 1, page, page + 1, 2 * page}) {
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

TEST(MappedFile, AMoveKeepsTheViewAndEmptiesTheSource) {
    TempFolder folder;
    const std::size_t page = page_size();
    const std::string first_bytes = pattern_bytes(page);
    const std::string second_bytes = pattern_bytes(page + 1, 'K');
    platform::UniqueFd first_file = file_holding(folder, first_bytes);
    platform::UniqueFd second_file = file_holding(folder, second_bytes);

    const char* first_view = nullptr;
    {
        platform::MappedFile source;
        ASSERT_TRUE(source.map(first_file.get(), page));
        first_view = source.data();
        platform::MappedFile moved(std::move(source));
        EXPECT_EQ(source.data(), nullptr);
        EXPECT_EQ(moved.data(), first_view);

        platform::MappedFile target;
        ASSERT_TRUE(target.map(second_file.get(), page + 1));
        const char* second_view = target.data();
        target = std::move(moved);
        EXPECT_EQ(moved.data(), nullptr);
        EXPECT_EQ(target.data(), first_view);
        EXPECT_FALSE(is_mapped(second_view, page)) << "the view assigned over is still mapped";
        EXPECT_EQ(std::memcmp(target.data(), first_bytes.data(), page), 0);
        EXPECT_EQ(target.data()[page], '\0');
        EXPECT_TRUE(is_mapped(first_view, page));
    }
    EXPECT_FALSE(is_mapped(first_view, page)) << "the view outlived its object";
}
