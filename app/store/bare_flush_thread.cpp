// A flush on a thread made with clone alone; see bare_flush_thread.h.
#include "app/store/bare_flush_thread.h"

#include <errno.h>
#include <linux/futex.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define BARE_FLUSH_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BARE_FLUSH_SANITIZED 1
#endif

#if !defined(BARE_FLUSH_SANITIZED) && (defined(__x86_64__) || defined(__aarch64__))
#define BARE_FLUSH_THREADS 1
#endif

namespace store {

namespace {

#if defined(BARE_FLUSH_THREADS)
// The system call with one argument, without the C library: its wrappers keep the error in
// errno, which lies in the thread block of the thread that started this one. Returns the
// call's result, or minus the error number.
long bare_call(long number, long argument) {
#if defined(__x86_64__)
    long result;
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(number), "D"(argument)
                 : "rcx", "r11", "memory");
    return result;
#else
    register long x8 asm("x8") = number;
    register long x0 asm("x0") = argument;
    asm volatile("svc 0" : "+r"(x0) : "r"(x8) : "memory");
    return x0;
#endif
}
#endif

}  // namespace

bool BareFlushThread::available() {
#if defined(BARE_FLUSH_THREADS)
    return true;
#else
    return false;
#endif
}

int BareFlushThread::run(void* self) {
#if defined(BARE_FLUSH_THREADS)
    auto* thread = static_cast<BareFlushThread*>(self);
    const long number = thread->folder_ ? SYS_fsync : SYS_fdatasync;
    long result;
    do {
        result = bare_call(number, thread->fd_);
    } while (result == -EINTR);
    // A folder this file system cannot flush has nothing to flush.
    if (thread->folder_ && result == -EINVAL) result = 0;
    thread->error_ = result < 0 ? static_cast<int>(-result) : 0;
#else
    (void)self;
#endif
    return 0;  // the C library's clone ends the thread with this
}

bool BareFlushThread::start(int fd, bool folder, void* stack, std::size_t size) {
#if defined(BARE_FLUSH_THREADS)
    fd_ = fd;
    folder_ = folder;
    error_ = 0;
    // The stack grows down from its end, kept aligned to 16 bytes.
    const auto top = (reinterpret_cast<std::uintptr_t>(stack) + size) & ~std::uintptr_t{15};
    const int flags = CLONE_VM | CLONE_FS | CLONE_FILES | CLONE_SIGHAND | CLONE_THREAD |
                      CLONE_SYSVSEM | CLONE_PARENT_SETTID | CLONE_CHILD_CLEARTID;
    const int tid = ::clone(&BareFlushThread::run, reinterpret_cast<void*>(top), flags, this,
                            &running_tid_, nullptr, &running_tid_);
    if (tid > 0) return true;
    running_tid_ = 0;
    return false;
#else
    (void)fd, (void)folder, (void)stack, (void)size;
    return false;
#endif
}

int BareFlushThread::wait() {
    for (;;) {
        const int tid = __atomic_load_n(&running_tid_, __ATOMIC_ACQUIRE);
        if (tid == 0) break;
        ::syscall(SYS_futex, &running_tid_, FUTEX_WAIT, tid, nullptr, nullptr, 0);
    }
    return error_;
}

SignalsBlocked::SignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    blocked_ = pthread_sigmask(SIG_BLOCK, &all, &saved_) == 0;
}

SignalsBlocked::~SignalsBlocked() {
    if (blocked_) pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

}  // namespace store
