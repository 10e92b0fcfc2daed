// The news files' folder, lock, and whole-file reads and replacements.
#include "app/store/news_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/store/staged_file.h"
#include "app/store/store_files.h"

namespace news {

std::string news_dir(const std::string& log) {
    if (const char* dir = std::getenv("APPLY_NEWS_DIR"); dir && *dir) return dir;
    if (log.empty()) return "";
    const std::size_t slash = log.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : log.substr(0, slash);
}

NewsLock::NewsLock(const NewsFiles& files, int wait_seconds)
    : fd_(::open(files.lock().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660)) {
    if (!fd_.valid()) return;
    if (wait_seconds < 0) {
        while (!(held_ = ::flock(fd_.get(), LOCK_EX) == 0) && errno == EINTR) {
        }
        return;
    }
    // A bounded wait: a drain holds the lock only while it sends a few mails.
    for (int tries = 0; tries <= wait_seconds * 10; ++tries) {
        if ((held_ = ::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0)) return;
        ::usleep(100 * 1000);
    }
}

bool replace_file(const std::string& path, const std::string& text, std::string& error) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    StagedFile file;
    if (file.create(dir) && platform::write_all(file.fd(), text.data(), text.size()) &&
        file.finish() && file.commit(path) && store::flush_directory(dir))
        return true;
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
}

bool read_whole_file(const std::string& path, std::string& text, bool& missing) {
    missing = false;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        missing = errno == ENOENT;
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return !in.bad();
}

}  // namespace news
