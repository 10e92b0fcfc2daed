// Flushes run together on threads; a thread that cannot be started leaves its flush to the caller.
#include "app/store/flush_together.h"

#include <errno.h>
#include <malloc.h>

#include <system_error>
#include <thread>
#include <utility>

#include "app/store/store_files.h"
#include "platform/files.h"

namespace store {

namespace {

void run_job(FlushJob& job) {
    const bool flushed =
        job.fd >= 0 ? platform::flush_file_data(job.fd) : flush_directory(job.path);
    job.error = flushed ? 0 : (errno != 0 ? errno : EIO);
}

}  // namespace

const FlushJob* flush_together(std::vector<FlushJob>& jobs) {
    // A helper that frees memory would otherwise get a heap arena of its own, mapped and cut to
    // size with three system calls, for the microseconds it lives: the threads share one.
    static bool one_arena = false;
    if (jobs.size() > 1 && !std::exchange(one_arena, true)) mallopt(M_ARENA_MAX, 1);
    {
        std::vector<std::jthread> helpers;
        helpers.reserve(jobs.size());
        for (std::size_t i = 1; i < jobs.size(); ++i) {
            FlushJob& job = jobs[i];
            try {
                helpers.emplace_back([&job] { run_job(job); });
            } catch (const std::system_error&) {
                run_job(job);
            }
        }
        if (!jobs.empty()) run_job(jobs[0]);
    }  // the helpers join here
    for (const FlushJob& job : jobs) {
        if (job.error != 0) {
            errno = job.error;
            return &job;
        }
    }
    return nullptr;
}

}  // namespace store
