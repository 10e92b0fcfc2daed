// The request loop: one CGI request, or FastCGI requests one after another through libfcgi.
#include "cgi/serve.h"

#include <fcgiapp.h>
#include <signal.h>

#include <cstdio>
#include <exception>

#include "cgi/connection.h"

namespace cgi {

namespace detail {

namespace {

// One FastCGI request's parameters and streams. libfcgi buffers the output and sends it in
// records; the request's parameters live until FCGX_Finish_r.
class FastCgiConnection final : public Connection {
  public:
    explicit FastCgiConnection(FCGX_Request& request) : request_(request) {}
    const char* env(const char* name) const override { return FCGX_GetParam(name, request_.envp); }
    long read(char* out, std::size_t size) override {
        const int wanted = size > kMostPerCall ? kMostPerCall : static_cast<int>(size);
        const int n = FCGX_GetStr(out, wanted, request_.in);
        return n < 0 ? -1 : n;
    }
    void write(const char* data, std::size_t size) override {
        while (size > 0) {
            const int n = size > kMostPerCall ? kMostPerCall : static_cast<int>(size);
            if (FCGX_PutStr(data, n, request_.out) != n) return;  // the server is gone
            data += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    void flush() override { FCGX_FFlush(request_.out); }
    void log_error(const char* text) { FCGX_PutS(text, request_.err); }
    void drain_input() {
        char rest[16384];
        while (FCGX_GetStr(rest, sizeof rest, request_.in) > 0) {
        }
    }

  private:
    static constexpr std::size_t kMostPerCall = std::size_t{1} << 30;  // libfcgi counts in int
    FCGX_Request& request_;
};

}  // namespace

// Builds and answers requests; the one place that may call CgiRequest's connection constructor.
class Server {
  public:
    static int run_cgi(int argc, char* argv[], const RequestHandler& handler,
                       const RequestOptions& options) {
        CgiRequest request(argc, argv, options);
        return handler(request);
    }

    static int run_fastcgi(int argc, char* argv[], const RequestHandler& handler,
                           const RequestOptions& options) {
        if (FCGX_Init() != 0) return 1;
        // A web server that closes a connection early must not end the process with SIGPIPE.
        signal(SIGPIPE, SIG_IGN);
        FCGX_Request fcgi_request;
        if (FCGX_InitRequest(&fcgi_request, 0, 0) != 0) return 1;
        while (FCGX_Accept_r(&fcgi_request) >= 0) {
            FastCgiConnection connection(fcgi_request);
            answer(argc, argv, handler, options, connection);
            // On a connection the server keeps for the next request, what the handler left of
            // the body (a refused upload, say) must not be read as the next request's records.
            if (fcgi_request.keepConnection) connection.drain_input();
            FCGX_Finish_r(&fcgi_request);
        }
        FCGX_Free(&fcgi_request, 1);
        return 0;
    }

  private:
    // One request; everything it made is released when this returns, whatever ended it.
    static void answer(int argc, char* argv[], const RequestHandler& handler,
                       const RequestOptions& options, FastCgiConnection& connection) {
        bool header_out = false;
        try {
            CgiRequest request(argc, argv, options, connection, /*persistent=*/true);
            try {
                handler(request);
            } catch (...) {
                header_out = request.header_sent();
                throw;
            }
        } catch (const RequestEnded&) {
            // The request wrote its page (fatal_printf) or what it had; nothing more goes out.
        } catch (const std::exception& e) {
            fail(connection, header_out, e.what());
        } catch (...) {
            fail(connection, header_out, "unknown exception");
        }
    }

    static void fail(FastCgiConnection& connection, bool header_out, const char* what) {
        if (!header_out) {
            static constexpr char kAnswer[] =
                "Status: 500 Internal Server Error\nContent-type: text/plain\n\n"
                "The request could not be answered.\n";
            connection.write(kAnswer, sizeof kAnswer - 1);
        }
        connection.log_error("request failed: ");
        connection.log_error(what);
        connection.log_error("\n");
    }
};

}  // namespace detail

bool started_by_fastcgi() {
    return FCGX_IsCGI() == 0;
}

int serve(int argc, char* argv[], const RequestHandler& handler, const RequestOptions& options) {
    if (started_by_fastcgi()) return detail::Server::run_fastcgi(argc, argv, handler, options);
    return detail::Server::run_cgi(argc, argv, handler, options);
}

}  // namespace cgi
