// A FastCGI application for the persistent-mode tests: answers each request with what its request
// object saw and what the process holds, so that a test can tell whether anything of one request
// reached the next. Runs with the original design's options (an unreadable body ends the request),
// and writes its header before the first lookup, as apply.cgi does.
//   ?do=cookie&v=X  sets the cookie c=X      ?do=fatal  ends the request with fatal_printf
//   ?do=throw       throws out of the handler (the library answers 500)
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "cgi/cgi_request.h"
#include "cgi/serve.h"

namespace {

int open_descriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
        closedir(dir);
    }
    return count - 1;  // the directory's own
}

long resident_kib() {
    long kib = -1;
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            if (std::sscanf(line, "VmRSS: %ld", &kib) == 1) break;
        }
        std::fclose(status);
    }
    return kib;
}

int answer(cgi::CgiRequest& request) {
    const std::string action = request.query_value("do").value_or("");
    if (action == "throw") throw std::runtime_error("the probe was asked to fail");
    const bool header_before = request.header_sent();
    if (action == "cookie") request.SetCookie("c", request.query_value("v").value_or("").c_str());
    request.set_content_type("text/plain");
    request.print_header();
    request.spool_uploads_in(".");
    // The first lookup: an unreadable body ends the request here.
    request.collect_pairs();
    if (action == "fatal") request.fatal_printf("fatal\n");
    request.print("pid %d\nheader before %d\npairs %d:", static_cast<int>(getpid()),
                  header_before, request.pair_count());
    for (std::int32_t i = 0; i < request.pair_count() && i < 8; ++i) {
        cgi::FormPair* pair = request.pair_at(i);
        request.print(" %s=%d%s", pair->name, static_cast<int>(pair->value_len),
                      pair->file() >= 0 ? "(spooled)" : "");
    }
    request.print("\ncookie %s\ntruncated %d\nincomplete %d\nfds %d\nrss %ld\n",
                  request.cookie("c").value_or("-").c_str(), static_cast<int>(request.truncated()),
                  static_cast<int>(request.body_incomplete()), open_descriptors(), resident_kib());
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    return cgi::serve(argc, argv, answer, cgi::RequestOptions::as_designed());
}
