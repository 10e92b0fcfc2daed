/* A reference for designs that hold the body whole: reads all of standard input (CONTENT_LENGTH
 * bytes) into one buffer, then writes it to one file (people/upload.bin) with one write loop.
 * With the argument "huge" the buffer is 2 MiB-aligned and advised for transparent huge pages. */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

int main(int argc, char** argv) {
    const char* cl = getenv("CONTENT_LENGTH");
    size_t len = cl ? strtoul(cl, NULL, 10) : 0;
    size_t huge = (size_t)2 << 20;
    char* buf;
    if (argc > 1 && strcmp(argv[1], "huge") == 0) {
        size_t rounded = (len + huge - 1) / huge * huge;
        buf = aligned_alloc(huge, rounded ? rounded : huge);
        if (buf) madvise(buf, rounded, MADV_HUGEPAGE);
    } else {
        buf = malloc(len ? len : 1);
    }
    if (!buf) return 1;
    size_t got = 0;
    while (got < len) {
        ssize_t n = read(0, buf + got, len - got);
        if (n <= 0) return 1;
        got += (size_t)n;
    }
    int fd = open("people/upload.bin", O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) return 1;
    for (size_t off = 0; off < got;) {
        ssize_t w = write(fd, buf + off, got - off);
        if (w <= 0) return 1;
        off += (size_t)w;
    }
    free(buf);
    return close(fd) == 0 ? 0 : 1;
}
