/* The floor of a stored upload: copies standard input to one file (people/upload.bin in the
 * working directory) through a 64 KiB buffer with read and write, then exits. Any program that
 * stores an upload must do at least this much. Built with DURABLE, it is the durable floor: one
 * fdatasync of the file and one fsync of its folder follow, so that the copy is on stable
 * storage when the program exits, the least a store that acknowledges only what is on the disk
 * must do. */
#include <fcntl.h>
#include <unistd.h>

int main(void) {
    static char buf[65536];
    int fd = open("people/upload.bin", O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) return 1;
    for (;;) {
        ssize_t n = read(0, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) return 1;
        for (ssize_t off = 0; off < n;) {
            ssize_t w = write(fd, buf + off, (size_t)(n - off));
            if (w <= 0) return 1;
            off += w;
        }
    }
#ifdef DURABLE
    if (fdatasync(fd) != 0 || close(fd) != 0) return 1;
    int dir = open("people", O_RDONLY | O_DIRECTORY);
    if (dir < 0 || fsync(dir) != 0) return 1;
    return close(dir) == 0 ? 0 : 1;
#else
    return close(fd) == 0 ? 0 : 1;
#endif
}
