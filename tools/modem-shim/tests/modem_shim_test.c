/*
 * Checks the modem-line shim from a program run with it preloaded (built
 * once for each word size): the lines of a pty are kept and reported, every
 * request that sets them is logged, and every other call reaches the system
 * unchanged.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

int ioctl_as_wine(int fd, unsigned long request, void *arg);

static int failures;
static int passes;

#define CHECK(condition, ...)                                   \
    do {                                                        \
        if (condition) {                                        \
            ++passes;                                           \
        } else {                                                \
            ++failures;                                         \
            fprintf(stderr, "FAILED line %d: ", __LINE__);      \
            fprintf(stderr, __VA_ARGS__);                       \
            fputc('\n', stderr);                                \
        }                                                       \
    } while (0)

struct pty {
    int master;
    int slave;
};

static struct pty open_pty(void)
{
    struct pty p = {-1, -1};
    p.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (p.master < 0 || grantpt(p.master) != 0 || unlockpt(p.master) != 0) {
        perror("posix_openpt");
        exit(2);
    }
    p.slave = open(ptsname(p.master), O_RDWR | O_NOCTTY);
    if (p.slave < 0) {
        perror("open slave");
        exit(2);
    }
    return p;
}

static int lines_of(int fd)
{
    int bits = -1;
    if (ioctl(fd, TIOCMGET, &bits) != 0)
        return -1;
    return bits;
}

static unsigned long long monotonic_ms(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (unsigned long long)now.tv_sec * 1000ull + (unsigned long long)now.tv_nsec / 1000000ull;
}

/* The last line of the log, without its newline. */
static void last_log_line(const char *path, char *line, size_t size)
{
    line[0] = '\0';
    FILE *file = fopen(path, "r");
    if (!file)
        return;
    char current[128];
    while (fgets(current, sizeof current, file)) {
        current[strcspn(current, "\n")] = '\0';
        snprintf(line, size, "%s", current);
    }
    fclose(file);
}

static int log_line_count(const char *path)
{
    FILE *file = fopen(path, "r");
    if (!file)
        return 0;
    int count = 0;
    for (int c; (c = fgetc(file)) != EOF;)
        count += c == '\n';
    fclose(file);
    return count;
}

/* The log's last line reads "<ms> RTS=<rts> DTR=<dtr> pty=<n>" with ms between the bounds. */
static void check_logged(const char *path, int rts, int dtr, unsigned long long from, unsigned long long to)
{
    char line[128];
    last_log_line(path, line, sizeof line);
    unsigned long long ms = 0;
    int logged_rts = -1, logged_dtr = -1;
    unsigned pty = 0;
    char tail = 0;
    int fields = sscanf(line, "%llu RTS=%d DTR=%d pty=%u%c", &ms, &logged_rts, &logged_dtr, &pty, &tail);
    CHECK(fields == 4 && logged_rts == rts && logged_dtr == dtr, "log line '%s', expected RTS=%d DTR=%d pty=N",
          line, rts, dtr);
    CHECK(ms >= from && ms <= to, "log time %llu outside %llu..%llu", ms, from, to);
}

int main(void)
{
    char log_path[] = "/tmp/quill-modem-shim-test-XXXXXX";
    int log_fd = mkstemp(log_path);
    if (log_fd < 0) {
        perror("mkstemp");
        return 2;
    }
    close(log_fd);
    setenv("QUILL_MODEM_LOG", log_path, 1);

    struct pty a = open_pty();
    int bits = lines_of(a.slave);
    CHECK(bits >= 0 && (bits & TIOCM_RTS) && (bits & TIOCM_DTR), "a new line has RTS and DTR raised (got %d)", bits);
    CHECK(log_line_count(log_path) == 0, "reading the lines logs nothing");

    unsigned long long before = monotonic_ms();
    int rts = TIOCM_RTS;
    CHECK(ioctl(a.slave, TIOCMBIC, &rts) == 0, "clearing RTS succeeds");
    bits = lines_of(a.slave);
    CHECK(!(bits & TIOCM_RTS) && (bits & TIOCM_DTR), "RTS low, DTR high after clearing RTS (got %d)", bits);
    check_logged(log_path, 0, 1, before, monotonic_ms());

    CHECK(ioctl_as_wine(a.slave, TIOCMBIS, &rts) == 0, "raising RTS through the 64-bit-time entry succeeds");
    bits = -1;
    CHECK(ioctl_as_wine(a.slave, TIOCMGET, &bits) == 0 && (bits & TIOCM_RTS), "RTS high again (got %d)", bits);
    check_logged(log_path, 1, 1, before, monotonic_ms());

    int none = 0;
    CHECK(ioctl(a.slave, TIOCMSET, &none) == 0, "setting all lines succeeds");
    bits = lines_of(a.slave);
    CHECK(!(bits & (TIOCM_RTS | TIOCM_DTR)) && (bits & TIOCM_CTS), "outputs low, inputs kept (got %d)", bits);
    check_logged(log_path, 0, 0, before, monotonic_ms());
    CHECK(log_line_count(log_path) == 3, "one log line per setting request (got %d)", log_line_count(log_path));

    int second = open(ptsname(a.master), O_RDWR | O_NOCTTY);
    CHECK(second >= 0 && lines_of(second) == bits, "another descriptor of the same pty sees the same lines");

    struct pty b = open_pty();
    bits = lines_of(b.slave);
    CHECK((bits & TIOCM_RTS) && (bits & TIOCM_DTR), "another pty keeps its own lines (got %d)", bits);

    int pipe_fds[2];
    CHECK(pipe(pipe_fds) == 0, "pipe");
    errno = 0;
    CHECK(ioctl(pipe_fds[0], TIOCMGET, &bits) == -1 && errno == ENOTTY,
          "a non-pty descriptor gets the system's answer (errno %d)", errno);

    struct termios raw;
    CHECK(tcgetattr(a.slave, &raw) == 0, "reading the line settings passes through");
    cfmakeraw(&raw);
    CHECK(tcsetattr(a.slave, TCSANOW, &raw) == 0, "setting the line settings passes through");
    int queued = -1;
    CHECK(write(a.master, "ab", 2) == 2, "write to master");
    usleep(20000);
    CHECK(ioctl(a.slave, FIONREAD, &queued) == 0 && queued == 2, "other requests pass through (queued %d)", queued);

    close(second);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    unlink(log_path);
    printf("%d passed, %d failed\n", passes, failures);
    return failures == 0 ? 0 : 1;
}
