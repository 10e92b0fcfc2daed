// POSIX record locks over a whole file.
#include "platform/file_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {
bool set_whole_file_lock(int fd, short type, int command) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // to the end of the file, however far it grows
    while (fcntl(fd, command, &lock) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}
}  // namespace

bool lock_whole_file(int fd, bool wait) {
    return set_whole_file_lock(fd, F_WRLCK, wait ? F_SETLKW : F_SETLK);
}

ExclusiveFileLock::ExclusiveFileLock(int fd) : fd_(fd) {
    held_ = fd_ >= 0 && lock_whole_file(fd_, true);
}

ExclusiveFileLock::~ExclusiveFileLock() {
    if (held_) set_whole_file_lock(fd_, F_UNLCK, F_SETLK);
}

}  // namespace platform
