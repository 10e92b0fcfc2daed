// The filing counters, one file per counter holding a decimal number, changed under the file's
// lock so that concurrent runs lose no count.
#include "app/store/filing_counters.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/shared/time_stamp.h"
#include "platform/file_lock.h"
#include "platform/files.h"

namespace monitor {

namespace {

constexpr std::array<const char*, 10> kNames = {
    "filed",          "refused_name",      "refused_mail",      "refused_interest",
    "refused_resume", "refused_directory", "refused_too_large", "failed_paused",
    "failed_store_root", "failed_store_write"};
constexpr char kLastFiled[] = "last_filed";

// The decimal number a counter file holds; 0 for an empty or unreadable one.
std::uint64_t read_number(int fd) {
    char text[32] = {};
    const std::int64_t n = platform::read_at(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    return std::strtoull(text, nullptr, 10);
}

// Opens the counter `name` in `dir`, locks it, and replaces its number by what `next` makes of
// it. False on any failure, said on standard error.
template <typename Next>
bool update(const std::string& dir, const char* name, Next next) {
    const std::string path = dir + "/" + name;
    platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640));
    if (!fd.valid()) {
        std::fprintf(stderr, "%s apply.cgi: counter %s not counted: %s\n", iso_now().c_str(),
                     path.c_str(), std::strerror(errno));
        return false;
    }
    platform::ExclusiveFileLock lock(fd.get());
    if (!lock.held()) return false;
    const std::string text = std::to_string(next(read_number(fd.get()))) + "\n";
    // The new number is never shorter than the old one (counts grow, times go forward), so a
    // reader sees the old number or the new one, never a cut one.
    return ::pwrite(fd.get(), text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
           ::ftruncate(fd.get(), static_cast<off_t>(text.size())) == 0;
}

std::uint64_t read_file(const std::string& path) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return fd.valid() ? read_number(fd.get()) : 0;
}

}  // namespace

void count(Event event) {
    const char* dir = std::getenv(METRICS_DIR_VARIABLE);
    if (!dir || !*dir) return;
    update(dir, kNames[static_cast<std::size_t>(event)], [](std::uint64_t n) { return n + 1; });
    if (event == Event::filed) {
        const auto now = static_cast<std::uint64_t>(std::time(nullptr));
        update(dir, kLastFiled, [now](std::uint64_t old) { return old > now ? old : now; });
    }
}

std::vector<Counter> read_counters(const std::string& dir) {
    std::vector<Counter> counters;
    for (const char* name : kNames) counters.push_back({name, read_file(dir + "/" + name)});
    return counters;
}

std::time_t last_filed(const std::string& dir) {
    return static_cast<std::time_t>(read_file(dir + "/" + kLastFiled));
}

}  // namespace monitor
