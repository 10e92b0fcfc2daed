// The store lock: the whole-file fcntl lock on the list page, and replacing the list under it.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <utility>

#include "app/store/applicant_store.h"
#include "app/store/staged_file.h"
#include "app/store/store_files.h"
#include "platform/file_lock.h"

namespace store {

namespace {

// Takes the list's write lock, waiting as long as it takes. On a file system in user space (the
// shared stores' clients) the lock is asked for without a wait, again after a pause that grows to
// 16 ms: a run killed while queued for the lock there can leave it granted to nobody that will ever
// release it (seen on CephFS when a web server was killed with its programs), and a run that never
// queues cannot.
bool wait_for_lock(int fd, const std::function<void()>& before_waiting) {
    constexpr decltype(statfs::f_type) kUserSpaceFileSystem = 0x65735546;
    if (platform::lock_whole_file(fd, false)) return true;
    if (errno != EAGAIN && errno != EACCES) return false;
    if (before_waiting) before_waiting();
    struct statfs fs {};
    if (fstatfs(fd, &fs) != 0 || fs.f_type != kUserSpaceFileSystem)
        return platform::lock_whole_file(fd, true);
    for (useconds_t pause = 500;; pause = std::min<useconds_t>(pause * 2, 16000)) {
        if (platform::lock_whole_file(fd, false)) return true;
        if (errno != EAGAIN && errno != EACCES) return false;
        usleep(pause);
    }
}

std::string failure_text(const char* operation, const std::string& path) {
    return std::string(operation) + " " + path + ": " + std::strerror(errno);
}

}  // namespace

StoreLock::StoreLock(const std::string& list_path, const std::function<void()>& before_waiting)
    : list_path_(list_path) {
    // A replaced list (see replace_list) leaves a waiting run locking the old file: it locks the
    // list the path names then.
    for (int attempt = 0; attempt < 64; ++attempt) {
        list_ = platform::UniqueFd(
            ::open(list_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
        if (!list_.valid() || !wait_for_lock(list_.get(), before_waiting)) return;
        struct stat held {}, named {};
        if (fstat(list_.get(), &held) == 0 && stat(list_path.c_str(), &named) == 0 &&
            held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
            held_ = true;
            size_when_locked_ = static_cast<std::int64_t>(held.st_size);
            return;
        }
    }
    list_ = platform::UniqueFd();
}

StoreLock::StoreLock(StoreLock&& other) noexcept
    : list_path_(std::move(other.list_path_)),
      list_(std::move(other.list_)),
      held_(std::exchange(other.held_, false)),
      size_when_locked_(other.size_when_locked_) {}

StoreLock& StoreLock::operator=(StoreLock&& other) noexcept {
    if (this != &other) {
        release();
        list_path_ = std::move(other.list_path_);
        list_ = std::move(other.list_);
        held_ = std::exchange(other.held_, false);
        size_when_locked_ = other.size_when_locked_;
    }
    return *this;
}

StoreLock::~StoreLock() {
    release();
}

bool StoreLock::release() {
    held_ = false;
    // Closing the list releases its lock; a network file system may report a delayed write
    // error here.
    return !list_.valid() || list_.close();
}

bool StoreLock::replace_list(const std::string& content, std::string* error) {
    const std::string root = std::filesystem::path(list_path_).parent_path().string();
    StagedFile staged;
    if (!staged.create(root.empty() ? "." : root) ||
        !platform::write_all(staged.fd(), content.data(), content.size())) {
        if (error) *error = failure_text("write", root + "/.tmp-*");
        return false;
    }
    // The new list is locked before it gets the list's name: nobody can lock it first.
    platform::UniqueFd replacement(::dup(staged.fd()));
    if (!replacement.valid() || !platform::lock_whole_file(replacement.get(), true) ||
        !staged.finish() || !staged.commit(list_path_) ||
        !flush_directory(root.empty() ? "." : root)) {
        if (error) *error = failure_text("replace", list_path_);
        return false;
    }
    list_ = std::move(replacement);
    size_when_locked_ = static_cast<std::int64_t>(content.size());
    return true;
}

}  // namespace store
