// Start-up cost of programs run as a web server runs a CGI program: each is started many times,
// interleaved in one run, as a GET without a query (stdin and stdout on /dev/null, a scratch
// working directory); prints the median wall time of each and its ratio to the first program.
//
//   startup_runner [--runs N] [--warmup N] label=program [label=program ...]
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Program {
    std::string label;
    std::string path;
    std::vector<double> micros;
};

double now_micros() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// One start of `path` to its exit, in microseconds; negative when it failed.
double time_one_run(const std::string& path) {
    static char request_method[] = "REQUEST_METHOD=GET";
    static char gateway[] = "GATEWAY_INTERFACE=CGI/1.1";
    static char script_name[] = "SCRIPT_NAME=/apply.cgi";
    char* envp[] = {request_method, gateway, script_name, nullptr};
    std::string argv0 = path;
    char* argv[] = {argv0.data(), nullptr};

    double start = now_micros();
    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        execve(path.c_str(), argv, envp);
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    double elapsed = now_micros() - start;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The start-up trace leaves one empty file per run; clear them between rounds, outside timing.
void remove_trace_files(const std::filesystem::path& dir) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().filename().string().rfind("debug_", 0) == 0) {
            std::filesystem::remove(entry.path());
        }
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    int runs = 2000;
    int warmup = 50;
    std::vector<Program> programs;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--warmup") == 0 && i + 1 < argc) {
            warmup = std::atoi(argv[++i]);
        } else if (const char* eq = std::strchr(argv[i], '=')) {
            programs.push_back({std::string(argv[i], static_cast<std::size_t>(eq - argv[i])),
                                std::filesystem::absolute(eq + 1).string(),
                                {}});
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--warmup N] label=program...\n", argv[0]);
            return 2;
        }
    }
    if (programs.empty() || runs < 1) return 2;

    std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("startup-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(scratch / "people");
    if (chdir(scratch.c_str()) != 0) return 1;

    for (int round = -warmup; round < runs; ++round) {
        // Rotate the order each round so that no program always runs right after another.
        for (std::size_t k = 0; k < programs.size(); ++k) {
            Program& program =
                programs[(k + static_cast<std::size_t>(round + warmup)) % programs.size()];
            double micros = time_one_run(program.path);
            if (micros < 0) {
                std::fprintf(stderr, "%s failed\n", program.path.c_str());
                return 1;
            }
            if (round >= 0) program.micros.push_back(micros);
        }
        if (round % 100 == 0) remove_trace_files(scratch);
    }
    std::filesystem::remove_all(scratch);

    double floor = median(programs[0].micros);
    std::printf("%-24s %12s %8s   (%d runs each, interleaved, after %d warm-up rounds)\n",
                "program", "median us", "ratio", runs, warmup);
    for (const Program& program : programs) {
        double m = median(program.micros);
        std::printf("%-24s %12.1f %8.2f\n", program.label.c_str(), m, m / floor);
    }
    return 0;
}
