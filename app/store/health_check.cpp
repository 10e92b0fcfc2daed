// The health check: the steps filing takes, on a probe file instead of an applicant.
#include "app/store/health_check.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>

#include "app/store/applicant_store.h"
#include "app/store/staged_file.h"
#include "app/store/store_files.h"

namespace monitor {

namespace {

// What the alarm writes before it ends the process; set before the alarm is armed.
std::string lock_timeout_text;

extern "C" void on_lock_timeout(int) {
    const char* text = lock_timeout_text.c_str();
    ssize_t ignored = ::write(STDOUT_FILENO, text, std::strlen(text));
    (void)ignored;
    _exit(static_cast<int>(Health::critical));
}

const char* refusal_text(store::ApplicantStore::Refusal why) {
    switch (why) {
        case store::ApplicantStore::Refusal::malformed: return "not a relative path inside the site";
        case store::ApplicantStore::Refusal::nested: return "inside another store root";
        case store::ApplicantStore::Refusal::missing: return "missing (not mounted?)";
        default: return "not a declared store root";
    }
}

std::string mib(std::uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

HealthReport report(Health health, const std::string& text, const std::string& perf = "") {
    return {health, std::string("FILING ") + health_word(health) + " - " + text +
                        (perf.empty() ? "" : " | " + perf)};
}

// Stages, flushes, renames and removes a probe file in the root, as filing writes a page.
std::optional<std::string> probe_write(const std::string& root) {
    StagedFile probe;
    if (!probe.create(root)) return "cannot create a file in " + root + ": " + std::strerror(errno);
    static const char kBytes[4096] = {};
    if (!platform::write_all(probe.fd(), kBytes, sizeof kBytes) || !probe.finish())
        return "cannot write and flush a file in " + root + ": " + std::strerror(errno);
    const std::string placed =
        root + "/" + platform::TEMP_NAME_PREFIX + std::to_string(::getpid()) + "-health";
    if (!probe.commit(placed)) return "cannot rename a file in " + root + ": " + std::strerror(errno);
    const bool flushed = store::flush_directory(root);
    const bool removed = store::remove_file(placed) && store::flush_directory(root);
    if (!flushed || !removed) return "cannot flush or remove a file in " + root;
    return std::nullopt;
}

}  // namespace

const char* health_word(Health health) {
    switch (health) {
        case Health::ok: return "OK";
        case Health::warning: return "WARNING";
        case Health::critical: return "CRITICAL";
        default: return "UNKNOWN";
    }
}

HealthReport check_filing(const std::string& root, unsigned lock_seconds,
                          const std::string& timeout_text) {
    const auto started = std::chrono::steady_clock::now();
    store::ApplicantStore::Refusal why = store::ApplicantStore::Refusal::none;
    const std::optional<store::ApplicantStore> store = store::ApplicantStore::open(root, &why);
    if (!store) return report(Health::critical, "store root '" + root + "' " + refusal_text(why));
    const std::optional<store::Room> room = store->room();
    if (!room) return report(Health::critical, "free space of '" + root + "' unknown");
    const std::string perf = "free_bytes=" + std::to_string(room->free_bytes) + "B;" +
                             std::to_string(2 * room->reserve.bytes) + ";" +
                             std::to_string(room->reserve.bytes) +
                             " free_inodes=" + std::to_string(room->free_inodes) + ";;" +
                             std::to_string(room->reserve.inodes);
    const std::string space = mib(room->free_bytes) + " free (reserve " + mib(room->reserve.bytes) +
                              "), " + std::to_string(room->free_inodes) + " inodes free (reserve " +
                              std::to_string(room->reserve.inodes) + ")";
    if (!room->ok) return report(Health::critical, "applications paused: " + space, perf);

    lock_timeout_text = timeout_text;
    struct sigaction action {};
    action.sa_handler = on_lock_timeout;
    sigaction(SIGALRM, &action, nullptr);
    alarm(lock_seconds);
    store::StoreLock lock = store->lock();
    alarm(0);
    if (!lock.held()) return report(Health::critical, "store lock of '" + root + "' refused", perf);
    if (const std::optional<std::string> failure = probe_write(root))
        return report(Health::critical, *failure, perf);
    lock.release();

    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const bool low = room->free_bytes < 2 * room->reserve.bytes ||
                     room->free_inodes < 2 * room->reserve.inodes;
    return report(low ? Health::warning : Health::ok,
                  "store '" + root + "' accepts submissions; " + space,
                  perf + " check_seconds=" + std::to_string(seconds) + "s");
}

}  // namespace monitor
