// Backups and restores of a store root: a round trip keeps every byte with strict modes, and
// hostile backups and roots (links out of the tree, FIFOs, devices, cut, missing and extra
// files, manifest paths leaving the tree) are refused or reported with nothing outside read or
// written and the target root left missing or empty.
#include "app/store/store_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

const std::string kResume = binary_content(5000, 7);

// A store root as filing and the console leave it, with the temporary names of runs in
// progress (files being written, the register of runs and its links) that a backup leaves out.
void make_store(const fs::path& root) {
    fs::create_directories(root / "Ann" / "20260101T120000Z");
    fs::create_directories(root / "Bob Smith");
    write_file(root / "index.html", "<br><a href=\"Ann\">Ann</a>\n");
    write_file(root / "index.jsonl", "{\"folder\":\"Ann\"}\n");
    write_file(root / "index.json", "{\"store_root\": 1}\n");
    write_file(root / "Ann" / "index.html", "<html>Ann</html>\n");
    write_file(root / "Ann" / "index.json", "{}\n");
    write_file(root / "Ann" / "cv.pdf", kResume);
    write_file(root / "Ann" / "20260101T120000Z" / "cv.pdf", binary_content(300, 8));
    write_file(root / "Bob Smith" / "odd %41 name\n.txt", "");
    write_file(root / ".tmp-4242-1", "half written");
    write_file(root / "Ann" / ".tmp-4242-2", "half written");
    fs::create_directories(root / ".tmp-runs");
    fs::create_symlink("../Ann", root / ".tmp-runs" / ".tmp-4242-3");
}

Snapshot without_temporary_names(Snapshot files) {
    std::erase_if(files,
                  [](const auto& entry) { return entry.first.find(".tmp-") != std::string::npos; });
    return files;
}

// Every folder and file below `top` has the copy's strict mode.
void expect_strict_modes(const fs::path& top) {
    EXPECT_EQ(mode_of(top), store::COPY_FOLDER_MODE);
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
        EXPECT_EQ(mode_of(entry.path()),
                  entry.is_directory() ? store::COPY_FOLDER_MODE : store::COPY_FILE_MODE)
            << entry.path();
    }
}

// No temporary folder of a failed copy is left in `dir`.
void expect_no_temporary_names(const fs::path& dir) {
    for (const auto& entry : fs::directory_iterator(dir)) {
        EXPECT_EQ(entry.path().filename().string().rfind(".tmp-", 0), std::string::npos)
            << entry.path();
    }
}

// Whether another process finds the whole file at `path` locked (fcntl), as a filing run would.
bool locked_for_others(const fs::path& path) {
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(path.c_str(), O_RDWR);
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        _exit(fd >= 0 && fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

std::string findings(const std::string& error, const std::vector<std::string>& problems) {
    std::string text = error;
    for (const std::string& problem : problems) text += "\n" + problem;
    return text;
}

TEST(StoreCopy, RoundTripKeepsEveryByteWithStrictModes) {
    TempDir dir;
    const fs::path root = dir.path() / "people";
    make_store(root);
    // Under the store lock, which the copy of the list page must not drop.
    platform::UniqueFd list(open((root / "index.html").c_str(), O_RDWR));
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(list.get(), F_SETLK, &whole), 0);
    const mode_t old_mask = umask(0);  // a loose umask must not loosen the copy
    std::string error;
    const bool backed_up = store::backup_tree(root, dir.path() / "backup", list.get(), error);
    umask(old_mask);
    ASSERT_TRUE(backed_up) << error;
    EXPECT_TRUE(locked_for_others(root / "index.html"));
    expect_strict_modes(dir.path() / "backup");

    std::vector<std::string> problems;
    EXPECT_TRUE(store::verify_backup(dir.path() / "backup", problems, error))
        << findings(error, problems);
    EXPECT_FALSE(store::backup_tree(root, dir.path() / "backup", -1, error));
    EXPECT_NE(error.find("exists already"), std::string::npos) << error;

    // Into a missing root, and into an empty one owned by the service user (who then owns all).
    const fs::path restored = dir.path() / "restored";
    ASSERT_TRUE(store::restore_tree(dir.path() / "backup", restored, error)) << error;
    EXPECT_EQ(snapshot(restored), without_temporary_names(snapshot(root)));
    expect_strict_modes(restored);
    const fs::path owned = dir.path() / "owned";
    fs::create_directory(owned);
    const bool as_root = geteuid() == 0;
    if (as_root) {
        ASSERT_EQ(chown(owned.c_str(), 65534, 65534), 0);
    }
    ASSERT_TRUE(store::restore_tree(dir.path() / "backup", owned, error)) << error;
    EXPECT_EQ(snapshot(owned), snapshot(restored));
    struct stat st {};
    ASSERT_EQ(stat((owned / "Ann" / "cv.pdf").c_str(), &st), 0);
    if (as_root) {
        EXPECT_EQ(st.st_uid, 65534u);
    }

    // A root holding anything is never restored into.
    EXPECT_FALSE(store::restore_tree(dir.path() / "backup", restored, error));
    EXPECT_NE(error.find("not empty"), std::string::npos) << error;
    expect_no_temporary_names(dir.path());
}

// A store root holding what a backup must not copy is refused; no destination appears.
TEST(StoreCopy, BackupRefusesLinksFifosAndDevicesInTheRoot) {
    const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> plants = {
        {"Eve/shadow is a symbolic link",
         [](const fs::path& eve) { fs::create_symlink("/etc/shadow", eve / "shadow"); }},
        {"Eve/etcdir is a symbolic link",
         [](const fs::path& eve) { fs::create_directory_symlink("/etc", eve / "etcdir"); }},
        {"Eve/pipe is a FIFO", [](const fs::path& eve) { mkfifo((eve / "pipe").c_str(), 0600); }},
    };
    for (const auto& [expected, plant] : plants) {
        TempDir dir;
        const fs::path root = dir.path() / "people";
        make_store(root);
        fs::create_directory(root / "Eve");
        plant(root / "Eve");
        std::string error;
        EXPECT_FALSE(store::backup_tree(root, dir.path() / "backup", -1, error)) << expected;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(dir.path() / "backup"));
        expect_no_temporary_names(dir.path());
    }
}

