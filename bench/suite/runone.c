/* Runs one program once as a web server runs a CGI program, and measures it.
 *
 *   runone [-p] -d DIR -i STDIN -o STDOUT [-e NAME=VALUE]... -- PROGRAM [ARG]...
 *
 * The child gets a clean environment (only the -e pairs), DIR as its working directory, the file
 * STDIN on standard input and the file STDOUT (created, truncated) on standard output; standard
 * error goes to STDOUT.err. With -p standard input is a pipe instead, fed from STDIN by a second
 * process in 64 KiB writes, as a web server feeds a request body it holds. One line is printed on
 * standard output:
 *
 *   WALL_SECONDS USER_SECONDS SYS_SECONDS MAX_RSS_KIB EXIT_STATUS
 *
 * Wall time runs from just before fork to the return of wait4. MAX_RSS_KIB is wait4's ru_maxrss,
 * the figure GNU time prints for %M. EXIT_STATUS is 128 + the signal for a killed child. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { MAX_ENV = 64 };

static void usage(void) {
    fputs("usage: runone [-p] -d DIR -i STDIN -o STDOUT [-e NAME=VALUE]... -- PROGRAM [ARG]...\n",
          stderr);
    exit(2);
}

static double seconds(struct timeval tv) {
    return (double)tv.tv_sec + (double)tv.tv_usec / 1e6;
}

int main(int argc, char** argv) {
    const char *dir = NULL, *in = NULL, *out = NULL;
    char* env[MAX_ENV + 1];
    int n_env = 0, opt, use_pipe = 0;
    while ((opt = getopt(argc, argv, "+pd:i:o:e:")) != -1) {
        switch (opt) {
            case 'p':
                use_pipe = 1;
                break;
            case 'd':
                dir = optarg;
                break;
            case 'i':
                in = optarg;
                break;
            case 'o':
                out = optarg;
                break;
            case 'e':
                if (n_env == MAX_ENV) usage();
                env[n_env++] = optarg;
                break;
            default:
                usage();
        }
    }
    if (!dir || !in || !out || optind >= argc) usage();
    env[n_env] = NULL;

    /* Open everything before the clock starts: the server has the request ready, too. */
    int in_fd = open(in, O_RDONLY | O_CLOEXEC);
    int out_fd = open(out, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    char err_path[4096];
    snprintf(err_path, sizeof err_path, "%s.err", out);
    int err_fd = open(err_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in_fd < 0 || out_fd < 0 || err_fd < 0) {
        perror("runone: open");
        return 2;
    }

    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    pid_t feeder = -1;
    if (use_pipe) {
        int p[2];
        if (pipe2(p, O_CLOEXEC) != 0) {
            perror("runone: pipe");
            return 2;
        }
        feeder = fork();
        if (feeder < 0) {
            perror("runone: fork");
            return 2;
        }
        if (feeder == 0) {
            static char buf[65536];
            signal(SIGPIPE, SIG_IGN);
            close(p[0]);
            for (;;) {
                ssize_t n = read(in_fd, buf, sizeof buf);
                if (n <= 0) _exit(n == 0 ? 0 : 1);
                for (ssize_t off = 0; off < n;) {
                    ssize_t w = write(p[1], buf + off, (size_t)(n - off));
                    if (w <= 0) _exit(0); /* the program stopped reading */
                    off += w;
                }
            }
        }
        close(p[1]);
        close(in_fd);
        in_fd = p[0];
    }
    pid_t pid = fork();
    if (pid < 0) {
        perror("runone: fork");
        return 2;
    }
    if (pid == 0) {
        if (chdir(dir) != 0 || dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0)
            _exit(126);
        execve(argv[optind], argv + optind, env);
        dprintf(2, "runone: exec %s: %s\n", argv[optind], strerror(errno));
        _exit(127);
    }
    int status;
    struct rusage ru;
    while (wait4(pid, &status, 0, &ru) < 0) {
        if (errno != EINTR) {
            perror("runone: wait4");
            return 2;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);
    if (feeder > 0) {
        close(in_fd);
        waitpid(feeder, NULL, 0);
    }

    double wall = (double)(t1.tv_sec - t0.tv_sec) + (double)(t1.tv_nsec - t0.tv_nsec) / 1e9;
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    printf("%.6f %.6f %.6f %ld %d\n", wall, seconds(ru.ru_utime), seconds(ru.ru_stime),
           ru.ru_maxrss, code);
    return 0;
}
