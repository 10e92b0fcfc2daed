/* The durable floor of a stored upload: the copy floor (standard input to people/upload.bin
 * through a 64 KiB buffer), then one fdatasync of the file and one fsync of its folder, so that
 * the copy is on stable storage when the program exits. A store that acknowledges only what is
 * on the disk must do at least this much. */
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
    if (fdatasync(fd) != 0 || close(fd) != 0) return 1;
    int dir = open("people", O_RDONLY | O_DIRECTORY);
    if (dir < 0 || fsync(dir) != 0) return 1;
    return close(dir) == 0 ? 0 : 1;
}
