// Flushes run together on threads; a thread that cannot be started leaves its flush to the caller.
#include "app/store/flush_together.h"

#include <errno.h>
#include <malloc.h>
#include <pthread.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <utility>

#include "app/store/bare_flush_thread.h"
#include "app/store/store_files.h"
#include "platform/files.h"

namespace store {

namespace {

void run_job(FlushJob& job) {
    const bool flushed =
        job.fd >= 0 ? platform::flush_file_data(job.fd) : flush_directory(job.path);
    job.error = flushed ? 0 : (errno != 0 ? errno : EIO);
}

void* run_job_on_thread(void* job) {
    run_job(*static_cast<FlushJob*>(job));
    return nullptr;
}

// Stacks kept for the process's life for the first helpers: a thread on a stack of its own maps
// it, guards it and hands it back on its way out, three system calls for a flush. Only what a
// helper touches (its thread block and a few frames) becomes memory of the process.
constexpr std::size_t kKeptStacks = 4;
constexpr std::size_t kKeptStackSize = std::size_t{256} << 10;
alignas(4096) char kept_stacks[kKeptStacks][kKeptStackSize];

// One helper thread running one flush, joined on destruction.
class FlushThread {
  public:
    FlushThread() = default;
    FlushThread(const FlushThread&) = delete;
    FlushThread& operator=(const FlushThread&) = delete;
    ~FlushThread() {
        if (started_) pthread_join(thread_, nullptr);
    }

    // Starts `job` on kept stack `slot` (when there is one and the system takes it), else on a
    // stack of its own; false when no thread could be started.
    bool start(FlushJob& job, std::size_t slot) {
        pthread_attr_t attributes;
        if (slot < kKeptStacks && pthread_attr_init(&attributes) == 0) {
            const bool kept =
                pthread_attr_setstack(&attributes, kept_stacks[slot], kKeptStackSize) == 0 &&
                pthread_create(&thread_, &attributes, run_job_on_thread, &job) == 0;
            pthread_attr_destroy(&attributes);
            if (kept) return started_ = true;
        }
        return started_ = pthread_create(&thread_, nullptr, run_job_on_thread, &job) == 0;
    }

  private:
    pthread_t thread_{};
    bool started_ = false;
};

}  // namespace

const FlushJob* flush_together(std::vector<FlushJob>& jobs) {
    const std::size_t helpers_wanted = jobs.size() > 1 ? jobs.size() - 1 : 0;
    // Helpers made with clone alone on the kept stacks where the build allows; the C library's
    // threads for the rest.
    const std::size_t bare_count =
        BareFlushThread::available() ? std::min(helpers_wanted, kKeptStacks) : 0;
    // A helper that frees memory would otherwise get a heap arena of its own, mapped and cut to
    // size with three system calls, for the microseconds it lives: the threads share one.
    static bool one_arena = false;
    if (helpers_wanted > bare_count && !std::exchange(one_arena, true)) mallopt(M_ARENA_MAX, 1);
    {
        // A bare helper flushes a folder through a descriptor opened here.
        std::vector<platform::UniqueFd> folders(bare_count);
        std::vector<BareFlushThread> bare(bare_count);
        std::vector<FlushThread> helpers(helpers_wanted - bare_count);
        {
            std::optional<SignalsBlocked> blocked;
            if (bare_count > 0) blocked.emplace();
            for (std::size_t i = 1; i < jobs.size(); ++i) {
                FlushJob& job = jobs[i];
                if (i - 1 < bare_count) {
                    int fd = job.fd;
                    if (fd < 0) {
                        folders[i - 1] = open_directory(job.path);
                        fd = folders[i - 1].get();
                    }
                    if (fd < 0) {
                        job.error = errno != 0 ? errno : EIO;
                    } else if (!bare[i - 1].start(fd, job.fd < 0, kept_stacks[i - 1],
                                                  kKeptStackSize)) {
                        run_job(job);
                    }
                } else if (!helpers[i - 1 - bare_count].start(job, i - 1)) {
                    run_job(job);
                }
            }
        }
        if (!jobs.empty()) run_job(jobs[0]);
        for (std::size_t i = 0; i < bare_count; ++i) {
            const int error = bare[i].wait();
            if (error != 0) jobs[i + 1].error = error;
        }
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
