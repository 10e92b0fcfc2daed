// A helper thread for one flush, made with the system's clone alone. A thread of the C library
// costs eight system calls besides its flush (its signal mask set and reset, its restartable
// sequence and robust futex list registered, ...); this one costs two: clone and exit. It has no
// thread block of its own, so it runs nothing but the flush's system call itself, on a stack it
// is given, with every signal blocked (the caller blocks them while it starts it: see
// SignalsBlocked), and writes nothing of the process but its own result.
#pragma once

#include <signal.h>

#include <cstddef>

namespace store {

class BareFlushThread {
  public:
    BareFlushThread() = default;
    BareFlushThread(const BareFlushThread&) = delete;
    BareFlushThread& operator=(const BareFlushThread&) = delete;
    ~BareFlushThread() { wait(); }

    // Whether this build can make such threads (an architecture it knows the system call of,
    // no sanitizer that keeps state per thread).
    static bool available();

    // Starts the flush of `fd` (a folder: fsync, a file: fdatasync) on the `size` bytes at
    // `stack`, which stay untouched by anything else until wait() returns. False when the
    // system made no thread.
    bool start(int fd, bool folder, void* stack, std::size_t size);

    // Waits for the thread to end; its flush's error number, 0 when it succeeded (or when no
    // thread was started).
    int wait();

  private:
    static int run(void* self);

    // Read by the thread alone, so unused in builds that make no such threads (sanitizers).
    [[maybe_unused]] int fd_ = -1;
    [[maybe_unused]] bool folder_ = false;
    int error_ = 0;
    // The thread's id while it runs: set by the system before clone returns, cleared (and its
    // waiter woken) when the thread has ended.
    int running_tid_ = 0;
};

// Every signal blocked for the object's life (threads started meanwhile keep them blocked).
class SignalsBlocked {
  public:
    SignalsBlocked();
    ~SignalsBlocked();
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

  private:
    sigset_t saved_{};
    bool blocked_ = false;
};

}  // namespace store