struct HostileBackup {
    const char* what;
    std::function<void(const fs::path& backup, const fs::path& outside)> harm;
    const char* reported;  // in verify's findings and restore's error
};

void replace_in_manifest(const fs::path& backup, const std::string& from, const std::string& to) {
    std::string text = read_file(backup / store::BACKUP_MANIFEST_NAME);
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    write_file(backup / store::BACKUP_MANIFEST_NAME, text.replace(at, from.size(), to));
}

TEST(StoreCopy, HostileBackupsAreReportedAndNeverRestored) {
    const bool as_root = geteuid() == 0;
    const std::vector<HostileBackup> cases = {
        {"link to a folder outside",
         [](const fs::path& b, const fs::path&) {
             fs::create_directory_symlink("/etc", b / "Ann" / "etcdir");
         },
         "Ann/etcdir: a symbolic link the manifest does not name"},
        {"link to a file outside, named in the manifest",
         [](const fs::path& b, const fs::path& outside) {
             fs::remove(b / "Ann" / "cv.pdf");
             fs::create_symlink(outside / "secret", b / "Ann" / "cv.pdf");
         },
         "Ann/cv.pdf is a symbolic link"},
        {"FIFO named in the manifest",
         [](const fs::path& b, const fs::path&) {
             fs::remove(b / "Ann" / "cv.pdf");
             mkfifo((b / "Ann" / "cv.pdf").c_str(), 0600);
         },
         "Ann/cv.pdf is a FIFO"},
        {"character device",
         [as_root](const fs::path& b, const fs::path&) {
             if (as_root)
                 mknod((b / "Ann" / "null").c_str(), S_IFCHR | 0600, makedev(1, 3));
             else
                 write_file(b / "Ann" / "null", "");  // unprivileged: an extra file instead
         },
         as_root ? "Ann/null: a character device the manifest does not name"
                 : "Ann/null: a file the manifest does not name"},
        {"manifest path with ..",
         [](const fs::path& b, const fs::path&) {
             replace_in_manifest(b, " Ann/cv.pdf\n", " ../outside/secret\n");
         },
         "a path leaving its folder"},
        {"absolute manifest path",
         [](const fs::path& b, const fs::path&) {
             replace_in_manifest(b, " Ann/cv.pdf\n", " /etc/shadow\n");
         },
         "an absolute path"},
        {"resume cut to 100 bytes",
         [](const fs::path& b, const fs::path&) { fs::resize_file(b / "Ann" / "cv.pdf", 100); },
         "Ann/cv.pdf: 100 bytes, the manifest says 5000"},
        {"resume changed in place",
         [](const fs::path& b, const fs::path&) {
             write_file(b / "Ann" / "cv.pdf", binary_content(5000, 9));
         },
         "Ann/cv.pdf: its SHA-256 differs"},
        {"missing folder",
         [](const fs::path& b, const fs::path&) { fs::remove_all(b / "Bob Smith"); },
         "Bob Smith: the folder the manifest names is missing"},
        {"missing file",
         [](const fs::path& b, const fs::path&) { fs::remove(b / "Ann" / "index.json"); },
         "Ann/index.json: the file the manifest names is missing"},
        {"extra file",
         [](const fs::path& b, const fs::path&) { write_file(b / "Ann" / "extra.html", "x"); },
         "Ann/extra.html: a file the manifest does not name"},
        {"manifest cut short",
         [](const fs::path& b, const fs::path&) {
             fs::resize_file(b / store::BACKUP_MANIFEST_NAME, 90);
         },
         "manifest line"},
    };
    TempDir dir;
    const fs::path outside = dir.path() / "outside";
    fs::create_directory(outside);
    write_file(outside / "secret", "not the store's");
    make_store(dir.path() / "people");
    std::string error;
    ASSERT_TRUE(store::backup_tree(dir.path() / "people", dir.path() / "good", -1, error)) << error;
    for (const HostileBackup& hostile : cases) {
        SCOPED_TRACE(hostile.what);
        const fs::path backup = dir.path() / "hostile";
        fs::remove_all(backup);
        fs::copy(dir.path() / "good", backup, fs::copy_options::recursive);
        hostile.harm(backup, outside);
        const Snapshot outside_before = snapshot(outside);

        std::vector<std::string> problems;
        EXPECT_FALSE(store::verify_backup(backup, problems, error));
        EXPECT_NE(findings(error, problems).find(hostile.reported), std::string::npos)
            << findings(error, problems);
        // Into a missing root and into an empty one: both stay as they were.
        const fs::path empty = dir.path() / "empty";
        fs::create_directory(empty);
        for (const fs::path& root : {dir.path() / "missing", empty}) {
            EXPECT_FALSE(store::restore_tree(backup, root, error));
            EXPECT_NE(error.find(hostile.reported), std::string::npos) << error;
        }
        EXPECT_FALSE(fs::exists(dir.path() / "missing"));
        EXPECT_TRUE(fs::is_empty(empty));
        EXPECT_EQ(snapshot(outside), outside_before);
        expect_no_temporary_names(dir.path());
    }
}

}  // namespace
