/* The copy CGI: what any program behind the web server that stores an upload must do at least.
 * It copies standard input (the whole request body) through a 64 KiB buffer into a temporary
 * file in people/, renames it onto people/upload.bin and answers with a short text page naming
 * the bytes copied and how long the process lived. Built twice: as is, and with DURABLE defined,
 * which flushes the file before the rename and the folder after it, as apply.cgi does. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(void) {
    static char buf[65536];
    double start = now();
    char temp[64];
    snprintf(temp, sizeof temp, "people/.copy-%ld", (long)getpid());
    int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    long long total = 0;
    int ok = fd >= 0;
    while (ok) {
        ssize_t n = read(0, buf, sizeof buf);
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t off = 0; ok && off < n;) {
            ssize_t w = write(fd, buf + off, (size_t)(n - off));
            ok = w > 0;
            off += w > 0 ? w : 0;
        }
        total += n;
    }
#ifdef DURABLE
    ok = ok && fdatasync(fd) == 0;
#endif
    ok = fd >= 0 && close(fd) == 0 && ok;
    ok = ok && rename(temp, "people/upload.bin") == 0;
#ifdef DURABLE
    int dir = open("people", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = ok && dir >= 0 && fsync(dir) == 0;
    if (dir >= 0) close(dir);
#endif
    if (!ok) unlink(temp);
    printf("Content-type: text/plain\n\n%s %lld bytes, lived %.6f s\n", ok ? "copied" : "FAILED",
           total, now() - start);
    return 0;
}
