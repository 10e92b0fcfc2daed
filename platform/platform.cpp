// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace platform {

int set_binary_mode(int /*fd*/) {
    return 0;
}

std::uint32_t millisecond_tick() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Unsigned arithmetic: the counter wraps like a 32-bit hardware tick.
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

namespace {

// The id is asked for once: every temporary name carries it, and getpid is a system call each
// time. A child made by fork asks again.
pid_t cached_pid = 0;

void forget_pid() {
    cached_pid = 0;
}

}  // namespace

unsigned long process_id() {
    if (cached_pid == 0) {
        static const bool registered = pthread_atfork(nullptr, nullptr, forget_pid) == 0;
        (void)registered;
        cached_pid = getpid();
    }
    return static_cast<unsigned long>(cached_pid);
}

int make_directory(const char* path) {
    return mkdir(path, 0777) == 0 ? 0 : -1;
}

}  // namespace platform
