// The connection of a CGI run: the process's environment and standard streams.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "cgi/connection.h"

namespace cgi::detail {

namespace {

class ProcessConnection final : public Connection {
  public:
    const char* env(const char* name) const override { return std::getenv(name); }
    long read(char* out, std::size_t size) override {
        for (;;) {
            const ssize_t n = ::read(0, out, size);
            if (n < 0 && errno == EINTR) continue;
            return static_cast<long>(n);
        }
    }
    void write(const char* data, std::size_t size) override { std::fwrite(data, 1, size, stdout); }
    void flush() override { std::fflush(stdout); }
    int input_fd() const override { return 0; }
};

}  // namespace

Connection& process_connection() {
    static ProcessConnection connection;
    return connection;
}

}  // namespace cgi::detail
